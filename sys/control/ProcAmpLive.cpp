#include "control/ProcAmpLive.h"
#include "control/PropertyRequest.h"
#include "stream/CapturePipeline.h"

namespace {

constexpr UCHAR METER_PERCENT_WIDE = 75;
constexpr UCHAR METER_PERCENT_NARROW = 25;

VOID ApplyBrightness(DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sGamma.usBrightness = BrightnessWord(Device, Parameters->bAwb != 0);
}

VOID ApplyContrast(DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sGamma.usBlackPoint = static_cast<USHORT>(Device->CurContrast);
}

VOID ApplyHue(DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sColor.usHue = static_cast<USHORT>(Device->CurHue);
}

VOID ApplySaturation(DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sColor.usSaturation = static_cast<USHORT>(Device->CurSaturation);
}

// The strength sits in the high byte; the coring threshold stays.
VOID ApplySharpness(DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->usSharpness =
        static_cast<USHORT>((Parameters->usSharpness & 0x00FF) | ((Device->CurSharpness & 0xFF) << 8));
}

VOID ApplyGamma(DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->sGamma.usGamma = static_cast<USHORT>(Device->CurGamma);
}

VOID ApplyWhiteBalance(DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->bAwb = Device->CurWhiteBalanceFlags == PROPERTY_FLAGS_AUTO ? 1 : 0;
    Parameters->sGamma.usBrightness = BrightnessWord(Device, Parameters->bAwb);
}

// Backlight compensation meters the centre quarter instead of three quarters.
VOID ApplyMeteringWindow(DeviceContext* Device, tagIpParameters* Parameters)
{
    const UCHAR percent = Device->CurBacklightFlags == 0 ? METER_PERCENT_WIDE : METER_PERCENT_NARROW;
    Parameters->ucMeterWidth = percent;
    Parameters->ucMeterHeight = percent;
}

// With colour off the saturation is held at 0 and a new one is not taken.
VOID SetSaturation(DeviceContext* Device, ULONG Value, ULONG Flags)
{
    if (Device->CurColorEnable == 0) {
        return;
    }
    Device->CurSaturation = Value;
    Device->CurSaturationFlags = Flags;
    ChangeImageParameters(Device, ApplySaturation);
}

// Disabling keeps the saturation aside and shows grey; enabling brings it back.
VOID SetColorEnable(DeviceContext* Device, ULONG Value, ULONG Flags)
{
    if (Value == Device->CurColorEnable) {
        return;
    }
    const bool wasEnabled = Device->CurColorEnable != 0;
    Device->CurColorEnable = Value;
    Device->CurColorEnableFlags = Flags;
    if (!wasEnabled) {
        Device->CurSaturation = Device->SavedSaturation;
    } else if (Value == 0) {
        Device->SavedSaturation = Device->CurSaturation;
        Device->CurSaturation = 0;
    }
    ChangeImageParameters(Device, ApplySaturation);
}

VOID ApplyAeTarget(DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->ucTargetLuma = AeTargetLuma(Device);
}

// The black point stretches the picture after auto exposure has metered it:
// the exposure target moves with it, so that the stretch spreads the picture
// around its usual brightness instead of crushing it into black.
VOID SetContrast(DeviceContext* Device, ULONG Value, ULONG Flags)
{
    Device->CurContrast = Value;
    Device->CurContrastFlags = Flags;
    ChangeImageParameters(Device, ApplyContrast);
    ChangeAeParameters(Device, ApplyAeTarget);
}

VOID SetWhiteBalance(DeviceContext* Device, ULONG Value, ULONG Flags)
{
    Device->CurWhiteBalance = Value;
    Device->CurWhiteBalanceFlags = Flags;
    if (Flags != PROPERTY_FLAGS_AUTO) {
        SelectWhiteBalanceGains(Device, Value);
    }
    ChangeImageParameters(Device, ApplyWhiteBalance);
}

// The items whose set only stores value and flags and changes one parameter.
struct tagPlainItem {
    ULONG ulId;
    ULONG DeviceContext::*pValue;
    ULONG DeviceContext::*pFlags;
    PIMAGE_CHANGE pChange;
};

const tagPlainItem PlainItems[] = {
    {KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, &DeviceContext::CurBrightness, &DeviceContext::CurBrightnessFlags,
     ApplyBrightness},
    {KSPROPERTY_VIDEOPROCAMP_HUE, &DeviceContext::CurHue, &DeviceContext::CurHueFlags, ApplyHue},
    {KSPROPERTY_VIDEOPROCAMP_SHARPNESS, &DeviceContext::CurSharpness, &DeviceContext::CurSharpnessFlags,
     ApplySharpness},
    {KSPROPERTY_VIDEOPROCAMP_GAMMA, &DeviceContext::CurGamma, &DeviceContext::CurGammaFlags, ApplyGamma},
    {KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION, &DeviceContext::CurBacklight, &DeviceContext::CurBacklightFlags,
     ApplyMeteringWindow},
};

} // namespace

VOID SetProcAmpLive(DeviceContext* Device, ULONG Id, ULONG Value, ULONG Flags)
{
    switch (Id) {
    case KSPROPERTY_VIDEOPROCAMP_SATURATION: SetSaturation(Device, Value, Flags); return;
    case KSPROPERTY_VIDEOPROCAMP_COLORENABLE: SetColorEnable(Device, Value, Flags); return;
    case KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE: SetWhiteBalance(Device, Value, Flags); return;
    case KSPROPERTY_VIDEOPROCAMP_CONTRAST: SetContrast(Device, Value, Flags); return;
    default: break;
    }
    for (const tagPlainItem& item : PlainItems) {
        if (item.ulId == Id) {
            Device->*item.pValue = Value;
            Device->*item.pFlags = Flags;
            ChangeImageParameters(Device, item.pChange);
            return;
        }
    }
}
