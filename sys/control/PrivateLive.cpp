#include "control/PrivateLive.h"
#include "control/PropertyRequest.h"
#include "control/DevicePropertySets.h"
#include "stream/OverlayFrames.h"
#include "stream/StreamContext.h"

namespace {

constexpr ULONG MAX_EXPOSURE_SETTING = 14;  // low half: normal, high half: long exposure
constexpr USHORT DEFAULT_MAX_EXPOSURE = 13; // what auto exposure starts with without valid settings
constexpr USHORT DEFAULT_MAX_EXPOSURE_LONG = 39;
constexpr ULONG OPTION_BITS_SETTING = 51;
constexpr ULONG ORIENTATION_CHECK_BIT = 0x200;
constexpr UCHAR ORIENTATION_UPSIDE_DOWN = 0xFF;

VOID ApplyStepBoost(DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->ucStepBoost = static_cast<UCHAR>(Device->CurStepBoost);
}

VOID ApplyMainsFrequency(DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->ucMainsFrequency = static_cast<UCHAR>(Device->CurMainsFrequency);
}

VOID ApplyFractionalExposure(DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->ucFractionalExposure = static_cast<UCHAR>(Device->CurFractionalExposure);
}

// The stored limits only hold when the settings are valid; otherwise auto
// exposure runs on its built-in ones, and those are what gets doubled.
VOID ApplyLongExposureLimits(DeviceContext* Device, tagAeParameters* Parameters)
{
    const ULONG stored = Device->Settings[MAX_EXPOSURE_SETTING];
    USHORT normal = Device->SettingsValid ? static_cast<USHORT>(stored) : DEFAULT_MAX_EXPOSURE;
    USHORT longer = Device->SettingsValid ? static_cast<USHORT>(stored >> 16) : DEFAULT_MAX_EXPOSURE_LONG;
    const USHORT factor = Device->CurLongExposureLimits == 1 ? 2 : 1;
    Parameters->usMaxExposure = static_cast<USHORT>(normal * factor);
    Parameters->usMaxExposureLong = static_cast<USHORT>(longer * factor);
}

VOID ApplyFrameRate(DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->usMinRow = MinimumRowForFrameRate(Device->CurFrameRate);
}

// A camera mounted upside down has mirror and flip inverted by the pipeline's
// orientation check; a user's choice keeps that inversion.
UCHAR UpsideDown(const DeviceContext* Device)
{
    return (Device->Settings[OPTION_BITS_SETTING] & ORIENTATION_CHECK_BIT) != 0 && Device->Stream != nullptr &&
                   Device->Stream->OrientationValue == ORIENTATION_UPSIDE_DOWN
               ? 1
               : 0;
}

VOID ApplyMirror(DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->bMirror = static_cast<UCHAR>((Device->CurMirror == 1 ? 1 : 0) ^ UpsideDown(Device));
}

VOID ApplyFlip(DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->bFlip = static_cast<UCHAR>((Device->CurFlip == 1 ? 1 : 0) ^ UpsideDown(Device));
}

// Manual white balance takes the red and blue gains with a neutral green.
VOID ApplyColourGain(DeviceContext* Device, tagIpParameters* Parameters)
{
    if (!Parameters->bAwb) {
        Device->CurGain2 = NEUTRAL_GAIN;
    }
    Parameters->sGamma.usBrightness = BrightnessWord(Device, Parameters->bAwb);
}

VOID ApplyGreenGain(DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sGamma.usBrightness = BrightnessWord(Device, Parameters->bAwb);
}

// A frame that cannot be loaded leaves the previous one showing (loaded again
// from its files) and its number in place, and the request fails: answering
// success would tell the client a frame was chosen that never shows.
NTSTATUS SelectOverlayFrame(DeviceContext* Device, ULONG Value)
{
    if (Value == 0 || Value == Device->CurOverlayFrame) {
        Device->CurOverlayFrame = Value;
        return STATUS_SUCCESS;
    }
    if (LoadOverlayFrame(Value, Device)) {
        Device->CurOverlayFrame = Value;
        return STATUS_SUCCESS;
    }
    if (Device->CurOverlayFrame != 0) {
        LoadOverlayFrame(Device->CurOverlayFrame, Device);
    }
    return STATUS_UNSUCCESSFUL;
}

// The values set while the stream is open, with what each changes at once;
// the rest are only stored for the pipeline and the next open.
struct tagLiveItem {
    ULONG ulId;
    ULONG DeviceContext::*pCurrent;
    ULONG DeviceContext::*pManual; // the manual copy of a colour gain
    PAE_CHANGE pAeChange;
    PIMAGE_CHANGE pImageChange;
};

const tagLiveItem LiveItems[] = {
    {KSPROPERTY_KORVAL_STEP_BOOST, &DeviceContext::CurStepBoost, nullptr, ApplyStepBoost, nullptr},
    {KSPROPERTY_KORVAL_MAINS_FREQUENCY, &DeviceContext::CurMainsFrequency, nullptr, ApplyMainsFrequency, nullptr},
    {KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE, &DeviceContext::CurFractionalExposure, nullptr, ApplyFractionalExposure,
     nullptr},
    {KSPROPERTY_KORVAL_MIRROR, &DeviceContext::CurMirror, nullptr, nullptr, ApplyMirror},
    {KSPROPERTY_KORVAL_FLIP, &DeviceContext::CurFlip, nullptr, nullptr, ApplyFlip},
    {KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, &DeviceContext::CurLongExposureLimits, nullptr, ApplyLongExposureLimits,
     nullptr},
    {KSPROPERTY_KORVAL_OPTION_10, &DeviceContext::CurOption10, nullptr, nullptr, nullptr},
    {KSPROPERTY_KORVAL_FULL_BANDWIDTH, &DeviceContext::CurFullBandwidth, nullptr, nullptr, nullptr},
    {KSPROPERTY_KORVAL_ALTERNATE_SETTING, &DeviceContext::CurAlternateSetting, nullptr, nullptr, nullptr},
    {KSPROPERTY_KORVAL_OPTION_13, &DeviceContext::CurOption13, nullptr, nullptr, nullptr},
    {KSPROPERTY_KORVAL_GAIN_1, &DeviceContext::CurGain1, &DeviceContext::ManualGain1, nullptr, ApplyColourGain},
    {KSPROPERTY_KORVAL_GAIN_2, &DeviceContext::CurGain2, &DeviceContext::ManualGain2, nullptr, ApplyGreenGain},
    {KSPROPERTY_KORVAL_GAIN_3, &DeviceContext::CurGain3, &DeviceContext::ManualGain3, nullptr, ApplyColourGain},
    {KSPROPERTY_KORVAL_EFFECT, &DeviceContext::CurEffect, nullptr, nullptr, nullptr},
    {KSPROPERTY_KORVAL_FRAME_RATE, &DeviceContext::CurFrameRate, nullptr, ApplyFrameRate, nullptr},
};

const tagLiveItem* FindLiveItem(ULONG Id)
{
    for (const tagLiveItem& item : LiveItems) {
        if (item.ulId == Id) {
            return &item;
        }
    }
    return nullptr;
}

} // namespace

