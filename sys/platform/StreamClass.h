// Stream class interface of the platform (stream.sys, strmini.h): the
// registration record, stream request blocks (SRBs), stream descriptors, the
// notification calls and the master clock query. Records with pointers follow
// the pointer width of the build; the 32-bit sizes of the driver's own platform
// are checked at the end of this file.
#pragma once

#if defined(KORVAL_WIN32)
#include "platform/win32/Win32Platform.h"
#else

#include "platform/NtTypes.h"
#include "platform/Kernel.h"
#include "platform/Ks.h"
#include "platform/KsMedia.h"

#ifndef STREAMAPI
#define STREAMAPI NTAPI
#endif

struct _KINTERRUPT;
struct _ADAPTER_OBJECT;
typedef struct _KINTERRUPT* PKINTERRUPT;
typedef struct _ADAPTER_OBJECT* PADAPTER_OBJECT;

// The notifications use the C calling convention, as on the real platform.
#if defined(_WIN32)
#define STREAMCDECL __cdecl
#else
#define STREAMCDECL KORVAL_IMAGE_ENTRY
#endif

#ifndef KORVAL_INTERFACE_TYPE_DECLARED
#define KORVAL_INTERFACE_TYPE_DECLARED
typedef enum _INTERFACE_TYPE {
    InterfaceTypeUndefined = -1,
    Internal,
    Isa,
    Eisa,
    MicroChannel,
    TurboChannel,
    PCIBus,
    VMEBus,
    NuBus,
    PCMCIABus,
    CBus,
    MPIBus,
    MPSABus,
    ProcessorInternal,
    InternalPowerBus,
    PNPISABus,
    PNPBus,
    MaximumInterfaceType
} INTERFACE_TYPE, *PINTERFACE_TYPE;

typedef enum _KINTERRUPT_MODE {
    LevelSensitive,
    Latched
} KINTERRUPT_MODE;
#endif

#ifndef STATUS_REVISION_MISMATCH
#define STATUS_REVISION_MISMATCH ((NTSTATUS)0xC0000059L)
#endif
#ifndef STATUS_IO_DEVICE_ERROR
#define STATUS_IO_DEVICE_ERROR ((NTSTATUS)0xC0000185L)
#endif
#ifndef STATUS_NO_MATCH
#define STATUS_NO_MATCH ((NTSTATUS)0xC0000272L)
#endif
#ifndef STATUS_NO_DATA_DETECTED
#define STATUS_NO_DATA_DETECTED ((NTSTATUS)0x80000022L)
#endif

typedef LARGE_INTEGER STREAM_PHYSICAL_ADDRESS, *PSTREAM_PHYSICAL_ADDRESS;
typedef ULONGLONG STREAM_SYSTEM_TIME, *PSTREAM_SYSTEM_TIME;
typedef ULONGLONG STREAM_TIMESTAMP, *PSTREAM_TIMESTAMP;

// ---------------------------------------------------------------------------
// Time

typedef enum {
    TIME_GET_STREAM_TIME,
    TIME_READ_ONBOARD_CLOCK,
    TIME_SET_ONBOARD_CLOCK
} TIME_FUNCTION;

struct _HW_DEVICE_EXTENSION;
struct _HW_STREAM_OBJECT;
struct _HW_STREAM_REQUEST_BLOCK;

// A clock query: the minidriver names the device and stream, the class fills
// Time (100-ns units of the function asked) and SystemTime.
typedef struct _HW_TIME_CONTEXT {
    struct _HW_DEVICE_EXTENSION* HwDeviceExtension;
    struct _HW_STREAM_OBJECT* HwStreamObject;
    TIME_FUNCTION Function;
    ULONGLONG Time;
    ULONGLONG SystemTime;
} HW_TIME_CONTEXT, *PHW_TIME_CONTEXT;

typedef struct _STREAM_TIME_REFERENCE {
    STREAM_TIMESTAMP CurrentOnboardClockValue;
    LARGE_INTEGER OnboardClockFrequency;
    LARGE_INTEGER CurrentSystemTime;
    ULONG Reserved[2];
} STREAM_TIME_REFERENCE, *PSTREAM_TIME_REFERENCE;
static_assert(sizeof(STREAM_TIME_REFERENCE) == 32);

// ---------------------------------------------------------------------------
// Events

