// The settings table: tuning data and the user's camera settings, kept as
// numbered REG_DWORD values "A_0" ... "A_136" (and "KVDSN") under the service's
// Parameters key, and the registry primitives every other subsystem uses.
// All of it runs at PASSIVE_LEVEL.
#pragma once

#include "base/DeviceContext.h"

extern const WCHAR SETTINGS_KEY_PATH[]; // \Registry\Machine\...\Services\KORVAL\Parameters

constexpr ULONG SETTING_CHECKSUM_FIRST = 0;
constexpr ULONG SETTING_CHECKSUM_LAST = 51;
constexpr ULONG SETTING_OPTION_BITS = 51;
constexpr ULONG SETTING_FORMAT_SELECTION = 64;
constexpr ULONG SETTING_STORED_CHECKSUM = 65;
constexpr ULONG SETTING_UNUSED_SLOT = 130; // exists, never read or written

// Reads one REG_DWORD into Slot; a missing value leaves the slot unchanged and
// succeeds. A value of another type is refused and leaves the slot unchanged.
NTSTATUS ReadDword(PCWSTR Path, PCWSTR Name, PULONG Slot);
// Writes one REG_DWORD; the caller does not look at the status.
NTSTATUS WriteDword(PCWSTR Path, PCWSTR Name, ULONG Value);
// Reads a REG_SZ into Buffer (Capacity bytes); only at PASSIVE_LEVEL.
NTSTATUS ReadString(PCWSTR Path, PCWSTR Name, PWCHAR Buffer, USHORT Capacity);

// "A_<index>" as a terminated wide string in Name (room for 8 characters).
VOID FormatSettingName(ULONG Index, WCHAR (&Name)[8]);
NTSTATUS ReadSetting(DeviceContext* Device, ULONG Index);
VOID WriteSetting(ULONG Index, ULONG Value);

VOID LoadSettings(DeviceContext* Device);
// The byte-reversed complement of the sum of A_0 ... A_51; false only for null arguments.
bool VerifySettings(DeviceContext* Device, PULONG Checksum);
// VerifySettings compared with "A_65"; the result is kept as SettingsValid.
BOOLEAN ValidateSettings(DeviceContext* Device);
VOID StoreSettings(DeviceContext* Device);