USHORT MinimumRowForFrameRate(ULONG FramesPerSecond)
{
    static const ULONG rowIntervals[] = {333333, 434782, 555555, 666666, 769230, 1000000, 1250000, 1666666, 2500000};
    const ULONG interval = 10000000 / FramesPerSecond;
    USHORT row = 0;
    while (row < sizeof(rowIntervals) / sizeof(rowIntervals[0]) && interval > rowIntervals[row]) {
        ++row;
    }
    return row;
}

NTSTATUS SetPrivateLive(DeviceContext* Device, ULONG Id, ULONG Value)
{
    if (Id == KSPROPERTY_KORVAL_OVERLAY_FRAME) {
        return SelectOverlayFrame(Device, Value);
    }
    if (Id == KSPROPERTY_KORVAL_FRAME_RATE && Value == 0) {
        return STATUS_INVALID_PARAMETER; // no frame interval to derive a timing row from
    }
    const tagLiveItem* item = FindLiveItem(Id);
    if (item == nullptr) {
        return STATUS_NOT_SUPPORTED;
    }
    Device->*item->pCurrent = Value;
    if (item->pManual != nullptr) {
        Device->*item->pManual = Value;
    }
    if (item->pAeChange != nullptr) {
        ChangeAeParameters(Device, item->pAeChange);
    }
    if (item->pImageChange != nullptr) {
        ChangeImageParameters(Device, item->pImageChange);
    }
    return STATUS_SUCCESS;
}
