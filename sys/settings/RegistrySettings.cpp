#include "settings/RegistrySettings.h"
#include "settings/PictureSettings.h"
#include "settings/PropertyTable.h"

#include <cstring>

const WCHAR SETTINGS_KEY_PATH[] =
    KTEXT("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters");

namespace {

const WCHAR KVDSN_NAME[] = KTEXT("KVDSN");

constexpr ULONG LAST_SETTING = 136;

ULONG Low16(ULONG Value)
{
    return Value & 0xFFFF;
}

// Each property's current value and flags from its slots, and the manual
// copies of the colour gains from theirs.
VOID DeriveCurrentValues(DeviceContext* Device)
{
    for (const tagPropertyEntry& entry : PropertyTable) {
        if (entry.ucValueSlot != NO_SLOT) {
            Device->*entry.pValue = Low16(Device->Settings[entry.ucValueSlot]);
        }
        if (entry.ucFlagsSlot != NO_SLOT) {
            Device->*entry.pFlags = Low16(Device->Settings[entry.ucFlagsSlot]);
        }
        if (entry.pManual != nullptr) {
            Device->*entry.pManual = Device->*entry.pValue;
        }
    }
    // A manual white balance stored as a colour temperature takes its gains
    // from the temperature, as a live set does; the presets and the user's
    // gains come as stored.
    if (Device->CurWhiteBalanceFlags == KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL &&
        Device->CurWhiteBalance >= WHITE_BALANCE_LOWEST_KELVIN && Device->CurWhiteBalance < WHITE_BALANCE_USER_GAINS) {
        SelectWhiteBalanceGains(Device, Device->CurWhiteBalance);
    }
    if (Device->CurColorEnable == 0) {
        PutSaturationAside(Device);
    }
}

ULONG ByteSwap(ULONG Value)
{
    return (Value >> 24) | ((Value >> 8) & 0xFF00) | ((Value << 8) & 0xFF0000) | (Value << 24);
}

// Only a REG_DWORD of exactly 4 bytes is taken; any other value reads as
// missing, and the slot keeps its contents.
NTSTATUS NTAPI StoreDwordValue(PWSTR ValueName, ULONG ValueType, PVOID ValueData, ULONG ValueLength, PVOID Context,
                               PVOID EntryContext)
{
    (void)ValueName;
    (void)Context;
    if (ValueType == REG_DWORD && ValueLength == sizeof(ULONG)) {
        std::memcpy(EntryContext, ValueData, sizeof(ULONG));
    }
    return STATUS_SUCCESS;
}

} // namespace

NTSTATUS ReadDword(PCWSTR Path, PCWSTR Name, PULONG Slot)
{
    ULONG fallback = *Slot;
    RTL_QUERY_REGISTRY_TABLE table[2];
    std::memset(table, 0, sizeof(table));
    // A routine rather than a direct entry: a direct entry would store a value
    // by its own type and size (a string as a UNICODE_STRING, more than 4
    // bytes by the slot's contents taken as a buffer size) over the slot.
    table[0].QueryRoutine = StoreDwordValue;
    table[0].Flags = RTL_QUERY_REGISTRY_REQUIRED;
    table[0].Name = const_cast<PWSTR>(Name);
    table[0].EntryContext = Slot;
    table[0].DefaultType = REG_DWORD;
    table[0].DefaultData = &fallback;
    table[0].DefaultLength = sizeof(ULONG);
    return RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, Path, table, nullptr, nullptr);
}

NTSTATUS WriteDword(PCWSTR Path, PCWSTR Name, ULONG Value)
{
    return RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, Path, Name, REG_DWORD, &Value,
                                 sizeof(Value));
}

NTSTATUS ReadString(PCWSTR Path, PCWSTR Name, PWCHAR Buffer, USHORT Capacity)
{
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        return STATUS_INVALID_PARAMETER;
    }
    UNICODE_STRING value = {0, Capacity, Buffer};
    WCHAR emptyDefault[1] = {0};
    RTL_QUERY_REGISTRY_TABLE table[2];
    std::memset(table, 0, sizeof(table));
    // Without the type check a binary value longer than 4 bytes would be
    // written over the UNICODE_STRING on this stack.
    table[0].Flags = RTL_QUERY_REGISTRY_REQUIRED | RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
    table[0].Name = const_cast<PWSTR>(Name);
    table[0].EntryContext = &value;
    table[0].DefaultType = (REG_SZ << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) | REG_SZ;
    table[0].DefaultData = emptyDefault;
    table[0].DefaultLength = sizeof(emptyDefault);
    return RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, Path, table, nullptr, nullptr);
}

VOID FormatSettingName(ULONG Index, WCHAR (&Name)[8])
{
    WCHAR digits[8];
    ULONG count = 0;
    do {
        digits[count++] = static_cast<WCHAR>('0' + Index % 10);
        Index /= 10;
    } while (Index != 0 && count < 5);
    ULONG position = 0;
    Name[position++] = 'A';
    Name[position++] = '_';
    while (count != 0) {
        Name[position++] = digits[--count];
    }
    Name[position] = 0;
}

NTSTATUS ReadSetting(DeviceContext* Device, ULONG Index)
{
    WCHAR name[8];
    FormatSettingName(Index, name);
    return ReadDword(SETTINGS_KEY_PATH, name, &Device->Settings[Index]);
}

VOID WriteSetting(ULONG Index, ULONG Value)
{
    WCHAR name[8];
    FormatSettingName(Index, name);
    WriteDword(SETTINGS_KEY_PATH, name, Value);
}

VOID LoadSettings(DeviceContext* Device)
{
    ReadDword(SETTINGS_KEY_PATH, KVDSN_NAME, &Device->SettingKvdsn);
    for (ULONG index = 0; index <= LAST_SETTING; ++index) {
        if (index != SETTING_UNUSED_SLOT) {
            ReadSetting(Device, index);
        }
    }
    DeriveCurrentValues(Device);
}

bool VerifySettings(DeviceContext* Device, PULONG Checksum)
{
    if (Device == nullptr || Checksum == nullptr) {
        return false;
    }
    ULONG sum = 0;
    for (ULONG index = SETTING_CHECKSUM_FIRST; index <= SETTING_CHECKSUM_LAST; ++index) {
        sum += Device->Settings[index];
    }
    *Checksum = ByteSwap(~sum);
    return true;
}

BOOLEAN ValidateSettings(DeviceContext* Device)
{
    ULONG checksum = 0;
    Device->SettingsValid = VerifySettings(Device, &checksum) &&
                            checksum == Device->Settings[SETTING_STORED_CHECKSUM];
    return Device->SettingsValid;
}

VOID StoreSettings(DeviceContext* Device)
{
    if (!Device->SettingsValid) {
        return;
    }
    if (Device->CurColorEnable == 0) {
        BringSaturationBack(Device);
    }
    for (ULONG index = 0; index <= LAST_SETTING; ++index) {
        if (ULONG DeviceContext::*field = StoredSettingField(index)) {
            ULONG& slot = Device->Settings[index];
            slot = (slot & 0xFFFF0000) | Low16(Device->*field);
        }
    }
    ULONG kvdsn = 0;
    if (!NT_SUCCESS(ReadDword(SETTINGS_KEY_PATH, KVDSN_NAME, &kvdsn)) ||
        kvdsn != Device->SettingKvdsn) {
        return;
    }
    for (ULONG index = 0; index <= LAST_SETTING; ++index) {
        if (StoredSettingField(index) != nullptr) {
            WriteSetting(index, Device->Settings[index]);
        }
    }
}
