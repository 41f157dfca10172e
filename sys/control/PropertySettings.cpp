// The user settings behind the properties while the capture stream is closed:
// one registry value each for value and flags, the setting in its low 16 bits.
#include "control/PropertyRequest.h"
#include "settings/RegistrySettings.h"

namespace {

NTSTATUS ReadUserSetting(DeviceContext* Device, ULONG Index, PULONG Value)
{
    if (!NT_SUCCESS(ReadSetting(Device, Index))) {
        return STATUS_INVALID_PARAMETER;
    }
    *Value = Device->Settings[Index] & 0xFFFF;
    return STATUS_SUCCESS;
}

// The slot is read again first: it may never have been loaded (no open since
// the device started) or the value may have been edited since, and the high
// 16 bits written back must be the ones the registry holds.
VOID WriteUserSetting(DeviceContext* Device, ULONG Index, ULONG Value)
{
    ReadSetting(Device, Index);
    ULONG& slot = Device->Settings[Index];
    slot = (slot & 0xFFFF0000) | (Value & 0xFFFF);
    WriteSetting(Index, slot);
}

} // namespace

BOOLEAN HasStoredValue(const tagPropertyEntry& Entry)
{
    return Entry.ucValueSlot != NO_SLOT && (Entry.ucTraits & PROPERTY_VALUE_LOAD_ONLY) == 0 ? TRUE : FALSE;
}

NTSTATUS ReadStoredProperty(DeviceContext* Device, const tagPropertyEntry& Entry, PULONG Value, PULONG Flags)
{
    *Value = 0;
    *Flags = PROPERTY_FLAGS_MANUAL;
    NTSTATUS status = STATUS_SUCCESS;
    if (Entry.ucFlagsSlot != NO_SLOT) {
        status = ReadUserSetting(Device, Entry.ucFlagsSlot, Flags);
    }
    if (NT_SUCCESS(status) && HasStoredValue(Entry)) {
        status = ReadUserSetting(Device, Entry.ucValueSlot, Value);
    }
    return status;
}

VOID WriteStoredProperty(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value, ULONG Flags)
{
    if (Entry.ucFlagsSlot != NO_SLOT) {
        WriteUserSetting(Device, Entry.ucFlagsSlot, Flags);
    }
    if (HasStoredValue(Entry)) {
        WriteUserSetting(Device, Entry.ucValueSlot, Value);
    }
}
