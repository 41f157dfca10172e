// Kernel-streaming records of the platform (ks.h): identifiers, data formats,
// property and event tables, stream headers and the well-known KS GUIDs.
#pragma once

#if defined(KORVAL_WIN32)
#include "platform/win32/Win32Platform.h"
#else

#include "platform/NtTypes.h"
#include "platform/Pool.h"

struct _IRP;
struct _FILE_OBJECT;

typedef enum {
    KSSTATE_STOP,
    KSSTATE_ACQUIRE,
    KSSTATE_PAUSE,
    KSSTATE_RUN
} KSSTATE, *PKSSTATE;
static_assert(sizeof(KSSTATE) == 4);

// Property, method and event requests all start with this identifier.
typedef struct {
    union {
        struct {
            GUID Set;
            ULONG Id;
            ULONG Flags;
        };
        LONGLONG Alignment;
    };
} KSIDENTIFIER, *PKSIDENTIFIER;
static_assert(sizeof(KSIDENTIFIER) == 24);

typedef KSIDENTIFIER KSPROPERTY, *PKSPROPERTY, KSMETHOD, *PKSMETHOD, KSEVENT, *PKSEVENT;
typedef KSIDENTIFIER KSPIN_MEDIUM, *PKSPIN_MEDIUM, KSPIN_INTERFACE, *PKSPIN_INTERFACE;

#define KSPROPERTY_TYPE_GET            0x00000001
#define KSPROPERTY_TYPE_SET            0x00000002
#define KSPROPERTY_TYPE_SETSUPPORT     0x00000100
#define KSPROPERTY_TYPE_BASICSUPPORT   0x00000200
#define KSPROPERTY_TYPE_RELATIONS      0x00000400
#define KSPROPERTY_TYPE_DEFAULTVALUES  0x00010000
#define KSPROPERTY_TYPE_TOPOLOGY       0x10000000

typedef struct {
    ULONG Size;
    ULONG Count;
} KSMULTIPLE_ITEM, *PKSMULTIPLE_ITEM;
static_assert(sizeof(KSMULTIPLE_ITEM) == 8);

typedef struct {
    ULONG AccessFlags;
    ULONG DescriptionSize;
    KSIDENTIFIER PropTypeSet;
    ULONG MembersListCount;
    ULONG Reserved;
} KSPROPERTY_DESCRIPTION, *PKSPROPERTY_DESCRIPTION;
static_assert(sizeof(KSPROPERTY_DESCRIPTION) == 40);

#define KSPROPERTY_MEMBER_RANGES         0x00000001
#define KSPROPERTY_MEMBER_STEPPEDRANGES  0x00000002
#define KSPROPERTY_MEMBER_VALUES         0x00000003
#define KSPROPERTY_MEMBER_FLAG_DEFAULT   0x00000001

typedef struct {
    ULONG MembersFlags;
    ULONG MembersSize;
    ULONG MembersCount;
    ULONG Flags;
} KSPROPERTY_MEMBERSHEADER, *PKSPROPERTY_MEMBERSHEADER;
static_assert(sizeof(KSPROPERTY_MEMBERSHEADER) == 16);

typedef union {
    struct {
        LONG SignedMinimum;
        LONG SignedMaximum;
    };
    struct {
        ULONG UnsignedMinimum;
        ULONG UnsignedMaximum;
    };
} KSPROPERTY_BOUNDS_LONG, *PKSPROPERTY_BOUNDS_LONG;
static_assert(sizeof(KSPROPERTY_BOUNDS_LONG) == 8);

typedef struct {
    ULONG SteppingDelta;
    ULONG Reserved;
    KSPROPERTY_BOUNDS_LONG Bounds;
} KSPROPERTY_STEPPING_LONG, *PKSPROPERTY_STEPPING_LONG;
static_assert(sizeof(KSPROPERTY_STEPPING_LONG) == 16);

// Property, method and event handlers of the KS dispatch tables. Stream-class
// minidrivers leave them null and only mark an item as supported.
typedef NTSTATUS (*PFNKSHANDLER)(struct _IRP* Irp, PKSIDENTIFIER Request, PVOID Data);

typedef struct {
    KSPROPERTY_MEMBERSHEADER MembersHeader;
    const VOID* Members;
} KSPROPERTY_MEMBERSLIST, *PKSPROPERTY_MEMBERSLIST;

