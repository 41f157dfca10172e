#include "control/PrivateLive.h"
#include "control/PropertyRequest.h"
#include "driver/DevicePropertySets.h"
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

VOID SetGain(DeviceContext* Device, ULONG DeviceContext::*Current, ULONG DeviceContext::*Manual, ULONG Value,
             PIMAGE_CHANGE Change)
{
    Device->*Current = Value;
    Device->*Manual = Value;
    ChangeImageParameters(Device, Change);
}

// A frame that cannot be loaded leaves the previous one showing (loaded again
// from its files) and its number in place, and the request fails.
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
    switch (Id) {
    case KSPROPERTY_KORVAL_STEP_BOOST:
        Device->CurStepBoost = Value;
        ChangeAeParameters(Device, ApplyStepBoost);
        break;
    case KSPROPERTY_KORVAL_MAINS_FREQUENCY:
        Device->CurMainsFrequency = Value;
        ChangeAeParameters(Device, ApplyMainsFrequency);
        break;
    case KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE:
        Device->CurFractionalExposure = Value;
        ChangeAeParameters(Device, ApplyFractionalExposure);
        break;
    case KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS:
        Device->CurLongExposureLimits = Value;
        ChangeAeParameters(Device, ApplyLongExposureLimits);
        break;
    case KSPROPERTY_KORVAL_MIRROR:
        Device->CurMirror = Value;
        ChangeImageParameters(Device, ApplyMirror);
        break;
    case KSPROPERTY_KORVAL_FLIP:
        Device->CurFlip = Value;
        ChangeImageParameters(Device, ApplyFlip);
        break;
    case KSPROPERTY_KORVAL_OPTION_10: Device->CurOption10 = Value; break;
    case KSPROPERTY_KORVAL_FULL_BANDWIDTH: Device->CurFullBandwidth = Value; break;
    case KSPROPERTY_KORVAL_ALTERNATE_SETTING: Device->CurAlternateSetting = Value; break;
    case KSPROPERTY_KORVAL_OPTION_13: Device->CurOption13 = Value; break;
    case KSPROPERTY_KORVAL_EFFECT: Device->CurEffect = Value; break;
    case KSPROPERTY_KORVAL_GAIN_1:
        SetGain(Device, &DeviceContext::CurGain1, &DeviceContext::ManualGain1, Value, ApplyColourGain);
        break;
    case KSPROPERTY_KORVAL_GAIN_2:
        SetGain(Device, &DeviceContext::CurGain2, &DeviceContext::ManualGain2, Value, ApplyGreenGain);
        break;
    case KSPROPERTY_KORVAL_GAIN_3:
        SetGain(Device, &DeviceContext::CurGain3, &DeviceContext::ManualGain3, Value, ApplyColourGain);
        break;
    case KSPROPERTY_KORVAL_OVERLAY_FRAME: return SelectOverlayFrame(Device, Value);
    case KSPROPERTY_KORVAL_FRAME_RATE:
        if (Value == 0) {
            return STATUS_INVALID_PARAMETER;
        }
        Device->CurFrameRate = Value;
        ChangeAeParameters(Device, ApplyFrameRate);
        break;
    default: return STATUS_NOT_SUPPORTED;
    }
    return STATUS_SUCCESS;
}
