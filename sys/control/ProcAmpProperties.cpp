// PROPSETID_VIDCAP_VIDEOPROCAMP: brightness, contrast, hue, saturation,
// sharpness, gamma, colour enable, white balance and backlight compensation.
// Open stream: the current values; closed: the user settings in the registry.
#include "control/ProcAmpLive.h"
#include "control/PropertyRequest.h"

namespace {

constexpr ULONG PROCAMP_ITEM_COUNT = 9;
constexpr ULONG WHITE_BALANCE_MODE_SETTING = 91;
constexpr ULONG BACKLIGHT_FLAGS_SETTING = 93;
constexpr ULONG BACKLIGHT_VALUE_SETTING = 115;

struct tagProcAmpItem {
    ULONG DeviceContext::*pValue;
    ULONG DeviceContext::*pFlags;
    UCHAR ucSetting; // registry value of ids 0 to 6
};

const tagProcAmpItem ProcAmpItems[PROCAMP_ITEM_COUNT] = {
    {&DeviceContext::CurBrightness, &DeviceContext::CurBrightnessFlags, 77},
    {&DeviceContext::CurContrast, &DeviceContext::CurContrastFlags, 79},
    {&DeviceContext::CurHue, &DeviceContext::CurHueFlags, 81},
    {&DeviceContext::CurSaturation, &DeviceContext::CurSaturationFlags, 83},
    {&DeviceContext::CurSharpness, &DeviceContext::CurSharpnessFlags, 85},
    {&DeviceContext::CurGamma, &DeviceContext::CurGammaFlags, 87},
    {&DeviceContext::CurColorEnable, &DeviceContext::CurColorEnableFlags, 89},
    {&DeviceContext::CurWhiteBalance, &DeviceContext::CurWhiteBalanceFlags, 0},
    {&DeviceContext::CurBacklight, &DeviceContext::CurBacklightFlags, 0},
};

ULONG Capabilities(ULONG Id)
{
    return Id == KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE ? PROPERTY_FLAGS_AUTO : PROPERTY_FLAGS_MANUAL;
}

VOID AnswerOpen(DeviceContext* Device, ULONG Id, KSPROPERTY_VIDEOPROCAMP_S* Answer)
{
    Answer->Value = static_cast<LONG>(Device->*ProcAmpItems[Id].pValue);
    Answer->Flags = Device->*ProcAmpItems[Id].pFlags;
    Answer->Capabilities = Capabilities(Id);
}

// White balance has no stored value (only its mode); backlight compensation
// keeps value and flags in two settings.
NTSTATUS AnswerClosed(DeviceContext* Device, ULONG Id, KSPROPERTY_VIDEOPROCAMP_S* Answer)
{
    ULONG value = 0;
    ULONG flags = PROPERTY_FLAGS_MANUAL;
    NTSTATUS status;
    if (Id == KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE) {
        status = ReadUserSetting(Device, WHITE_BALANCE_MODE_SETTING, &flags);
    } else if (Id == KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION) {
        status = ReadUserSetting(Device, BACKLIGHT_FLAGS_SETTING, &flags);
        if (NT_SUCCESS(status)) {
            status = ReadUserSetting(Device, BACKLIGHT_VALUE_SETTING, &value);
        }
    } else {
        status = ReadUserSetting(Device, ProcAmpItems[Id].ucSetting, &value);
    }
    if (NT_SUCCESS(status)) {
        Answer->Value = static_cast<LONG>(value);
        Answer->Flags = flags;
        Answer->Capabilities = Capabilities(Id);
    }
    return status;
}

VOID StoreClosed(DeviceContext* Device, ULONG Id, const KSPROPERTY_VIDEOPROCAMP_S& Request)
{
    if (Id == KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE) {
        WriteUserSetting(Device, WHITE_BALANCE_MODE_SETTING, Request.Flags);
    } else if (Id == KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION) {
        WriteUserSetting(Device, BACKLIGHT_FLAGS_SETTING, Request.Flags);
        WriteUserSetting(Device, BACKLIGHT_VALUE_SETTING, static_cast<ULONG>(Request.Value));
    } else {
        WriteUserSetting(Device, ProcAmpItems[Id].ucSetting, static_cast<ULONG>(Request.Value));
    }
}

// Both directions: a known item and a whole record.
NTSTATUS CheckProcAmpRequest(tagPropertyRequest* Request)
{
    if (Request->pProperty->Id >= PROCAMP_ITEM_COUNT) {
        return STATUS_NOT_SUPPORTED;
    }
    return CheckPropertyData(Request, PROCAMP_PROPERTY_BYTES);
}

} // namespace

NTSTATUS GetProcAmpProperty(tagPropertyRequest* Request)
{
    const ULONG id = Request->pProperty->Id;
    NTSTATUS status = CheckProcAmpRequest(Request);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* answer = static_cast<KSPROPERTY_VIDEOPROCAMP_S*>(Request->pData);
    if (Request->bCaptureOpen) {
        AnswerOpen(Request->pDevice, id, answer);
    } else {
        status = AnswerClosed(Request->pDevice, id, answer);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    Request->ulBytesReturned = PROCAMP_PROPERTY_BYTES;
    return STATUS_SUCCESS;
}

NTSTATUS SetProcAmpProperty(tagPropertyRequest* Request)
{
    const ULONG id = Request->pProperty->Id;
    NTSTATUS status = CheckProcAmpRequest(Request);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const auto& value = *static_cast<const KSPROPERTY_VIDEOPROCAMP_S*>(Request->pData);
    if (Request->bCaptureOpen) {
        SetProcAmpLive(Request->pDevice, id, static_cast<ULONG>(value.Value), value.Flags);
    } else {
        StoreClosed(Request->pDevice, id, value);
    }
    return STATUS_SUCCESS;
}