typedef struct {
    KSIDENTIFIER PropTypeSet;
    ULONG MembersListCount;
    const KSPROPERTY_MEMBERSLIST* MembersList;
} KSPROPERTY_VALUES, *PKSPROPERTY_VALUES;

typedef struct {
    ULONG PropertyId;
    union {
        PFNKSHANDLER GetPropertyHandler;
        BOOLEAN GetSupported;
    };
    ULONG MinProperty;
    ULONG MinData;
    union {
        PFNKSHANDLER SetPropertyHandler;
        BOOLEAN SetSupported;
    };
    const KSPROPERTY_VALUES* Values;
    ULONG RelationsCount;
    const KSPROPERTY* Relations;
    PFNKSHANDLER SupportHandler;
    ULONG SerializedSize;
} KSPROPERTY_ITEM, *PKSPROPERTY_ITEM;

typedef struct {
    ULONG PropertyId;
    PVOID GetPropertyHandler;
    PVOID SetPropertyHandler;
    ULONG Reserved;
} KSFASTPROPERTY_ITEM, *PKSFASTPROPERTY_ITEM;

typedef struct {
    const GUID* Set;
    ULONG PropertiesCount;
    const KSPROPERTY_ITEM* PropertyItem;
    ULONG FastIoCount;
    const KSFASTPROPERTY_ITEM* FastIoTable;
} KSPROPERTY_SET, *PKSPROPERTY_SET;

typedef struct {
    ULONG MethodId;
    union {
        PFNKSHANDLER MethodHandler;
        BOOLEAN MethodSupported;
    };
    ULONG MinMethod;
    ULONG MinData;
    PFNKSHANDLER SupportHandler;
    ULONG Flags;
} KSMETHOD_ITEM, *PKSMETHOD_ITEM;

typedef struct {
    const GUID* Set;
    ULONG MethodsCount;
    const KSMETHOD_ITEM* MethodItem;
    ULONG FastIoCount;
    const VOID* FastIoTable;
} KSMETHOD_SET, *PKSMETHOD_SET;

// Tables as minidrivers write them; a handler of TRUE marks an item supported.
#define DEFINE_KSPROPERTY_TABLE(tablename) const KSPROPERTY_ITEM tablename[] =
#define DEFINE_KSPROPERTY_ITEM(PropertyId, GetHandler, MinProperty, MinData, SetHandler, Values, RelationsCount, \
                               Relations, SupportHandler, SerializedSize)                                    \
    {                                                                                                      \
        (ULONG)(PropertyId), {(PFNKSHANDLER)(GetHandler)}, (ULONG)(MinProperty), (ULONG)(MinData),           \
            {(PFNKSHANDLER)(SetHandler)}, (const KSPROPERTY_VALUES*)(Values), (ULONG)(RelationsCount),      \
            (const KSPROPERTY*)(Relations), (PFNKSHANDLER)(SupportHandler), (ULONG)(SerializedSize)         \
    }
#define DEFINE_KSPROPERTY_SET_TABLE(tablename) const KSPROPERTY_SET tablename[] =
#define DEFINE_KSPROPERTY_SET(Set, PropertiesCount, PropertyItem, FastIoCount, FastIoTable) \
    {                                                                                       \
        (Set), (ULONG)(PropertiesCount), (PropertyItem), (ULONG)(FastIoCount), (FastIoTable) \
    }

// How a client asked to be told of an event.
#define KSEVENTF_EVENT_HANDLE      0x00000001
#define KSEVENTF_SEMAPHORE_HANDLE  0x00000002
#define KSEVENTF_EVENT_OBJECT      0x00000004
#define KSEVENTF_SEMAPHORE_OBJECT  0x00000008
#define KSEVENTF_DPC               0x00000010
#define KSEVENTF_WORKITEM          0x00000020
#define KSEVENTF_KSWORKITEM        0x00000080

typedef struct {
    ULONG NotificationType;
    union {
        struct {
            HANDLE Event;
            ULONG_PTR Reserved[2];
        } EventHandle;
        struct {
            HANDLE Semaphore;
            ULONG Reserved;
            LONG Adjustment;
        } SemaphoreHandle;
        struct {
            PVOID Event;
            LONG Increment;
            ULONG_PTR Reserved;
        } EventObject;
        struct {
            PVOID Unused;
            LONG_PTR Alignment[2];
        } Alignment;
    };
} KSEVENTDATA, *PKSEVENTDATA;

