// The user settings behind the properties while the capture stream is closed:
// one registry value each, the setting in its low 16 bits.
#include "control/PropertyRequest.h"
#include "settings/RegistrySettings.h"

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