// Handed to the event routine when a client enables (Enable TRUE) or
// disables an event of a set the minidriver published.
typedef struct _HW_EVENT_DESCRIPTOR {
    BOOLEAN Enable;
    PKSEVENT_ENTRY EventEntry;
    PKSEVENTDATA EventData;
    union {
        struct _HW_STREAM_OBJECT* StreamObject;
        struct _HW_DEVICE_EXTENSION* DeviceExtension;
    };
    ULONG EnableEventSetIndex;
    PVOID HwInstanceExtension;
    ULONG Reserved;
} HW_EVENT_DESCRIPTOR, *PHW_EVENT_DESCRIPTOR;

typedef VOID(STREAMAPI* PHW_RECEIVE_STREAM_DATA_SRB)(struct _HW_STREAM_REQUEST_BLOCK* SRB);
typedef VOID(STREAMAPI* PHW_RECEIVE_STREAM_CONTROL_SRB)(struct _HW_STREAM_REQUEST_BLOCK* SRB);
typedef NTSTATUS(STREAMAPI* PHW_EVENT_ROUTINE)(PHW_EVENT_DESCRIPTOR EventDescriptor);
typedef VOID(STREAMAPI* PHW_CLOCK_FUNCTION)(PHW_TIME_CONTEXT HwTimeContext);

typedef struct _HW_CLOCK_OBJECT {
    PHW_CLOCK_FUNCTION HwClockFunction;
    ULONG ClockSupportFlags;
    ULONG Reserved[2];
} HW_CLOCK_OBJECT, *PHW_CLOCK_OBJECT;

#define CLOCK_SUPPORT_CAN_SET_ONBOARD_CLOCK  0x1
#define CLOCK_SUPPORT_CAN_READ_ONBOARD_CLOCK 0x2
#define CLOCK_SUPPORT_CAN_RETURN_STREAM_TIME 0x4

// ---------------------------------------------------------------------------
// Streams and their description

// One open stream. The class fills StreamNumber, HwStreamExtension and
// HwDeviceExtension before SRB_OPEN_STREAM; the minidriver fills the rest.
typedef struct _HW_STREAM_OBJECT {
    ULONG SizeOfThisPacket;
    ULONG StreamNumber;
    PVOID HwStreamExtension;
    PHW_RECEIVE_STREAM_DATA_SRB ReceiveDataPacket;
    PHW_RECEIVE_STREAM_CONTROL_SRB ReceiveControlPacket;
    HW_CLOCK_OBJECT HwClockObject;
    BOOLEAN Dma;
    BOOLEAN Pio;
    PVOID HwDeviceExtension;
    ULONG StreamHeaderMediaSpecific;
    ULONG StreamHeaderWorkspace;
    BOOLEAN Allocator;
    PHW_EVENT_ROUTINE HwEventRoutine;
    ULONG Reserved[2];
} HW_STREAM_OBJECT, *PHW_STREAM_OBJECT;

typedef struct _HW_STREAM_HEADER {
    ULONG NumberOfStreams;
    ULONG SizeOfHwStreamInformation;
    ULONG NumDevPropArrayEntries;
    PKSPROPERTY_SET DevicePropertiesArray;
    ULONG NumDevEventArrayEntries;
    PKSEVENT_SET DeviceEventsArray;
    PKSTOPOLOGY Topology;
    PHW_EVENT_ROUTINE DeviceEventRoutine;
    LONG NumDevMethodArrayEntries;
    PKSMETHOD_SET DeviceMethodsArray;
} HW_STREAM_HEADER, *PHW_STREAM_HEADER;

typedef struct _HW_STREAM_INFORMATION {
    ULONG NumberOfPossibleInstances;
    KSPIN_DATAFLOW DataFlow;
    BOOLEAN DataAccessible;
    ULONG NumberOfFormatArrayEntries;
    PKSDATAFORMAT* StreamFormatsArray;
    PVOID ClassReserved[4];
    ULONG NumStreamPropArrayEntries;
    PKSPROPERTY_SET StreamPropertiesArray;
    ULONG NumStreamEventArrayEntries;
    PKSEVENT_SET StreamEventsArray;
    GUID* Category; // not const, as the platform declares them
    GUID* Name;
    ULONG MediumsCount;
    const KSPIN_MEDIUM* Mediums;
    BOOLEAN BridgeStream;
    ULONG Reserved[2];
} HW_STREAM_INFORMATION, *PHW_STREAM_INFORMATION;