typedef struct _KSEVENT_ENTRY KSEVENT_ENTRY, *PKSEVENT_ENTRY;
typedef NTSTATUS (*PFNKSADDEVENT)(struct _IRP* Irp, PKSEVENTDATA EventData, struct _KSEVENT_ENTRY* EventEntry);
typedef VOID (*PFNKSREMOVEEVENT)(struct _FILE_OBJECT* FileObject, struct _KSEVENT_ENTRY* EventEntry);

typedef struct {
    ULONG EventId;
    ULONG DataInput;
    ULONG ExtraEntryData;
    PFNKSADDEVENT AddHandler;
    PFNKSREMOVEEVENT RemoveHandler;
    PFNKSHANDLER SupportHandler;
} KSEVENT_ITEM, *PKSEVENT_ITEM;

typedef struct {
    const GUID* Set;
    ULONG EventsCount;
    const KSEVENT_ITEM* EventItem;
} KSEVENT_SET, *PKSEVENT_SET;

#define DEFINE_KSEVENT_TABLE(tablename) const KSEVENT_ITEM tablename[] =
#define DEFINE_KSEVENT_ITEM(EventId, DataInput, ExtraEntryData, AddHandler, RemoveHandler, SupportHandler) \
    {                                                                                                       \
        (ULONG)(EventId), (ULONG)(DataInput), (ULONG)(ExtraEntryData), (PFNKSADDEVENT)(AddHandler),          \
            (PFNKSREMOVEEVENT)(RemoveHandler), (PFNKSHANDLER)(SupportHandler)                                \
    }
#define DEFINE_KSEVENT_SET_TABLE(tablename) const KSEVENT_SET tablename[] =
#define DEFINE_KSEVENT_SET(Set, EventsCount, EventItem) \
    {                                                   \
        (Set), (ULONG)(EventsCount), (EventItem)        \
    }

#define SIZEOF_ARRAY(array) (sizeof(array) / sizeof((array)[0]))

// One enabled event, owned by the class; minidrivers only pass it back.
struct _KSEVENT_ENTRY {
    LIST_ENTRY ListEntry;
    PVOID Object;
    PVOID DpcItem;
    PKSEVENTDATA EventData;
    ULONG NotificationType;
    const KSEVENT_SET* EventSet;
    const KSEVENT_ITEM* EventItem;
    struct _FILE_OBJECT* FileObject;
    ULONG SemaphoreAdjustment;
    ULONG Reserved;
    ULONG Flags;
};

typedef struct {
    ULONG FromNode;
    ULONG FromNodePin;
    ULONG ToNode;
    ULONG ToNodePin;
} KSTOPOLOGY_CONNECTION, *PKSTOPOLOGY_CONNECTION;
static_assert(sizeof(KSTOPOLOGY_CONNECTION) == 16);

typedef struct {
    ULONG CategoriesCount;
    const GUID* Categories;
    ULONG TopologyNodesCount;
    const GUID* TopologyNodes;
    ULONG TopologyConnectionsCount;
    const KSTOPOLOGY_CONNECTION* TopologyConnections;
    const GUID* TopologyNodesNames;
    ULONG Reserved;
} KSTOPOLOGY, *PKSTOPOLOGY;

typedef enum {
    KSPIN_DATAFLOW_IN = 1,
    KSPIN_DATAFLOW_OUT
} KSPIN_DATAFLOW, *PKSPIN_DATAFLOW;

#define KSDATAFORMAT_TEMPORAL_COMPRESSION 0x00000001
#define KSDATAFORMAT_ATTRIBUTES           0x00000002

// A format (or a range of formats, same header): its FormatSize covers the
// specifier-dependent record that follows it.
typedef union {
    struct {
        ULONG FormatSize;
        ULONG Flags;
        ULONG SampleSize;
        ULONG Reserved;
        GUID MajorFormat;
        GUID SubFormat;
        GUID Specifier;
    };
    LONGLONG Alignment;
} KSDATAFORMAT, *PKSDATAFORMAT, KSDATARANGE, *PKSDATARANGE;
static_assert(sizeof(KSDATAFORMAT) == 64);

