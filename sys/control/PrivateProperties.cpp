// The driver's private property set: one 32-bit value behind the KSPROPERTY.
// Open stream: the current values, applied at once where the stream can take
// them; closed: the user settings in the registry.
#include "control/PrivateLive.h"
#include "control/PropertyRequest.h"
#include "control/DevicePropertySets.h"

namespace {

constexpr UCHAR NO_SETTING = 0;

struct tagPrivateItem {
    ULONG ulId;
    ULONG DeviceContext::*pCurrent;
    UCHAR ucSetting;         // registry value "A_<n>"; items without one have no get
    BOOLEAN bSetWhileClosed; // stored to the registry while the stream is closed
};

// Ids 3, 5 and 6 are published but not handled.
const tagPrivateItem PrivateItems[] = {
    {KSPROPERTY_KORVAL_STEP_BOOST, &DeviceContext::CurStepBoost, NO_SETTING, FALSE},
    {KSPROPERTY_KORVAL_MAINS_FREQUENCY, &DeviceContext::CurMainsFrequency, 109, TRUE},
    {KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE, &DeviceContext::CurFractionalExposure, 107, TRUE},
    {KSPROPERTY_KORVAL_MIRROR, &DeviceContext::CurMirror, 99, TRUE},
    {KSPROPERTY_KORVAL_FLIP, &DeviceContext::CurFlip, 101, TRUE},
    {KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, &DeviceContext::CurLongExposureLimits, 103, TRUE},
    {KSPROPERTY_KORVAL_OPTION_10, &DeviceContext::CurOption10, 105, TRUE},
    {KSPROPERTY_KORVAL_FULL_BANDWIDTH, &DeviceContext::CurFullBandwidth, 111, TRUE},
    {KSPROPERTY_KORVAL_ALTERNATE_SETTING, &DeviceContext::CurAlternateSetting, 113, TRUE},
    {KSPROPERTY_KORVAL_OPTION_13, &DeviceContext::CurOption13, 117, TRUE},
    {KSPROPERTY_KORVAL_GAIN_1, &DeviceContext::CurGain1, 119, TRUE},
    {KSPROPERTY_KORVAL_GAIN_2, &DeviceContext::CurGain2, 121, TRUE},
    {KSPROPERTY_KORVAL_GAIN_3, &DeviceContext::CurGain3, 123, TRUE},
    {KSPROPERTY_KORVAL_EFFECT, &DeviceContext::CurEffect, 133, FALSE},
    {KSPROPERTY_KORVAL_OVERLAY_FRAME, &DeviceContext::CurOverlayFrame, 131, FALSE},
    {KSPROPERTY_KORVAL_FRAME_RATE, &DeviceContext::CurFrameRate, 135, FALSE},
};

const tagPrivateItem* FindPrivateItem(ULONG Id)
{
    for (const tagPrivateItem& item : PrivateItems) {
        if (item.ulId == Id) {
            return &item;
        }
    }
    return nullptr;
}

// Auto exposure cannot work with a mains frequency of 0 (its flicker period
// would be endless); such a value is refused instead of being kept, while the
// stream is closed as well as open, so one value gets one answer and the
// client learns at once. A 0 that reaches the registry otherwise is replaced
// by the default when the stream opens.
bool ValueUsable(ULONG Id, ULONG Value)
{
    return Id != KSPROPERTY_KORVAL_MAINS_FREQUENCY || static_cast<UCHAR>(Value) != 0;
}

} // namespace

NTSTATUS GetPrivateProperty(tagPropertyRequest* Request)
{
    const tagPrivateItem* item = FindPrivateItem(Request->pProperty->Id);
    if (item == nullptr || item->ucSetting == NO_SETTING) {
        return STATUS_NOT_SUPPORTED;
    }
    NTSTATUS status = CheckPropertyData(Request, PRIVATE_PROPERTY_BYTES);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    ULONG value = Request->pDevice->*item->pCurrent;
    if (!Request->bCaptureOpen) {
        status = ReadUserSetting(Request->pDevice, item->ucSetting, &value);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    static_cast<tagKorvalProperty*>(Request->pData)->ulValue = value;
    Request->ulBytesReturned = PRIVATE_PROPERTY_BYTES;
    return STATUS_SUCCESS;
}

NTSTATUS SetPrivateProperty(tagPropertyRequest* Request)
{
    const tagPrivateItem* item = FindPrivateItem(Request->pProperty->Id);
    if (item == nullptr || (!Request->bCaptureOpen && !item->bSetWhileClosed)) {
        return STATUS_NOT_SUPPORTED;
    }
    NTSTATUS status = CheckPropertyData(Request, PRIVATE_PROPERTY_BYTES);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const ULONG value = static_cast<const tagKorvalProperty*>(Request->pData)->ulValue;
    if (!ValueUsable(item->ulId, value)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!Request->bCaptureOpen) {
        WriteUserSetting(Request->pDevice, item->ucSetting, value);
        return STATUS_SUCCESS;
    }
    return SetPrivateLive(Request->pDevice, item->ulId, value);
}