// What SRB_GET_STREAM_INFO fills: the header, then one information record per
// stream, in a buffer of the StreamDescriptorSize set at initialization.
typedef struct _HW_STREAM_DESCRIPTOR {
    HW_STREAM_HEADER StreamHeader;
    HW_STREAM_INFORMATION StreamInfo;
} HW_STREAM_DESCRIPTOR, *PHW_STREAM_DESCRIPTOR;

typedef struct _STREAM_DATA_INTERSECT_INFO {
    ULONG StreamNumber;
    PKSDATARANGE DataRange;
    PVOID DataFormatBuffer;
    ULONG SizeOfDataFormatBuffer;
} STREAM_DATA_INTERSECT_INFO, *PSTREAM_DATA_INTERSECT_INFO;

// A property request: Property is the client's input (a KSPROPERTY and what
// follows it), PropertySetID the index of the set in the published array,
// PropertyInfo the client's data buffer of PropertyOutputSize bytes.
typedef struct _STREAM_PROPERTY_DESCRIPTOR {
    PKSPROPERTY Property;
    ULONG PropertySetID;
    PVOID PropertyInfo;
    ULONG PropertyInputSize;
    ULONG PropertyOutputSize;
} STREAM_PROPERTY_DESCRIPTOR, *PSTREAM_PROPERTY_DESCRIPTOR;

typedef struct _STREAM_METHOD_DESCRIPTOR {
    ULONG MethodSetID;
    PKSMETHOD Method;
    PVOID MethodInfo;
    LONG MethodInputSize;
    LONG MethodOutputSize;
} STREAM_METHOD_DESCRIPTOR, *PSTREAM_METHOD_DESCRIPTOR;

// ---------------------------------------------------------------------------
// Stream request blocks

typedef enum _SRB_COMMAND {
    // Stream requests
    SRB_READ_DATA,
    SRB_WRITE_DATA,
    SRB_GET_STREAM_STATE,
    SRB_SET_STREAM_STATE,
    SRB_SET_STREAM_PROPERTY,
    SRB_GET_STREAM_PROPERTY,
    SRB_OPEN_MASTER_CLOCK,
    SRB_INDICATE_MASTER_CLOCK,
    SRB_UNKNOWN_STREAM_COMMAND,
    SRB_SET_STREAM_RATE,
    SRB_PROPOSE_DATA_FORMAT,
    SRB_CLOSE_MASTER_CLOCK,
    SRB_PROPOSE_STREAM_RATE,
    SRB_SET_DATA_FORMAT,
    SRB_GET_DATA_FORMAT,
    SRB_BEGIN_FLUSH,
    SRB_END_FLUSH,

    // Device (adapter) requests
    SRB_GET_STREAM_INFO = 0x100,
    SRB_OPEN_STREAM,
    SRB_CLOSE_STREAM,
    SRB_OPEN_DEVICE_INSTANCE,
    SRB_CLOSE_DEVICE_INSTANCE,
    SRB_GET_DEVICE_PROPERTY,
    SRB_SET_DEVICE_PROPERTY,
    SRB_INITIALIZE_DEVICE,
    SRB_CHANGE_POWER_STATE,
    SRB_UNINITIALIZE_DEVICE,
    SRB_UNKNOWN_DEVICE_COMMAND,
    SRB_PAGING_OUT_DRIVER,
    SRB_GET_DATA_INTERSECTION,
    SRB_INITIALIZATION_COMPLETE,
    SRB_SURPRISE_REMOVAL,
    SRB_DEVICE_METHOD,
    SRB_STREAM_METHOD,
    SRB_NOTIFY_IDLE_STATE
} SRB_COMMAND;
static_assert(SRB_SURPRISE_REMOVAL == 0x10E);

typedef struct {
    STREAM_PHYSICAL_ADDRESS PhysicalAddress;
    ULONG Length;
} KSSCATTER_GATHER, *PKSSCATTER_GATHER;

struct _PORT_CONFIGURATION_INFORMATION;