typedef enum {
    KSPROPERTY_CONNECTION_STATE,
    KSPROPERTY_CONNECTION_PRIORITY,
    KSPROPERTY_CONNECTION_DATAFORMAT,
    KSPROPERTY_CONNECTION_ALLOCATORFRAMING,
    KSPROPERTY_CONNECTION_PROPOSEDATAFORMAT,
    KSPROPERTY_CONNECTION_ACQUIREORDERING,
    KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX,
    KSPROPERTY_CONNECTION_STARTAT
} KSPROPERTY_CONNECTION;

#define KSALLOCATOR_REQUIREMENTF_INPLACE_MODIFIER  0x00000001
#define KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY     0x00000002
#define KSALLOCATOR_REQUIREMENTF_FRAME_INTEGRITY   0x00000004
#define KSALLOCATOR_REQUIREMENTF_MUST_ALLOCATE     0x00000008
#define KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY  0x80000000

typedef struct {
    union {
        ULONG OptionsFlags;
        ULONG RequirementsFlags;
    };
    POOL_TYPE PoolType;
    ULONG Frames;
    ULONG FrameSize;
    ULONG FileAlignment;
    ULONG Reserved;
} KSALLOCATOR_FRAMING, *PKSALLOCATOR_FRAMING;
static_assert(sizeof(KSALLOCATOR_FRAMING) == 24);

typedef struct {
    LONGLONG Time;
    ULONG Numerator;
    ULONG Denominator;
} KSTIME, *PKSTIME;
static_assert(sizeof(KSTIME) == 16);

#define KSSTREAM_HEADER_OPTIONSF_SPLICEPOINT          0x00000001
#define KSSTREAM_HEADER_OPTIONSF_PREROLL              0x00000002
#define KSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY    0x00000004
#define KSSTREAM_HEADER_OPTIONSF_TYPECHANGED          0x00000008
#define KSSTREAM_HEADER_OPTIONSF_TIMEVALID            0x00000010
#define KSSTREAM_HEADER_OPTIONSF_TIMEDISCONTINUITY    0x00000040
#define KSSTREAM_HEADER_OPTIONSF_FLUSHONPAUSE         0x00000080
#define KSSTREAM_HEADER_OPTIONSF_DURATIONVALID        0x00000100
#define KSSTREAM_HEADER_OPTIONSF_ENDOFSTREAM          0x00000200

// The header of one stream buffer; the stream's media-specific record (for
// video a KS_FRAME_INFO) follows it directly in memory.
typedef struct {
    ULONG Size;
    ULONG TypeSpecificFlags;
    KSTIME PresentationTime;
    LONGLONG Duration;
    ULONG FrameExtent;
    ULONG DataUsed;
    PVOID Data;
    ULONG OptionsFlags;
#if UINTPTR_MAX > 0xFFFFFFFFu
    ULONG Reserved;
#endif
} KSSTREAM_HEADER, *PKSSTREAM_HEADER;
static_assert(sizeof(KSSTREAM_HEADER) == (sizeof(PVOID) == 8 ? 56 : 48));

typedef enum {
    KSEVENTS_NONE,
    KSEVENTS_SPINLOCK,
    KSEVENTS_MUTEX,
    KSEVENTS_FMUTEX,
    KSEVENTS_FMUTEXUNSAFE,
    KSEVENTS_INTERRUPT,
    KSEVENTS_ERESOURCE
} KSEVENTS_LOCKTYPE;

// Well-known kernel-streaming GUIDs.
inline constexpr GUID KSCATEGORY_CAPTURE =
    {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSMEDIUMSETID_Standard =
    {0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSPROPSETID_Connection =
    {0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSDATAFORMAT_TYPE_STREAM =
    {0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_NONE =
    {0xE436EB8E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_NONE =
    {0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSDATAFORMAT_TYPE_WILDCARD =
    {0x00000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
// A data range field that accepts any value.
inline constexpr GUID KSDATAFORMAT_SUBTYPE_WILDCARD =
    {0x00000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_WILDCARD =
    {0x00000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
// Type set of the values and ranges that property items publish.
inline constexpr GUID KSPROPTYPESETID_General =
    {0x97E99BA0, 0xBDEA, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
// The variant type of a 32-bit signed property value (wtypes.h).
#ifndef VT_I4
#define VT_I4 3
#endif

#endif // KORVAL_WIN32
