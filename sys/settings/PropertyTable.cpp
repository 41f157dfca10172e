#include "settings/PropertyTable.h"

const tagPropertyEntry* FindProperty(const GUID& Set, ULONG Id)
{
    for (const tagPropertyEntry& entry : PropertyTable) {
        if (entry.ulId == Id && *entry.pSet == Set) {
            return &entry;
        }
    }
    return nullptr;
}

ULONG DeviceContext::*StoredSettingField(ULONG Slot)
{
    if (Slot == NO_SLOT) {
        return nullptr;
    }
    for (const tagPropertyEntry& entry : PropertyTable) {
        if (entry.ucFlagsSlot == Slot) {
            return entry.pFlags;
        }
        if (entry.ucValueSlot == Slot && (entry.ucTraits & PROPERTY_VALUE_LOAD_ONLY) == 0) {
            return entry.pValue;
        }
    }
    return nullptr;
}