typedef struct _HW_STREAM_REQUEST_BLOCK {
    ULONG SizeOfThisPacket;
    SRB_COMMAND Command;
    NTSTATUS Status;
    struct _HW_STREAM_OBJECT* StreamObject;
    PVOID HwDeviceExtension;
    PVOID SRBExtension;   // the per-request extension of the registered size

    union _CommandData {
        PKSSTREAM_HEADER DataBufferArray;
        PHW_STREAM_DESCRIPTOR StreamBuffer;
        KSSTATE StreamState;
        PSTREAM_TIME_REFERENCE TimeReference;
        PSTREAM_PROPERTY_DESCRIPTOR PropertyInfo;
        PKSDATAFORMAT OpenFormat;
        struct _PORT_CONFIGURATION_INFORMATION* ConfigInfo;
        HANDLE MasterClockHandle;
        DEVICE_POWER_STATE DeviceState;
        PSTREAM_DATA_INTERSECT_INFO IntersectInfo;
        PVOID MethodInfo;
        LONG FilterTypeIndex;
        BOOLEAN Idle;
    } CommandData;

    ULONG NumberOfBuffers;
    ULONG TimeoutCounter;
    ULONG TimeoutOriginal;
    struct _HW_STREAM_REQUEST_BLOCK* NextSRB;

    PIRP Irp;
    ULONG Flags;
    PVOID HwInstanceExtension;

    union {
        ULONG NumberOfBytesToTransfer;
        ULONG ActualBytesTransferred;
    };

    PKSSCATTER_GATHER ScatterGatherBuffer;
    ULONG NumberOfPhysicalPages;
    ULONG NumberOfScatterGatherElements;
    ULONG Reserved[1];
} HW_STREAM_REQUEST_BLOCK, *PHW_STREAM_REQUEST_BLOCK;

#define SRB_HW_FLAGS_DATA_TRANSFER  0x01
#define SRB_HW_FLAGS_STREAM_REQUEST 0x2

typedef struct _ACCESS_RANGE {
    STREAM_PHYSICAL_ADDRESS RangeStart;
    ULONG RangeLength;
    BOOLEAN RangeInMemory;
    ULONG Reserved;
} ACCESS_RANGE, *PACCESS_RANGE;

// Given with SRB_INITIALIZE_DEVICE; the minidriver sets StreamDescriptorSize.
typedef struct _PORT_CONFIGURATION_INFORMATION {
    ULONG SizeOfThisPacket;
    PVOID HwDeviceExtension;
    PDEVICE_OBJECT ClassDeviceObject;
    PDEVICE_OBJECT PhysicalDeviceObject;
    ULONG SystemIoBusNumber;
    INTERFACE_TYPE AdapterInterfaceType;
    ULONG BusInterruptLevel;
    ULONG BusInterruptVector;
    KINTERRUPT_MODE InterruptMode;
    ULONG DmaChannel;
    ULONG NumberOfAccessRanges;
    PACCESS_RANGE AccessRanges;
    ULONG StreamDescriptorSize;
    PIRP Irp;
    PKINTERRUPT InterruptObject;
    PADAPTER_OBJECT DmaAdapterObject;
    PDEVICE_OBJECT RealPhysicalDeviceObject;
    ULONG Reserved[1];
} PORT_CONFIGURATION_INFORMATION, *PPORT_CONFIGURATION_INFORMATION;

typedef VOID(STREAMAPI* PHW_RECEIVE_DEVICE_SRB)(PHW_STREAM_REQUEST_BLOCK SRB);
typedef VOID(STREAMAPI* PHW_CANCEL_SRB)(PHW_STREAM_REQUEST_BLOCK SRB);
typedef VOID(STREAMAPI* PHW_REQUEST_TIMEOUT_HANDLER)(PHW_STREAM_REQUEST_BLOCK SRB);
typedef BOOLEAN(STREAMAPI* PHW_INTERRUPT)(PVOID DeviceExtension);
typedef VOID(STREAMAPI* PHW_QUERY_CLOCK_ROUTINE)(PHW_TIME_CONTEXT TimeContext);

// ---------------------------------------------------------------------------
// Notifications

typedef enum _STREAM_MINIDRIVER_STREAM_NOTIFICATION_TYPE {
    ReadyForNextStreamDataRequest,
    ReadyForNextStreamControlRequest,
    HardwareStarved,
    StreamRequestComplete,
    SignalMultipleStreamEvents,
    SignalStreamEvent,
    DeleteStreamEvent,
    StreamNotificationMaximum
} STREAM_MINIDRIVER_STREAM_NOTIFICATION_TYPE, *PSTREAM_MINIDRIVER_STREAM_NOTIFICATION_TYPE;

