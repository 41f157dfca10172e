#include "settings/PropertyParameters.h"

#include "settings/PictureSettings.h"

namespace {

constexpr UCHAR METER_PERCENT_WIDE = 75;   // of the frame, each way
constexpr UCHAR METER_PERCENT_NARROW = 25; // backlight compensation: the centre only
constexpr UCHAR FALLBACK_MAINS_FREQUENCY = 60;
constexpr ULONG MAX_EXPOSURE_SETTING = 14;  // low half: normal, high half: long exposure
constexpr USHORT DEFAULT_MAX_EXPOSURE = 13; // what auto exposure starts with without valid settings
constexpr USHORT DEFAULT_MAX_EXPOSURE_LONG = 39;
// Up to the built-in tuning's black point the stretch only takes away the
// sensor's dark level, which the exposure target already allows for.
constexpr ULONG TUNED_BLACK_POINT = 5;

UCHAR IsOne(ULONG Value)
{
    return Value == 1 ? 1 : 0;
}

} // namespace

VOID MapBrightness(const DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sGamma.usBrightness = BrightnessWord(Device, Parameters->bAwb != 0);
}

VOID MapContrast(const DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sGamma.usBlackPoint = static_cast<USHORT>(Device->CurContrast);
}

VOID MapHue(const DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sColor.usHue = static_cast<USHORT>(Device->CurHue);
}

VOID MapSaturation(const DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sColor.usSaturation = static_cast<USHORT>(Device->CurSaturation);
}

// The strength sits in the high byte; the coring threshold stays.
VOID MapSharpness(const DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->usSharpness =
        static_cast<USHORT>((Parameters->usSharpness & 0x00FF) | ((Device->CurSharpness & 0xFF) << 8));
}

VOID MapGamma(const DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sGamma.usGamma = static_cast<USHORT>(Device->CurGamma);
}

VOID MapWhiteBalance(const DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->bAwb = IsOne(Device->CurWhiteBalanceFlags);
    Parameters->sGamma.usBrightness = BrightnessWord(Device, Parameters->bAwb);
}

// Backlight compensation meters the centre quarter instead of three quarters.
VOID MapMeteringWindow(const DeviceContext* Device, tagIpParameters* Parameters)
{
    const UCHAR percent = Device->CurBacklightFlags == 0 ? METER_PERCENT_WIDE : METER_PERCENT_NARROW;
    Parameters->ucMeterWidth = percent;
    Parameters->ucMeterHeight = percent;
}

VOID MapMirror(const DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->bMirror = IsOne(Device->CurMirror);
}

VOID MapFlip(const DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->bFlip = IsOne(Device->CurFlip);
}

VOID MapAeTarget(const DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->ucTargetLuma = AeTargetLuma(Device);
}

// Auto (1) meters towards the target; manual (2) holds the value as the
// exposure time in milliseconds.
VOID MapExposure(const DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->ucTargetLuma = AeTargetLuma(Device);
    Parameters->ucEnable = IsOne(Device->CurExposureFlags);
    Parameters->ucManualExposure = Device->CurExposureFlags == PROPERTY_FLAGS_MANUAL ? 1 : 0;
}

VOID MapStepBoost(const DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->ucStepBoost = static_cast<UCHAR>(Device->CurStepBoost);
}

// Auto exposure cannot work with a mains frequency of 0 (an endless flicker
// period): a stored 0 takes the default rather than making the stream
// unopenable. A set refuses 0 before it gets here.
VOID MapMainsFrequency(const DeviceContext* Device, tagAeParameters* Parameters)
{
    const UCHAR mains = static_cast<UCHAR>(Device->CurMainsFrequency);
    Parameters->ucMainsFrequency = mains != 0 ? mains : FALLBACK_MAINS_FREQUENCY;
}

VOID MapFractionalExposure(const DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->ucFractionalExposure = static_cast<UCHAR>(Device->CurFractionalExposure);
}

// The stored limits only hold when the settings are valid; otherwise auto
// exposure runs on its built-in ones, and those are what gets doubled.
VOID MapLongExposureLimits(const DeviceContext* Device, tagAeParameters* Parameters)
{
    const ULONG stored = Device->Settings[MAX_EXPOSURE_SETTING];
    const USHORT normal = Device->SettingsValid ? static_cast<USHORT>(stored) : DEFAULT_MAX_EXPOSURE;
    const USHORT longer = Device->SettingsValid ? static_cast<USHORT>(stored >> 16) : DEFAULT_MAX_EXPOSURE_LONG;
    const USHORT factor = Device->CurLongExposureLimits == 1 ? 2 : 1;
    Parameters->usMaxExposure = static_cast<USHORT>(normal * factor);
    Parameters->usMaxExposureLong = static_cast<USHORT>(longer * factor);
}

VOID MapFrameRate(const DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->usMinRow = MinimumTimingRow(Device->CurFrameRate);
}

UCHAR AeTargetLuma(const DeviceContext* Device)
{
    const ULONG target = Device->CurExposure & 0xFF;
    const ULONG blackPoint = Device->CurContrast & 0xFFFF;
    if (Device->CurExposureFlags != PROPERTY_FLAGS_AUTO || blackPoint <= TUNED_BLACK_POINT) {
        return static_cast<UCHAR>(target);
    }
    if (blackPoint >= 255) {
        return 255;
    }
    // The stretch maps level L to (L - T) x 255 / (255 - T); the target's
    // level before it is T + target x (255 - T) / 255.
    return static_cast<UCHAR>(blackPoint + target * (255 - blackPoint) / 255);
}

USHORT MinimumTimingRow(ULONG FramesPerSecond)
{
    static const ULONG RowIntervals[] = {333333, 434782, 555555, 666666, 769230,
                                         1000000, 1250000, 1666666, 2500000};
    if (FramesPerSecond == 0) {
        return 0;
    }
    const ULONG interval = 10000000 / FramesPerSecond;
    USHORT row = 0;
    while (row < sizeof(RowIntervals) / sizeof(RowIntervals[0]) && interval > RowIntervals[row]) {
        ++row;
    }
    return row;
}

VOID PutSaturationAside(DeviceContext* Device)
{
    Device->SavedSaturation = Device->CurSaturation;
    Device->CurSaturation = 0;
}

VOID BringSaturationBack(DeviceContext* Device)
{
    Device->CurSaturation = Device->SavedSaturation;
}
