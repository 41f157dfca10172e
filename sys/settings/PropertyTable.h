// The driver's property table: every property of the list in
// PublishedProperties.h with all its columns, the DeviceContext fields of its
// current value and flags and its mapping into the processing parameters
// included. The handlers, the registry load and store, the stream's open
// path and the published item tables read it; the installer and the tool
// read the published view of the same list, so a property is added to the
// list and nowhere else.
#pragma once

#include "settings/PropertyParameters.h"
#include "settings/PublishedProperties.h"

struct tagPropertyEntry {
    const char* pszName;   // the name applications and the tool use
    const GUID* pSet;
    ULONG ulId;
    UCHAR ucValueSlot;     // "A_<n>" of the value (low 16 bits), NO_SLOT: none
    UCHAR ucFlagsSlot;     // "A_<n>" of the flags, NO_SLOT: none
    LONG lMinimum;         // the published range and default
    LONG lMaximum;
    ULONG ulStep;
    LONG lDefault;
    USHORT usInstalledValue; // what an installation stores in the slots
    USHORT usInstalledFlags;
    ULONG DeviceContext::*pValue;
    ULONG DeviceContext::*pFlags;  // nullptr: the record has no flags
    ULONG DeviceContext::*pManual; // the user's last manual copy, or nullptr
    UCHAR ucInitialFlags;          // the flags a new device starts with
    UCHAR ucCapabilities;
    UCHAR ucTraits;
    PIMAGE_MAPPING pImageMapping;  // what the value changes in the stages, or nullptr
    PAE_MAPPING pAeMapping;
};

#define TABLE_PROPERTY(Name, Set, Id, ValueSlot, FlagsSlot, Minimum, Maximum, Step, Default, InstalledValue,      \
                       InstalledFlags, Field, FlagsField, ManualField, InitialFlags, Capabilities, Traits,         \
                       ImageMapping, AeMapping)                                                                    \
    {Name, Set, Id, ValueSlot, FlagsSlot, Minimum, Maximum, Step, Default, InstalledValue, InstalledFlags, Field, \
     FlagsField, ManualField, InitialFlags, Capabilities, Traits, ImageMapping, AeMapping},

// In the order the tool lists them.
inline constexpr tagPropertyEntry PropertyTable[] = {KORVAL_PROPERTIES(TABLE_PROPERTY)};

#undef TABLE_PROPERTY

constexpr ULONG PROPERTY_COUNT = sizeof(PropertyTable) / sizeof(PropertyTable[0]);

// The entry of one published item, for tables built from this one at compile time.
constexpr const tagPropertyEntry& TableProperty(const GUID* Set, ULONG Id)
{
    ULONG index = 0;
    while (index < PROPERTY_COUNT && !(PropertyTable[index].pSet == Set && PropertyTable[index].ulId == Id)) {
        ++index;
    }
    return PropertyTable[index]; // past the end does not compile
}

// The entry a request names, or nullptr.
const tagPropertyEntry* FindProperty(const GUID& Set, ULONG Id);

// The current-value field a user-setting slot loads into and is stored from
// (every value and flags slot but a load-only value), or nullptr.
ULONG DeviceContext::*StoredSettingField(ULONG Slot);