typedef enum _STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE {
    ReadyForNextDeviceRequest,
    DeviceRequestComplete,
    SignalMultipleDeviceEvents,
    SignalDeviceEvent,
    DeleteDeviceEvent,
    SignalMultipleDeviceInstanceEvents,
    DeviceNotificationMaximum
} STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE, *PSTREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE;

// ---------------------------------------------------------------------------
// Registration

typedef struct _HW_INITIALIZATION_DATA {
    union {
        ULONG HwInitializationDataSize;   // sizeof(HW_INITIALIZATION_DATA)
        struct {
            USHORT SizeOfThisPacket;
            USHORT StreamClassVersion;
        };
    };
    PHW_INTERRUPT HwInterrupt;
    PHW_RECEIVE_DEVICE_SRB HwReceivePacket;
    PHW_CANCEL_SRB HwCancelPacket;
    PHW_REQUEST_TIMEOUT_HANDLER HwRequestTimeoutHandler;
    ULONG DeviceExtensionSize;
    ULONG PerRequestExtensionSize;
    ULONG PerStreamExtensionSize;
    ULONG FilterInstanceExtensionSize;
    BOOLEAN BusMasterDMA;
    BOOLEAN Dma24BitAddresses;
    ULONG BufferAlignment;
    BOOLEAN TurnOffSynchronization;
    ULONG DmaBufferSize;
    ULONG NumNameExtensions;
    PWCHAR* NameExtensionArray;
} HW_INITIALIZATION_DATA, *PHW_INITIALIZATION_DATA;

#define STREAM_CLASS_VERSION_20 0x0200

// ---------------------------------------------------------------------------
// Stream class services

extern "C" {

// Argument1 is the driver object, Argument2 the registry path of DriverEntry.
NTSTATUS STREAMAPI StreamClassRegisterAdapter(PVOID Argument1, PVOID Argument2,
                                              PHW_INITIALIZATION_DATA HwInitializationData);

// DeviceRequestComplete: (..., PHW_STREAM_REQUEST_BLOCK Srb)
// SignalMultipleDeviceEvents: (..., GUID* EventSet, ULONG EventId)
// SignalDeviceEvent: (..., PKSEVENT_ENTRY EventEntry)
// ReadyForNextDeviceRequest: nothing more.
VOID STREAMCDECL StreamClassDeviceNotification(STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE NotificationType,
                                           PVOID HwDeviceExtension, ...);

// StreamRequestComplete: (..., PHW_STREAM_REQUEST_BLOCK Srb)
// SignalMultipleStreamEvents: (..., GUID* EventSet, ULONG EventId)
// SignalStreamEvent: (..., PKSEVENT_ENTRY EventEntry)
// ReadyForNextStreamDataRequest, ReadyForNextStreamControlRequest: nothing more.
VOID STREAMCDECL StreamClassStreamNotification(STREAM_MINIDRIVER_STREAM_NOTIFICATION_TYPE NotificationType,
                                           PHW_STREAM_OBJECT StreamObject, ...);

// Fills TimeContext->Time for TimeContext->Function (TIME_GET_STREAM_TIME:
// the stream time of the master clock) and TimeContext->SystemTime.
VOID STREAMAPI StreamClassQueryMasterClockSync(HANDLE MasterClockHandle, PHW_TIME_CONTEXT TimeContext);

} // extern "C"

// ---------------------------------------------------------------------------
// The 32-bit layouts of the driver's own platform.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HW_INITIALIZATION_DATA) == 60);
static_assert(sizeof(HW_STREAM_HEADER) == 40);
static_assert(sizeof(HW_STREAM_INFORMATION) == 80);
static_assert(sizeof(HW_STREAM_DESCRIPTOR) == 120);
static_assert(sizeof(HW_STREAM_OBJECT) == 68);
static_assert(sizeof(KS_FRAME_INFO) == 64);
static_assert(sizeof(KSSTREAM_HEADER) == 48);
#else
static_assert(sizeof(HW_INITIALIZATION_DATA) == 88);
static_assert(sizeof(HW_STREAM_HEADER) == 72);
static_assert(sizeof(HW_STREAM_INFORMATION) == 136);
static_assert(sizeof(KS_FRAME_INFO) == 72);
#endif

#endif // KORVAL_WIN32
