// The processing objects' parameter records at stream open: built from the
// stored tuning and the current user settings when the settings' checksum
// held, otherwise from the built-in tuning.
#include "runtime/FloatingPointState.h"
#include "settings/PictureSettings.h"
#include "settings/PropertyTable.h"
#include "stream/CapturePipeline.h"

namespace {

constexpr USHORT AE_MID_GAIN = 18;
constexpr USHORT AE_BASE_GAIN = 4;

UCHAR SettingByte(const DeviceContext* Device, ULONG Index, ULONG Byte)
{
    return static_cast<UCHAR>(Device->Settings[Index] >> (8 * Byte));
}

USHORT SettingLow(const DeviceContext* Device, ULONG Index)
{
    return static_cast<USHORT>(Device->Settings[Index]);
}

USHORT SettingHigh(const DeviceContext* Device, ULONG Index)
{
    return static_cast<USHORT>(Device->Settings[Index] >> 16);
}

UCHAR IsOne(ULONG Value)
{
    return Value == 1 ? 1 : 0;
}

const tagIpParameters DefaultImageParameters = {
    1, 1, 1, 1, 1, 1, 0, 1, 0, 0, // the metering window comes from backlight compensation
    {20, 20},
    {20, 235, 90, 35, 35, 20, 256, 128},
    {{100, 100, 100}, 0, 160, {3000, 2000, 2000, 2000, 3000, 2000, 2000, 2000, 3000}},
    0x0614,
    {70, 5, 255, {{0, 0}, {0, 0}, {0, 0}, {32, 32}, {192, 192}}},
};

VOID StoredColour(const DeviceContext* Device, tagIpColorParameters* Colour)
{
    for (ULONG i = 0; i < 3; ++i) {
        Colour->usGain[i] = SettingByte(Device, 32, i);
    }
    for (ULONG i = 0; i < 9; ++i) {
        const ULONG index = 34 + i / 2;
        Colour->usMatrix[i] = (i % 2 == 0) ? SettingLow(Device, index) : SettingHigh(Device, index);
    }
}

VOID StoredWhiteBalance(const DeviceContext* Device, tagIpAwbParameters* Awb)
{
    Awb->ucSpeed = SettingByte(Device, 29, 0);
    Awb->ucUpperLuma = SettingByte(Device, 29, 1);
    Awb->ucLowerLuma = SettingByte(Device, 29, 2);
    Awb->ucULimit = SettingByte(Device, 29, 3);
    Awb->ucVLimit = SettingByte(Device, 30, 0);
    Awb->ucUVLimit = SettingByte(Device, 30, 1);
    Awb->usMaxGain = SettingLow(Device, 31);
    Awb->usMinGain = SettingHigh(Device, 31);
}

VOID StoredToneCurve(const DeviceContext* Device, tagIpGammaParameters* Tone)
{
    for (ULONG point = 0; point < 5; ++point) {
        const ULONG x = 2 * point;
        const ULONG y = x + 1;
        Tone->asCurve[point].ucX = SettingByte(Device, 42 + x / 4, x % 4);
        Tone->asCurve[point].ucY = SettingByte(Device, 42 + y / 4, y % 4);
    }
}

VOID StoredImageParameters(const DeviceContext* Device, tagIpParameters* Parameters)
{
    Parameters->bEnable = IsOne(SettingByte(Device, 26, 0));
    Parameters->bDefect = IsOne(SettingByte(Device, 26, 1));
    Parameters->bColorProcess = 1;
    Parameters->bSharpness = IsOne(SettingByte(Device, 27, 0));
    Parameters->bGamma = IsOne(SettingByte(Device, 27, 1));
    Parameters->sDefect.ucColdMargin = SettingByte(Device, 28, 0);
    Parameters->sDefect.ucHotMargin = SettingByte(Device, 28, 2);
    StoredWhiteBalance(Device, &Parameters->sAwb);
    StoredColour(Device, &Parameters->sColor);
    Parameters->usSharpness = SettingByte(Device, 39, 0); // the coring threshold
    StoredToneCurve(Device, &Parameters->sGamma);
}

const tagAeParameters DefaultAeParameters = {
    1, 1, 0, 0, 0, 100, 10, 60, 60, 0,
    1024, 0, 13, 39, 32, 12, 12, 18, 4, AE_MID_GAIN, AE_BASE_GAIN, 0,
    0, 0, 30, 250, 2,
    0, 2, 288, 0, 1, 0,
};

VOID StoredAeLimits(const DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->usFifoBytes = SettingLow(Device, 13);
    Parameters->usMinExposureDivisor = SettingLow(Device, 15);
    Parameters->usKneeExposure = SettingLow(Device, 16);
    Parameters->usKneeExposureLong = SettingHigh(Device, 16);
    Parameters->usMaxGain = SettingLow(Device, 17);
    Parameters->usMaxGainLong = SettingHigh(Device, 17);
}

VOID StoredAeRowRules(const DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->usUpMaxDropped = SettingLow(Device, 18);
    Parameters->usUpMaxStep17 = SettingHigh(Device, 18);
    Parameters->usUpMaxStep9 = SettingLow(Device, 19);
    Parameters->usUpMinStep5 = SettingHigh(Device, 19);
    Parameters->ucUpFrames = SettingByte(Device, 20, 0);
    Parameters->usDownMaxDropped = SettingHigh(Device, 20);
    Parameters->usDownMaxStep17 = SettingLow(Device, 21);
    Parameters->usDownMaxStep9 = SettingHigh(Device, 21);
    Parameters->usDownMinStep5 = SettingLow(Device, 22);
    Parameters->ucDownFrames = SettingByte(Device, 22, 2);
    Parameters->ucRatioMargin = SettingByte(Device, 22, 3);
}

VOID StoredAeParameters(const DeviceContext* Device, tagAeParameters* Parameters)
{
    *Parameters = {};
    Parameters->ucLongExposure = SettingByte(Device, 10, 1);
    Parameters->ucAlternateTable = SettingByte(Device, 10, 2);
    Parameters->ucStepBoost = SettingByte(Device, 11, 0);
    Parameters->ucTolerance = SettingByte(Device, 11, 2);
    Parameters->ucUnused = SettingByte(Device, 11, 3);
    StoredAeLimits(Device, Parameters);
    StoredAeRowRules(Device, Parameters);
}

// With valid settings every stored property is mapped over the stored
// tuning; without, the built-in tuning holds and only the properties that
// do not depend on it are mapped.
bool MappedAtOpen(const DeviceContext* Device, const tagPropertyEntry& Entry)
{
    if (Device->SettingsValid) {
        return Entry.ucValueSlot != NO_SLOT || Entry.ucFlagsSlot != NO_SLOT;
    }
    return (Entry.ucTraits & PROPERTY_MAPPED_UNTUNED) != 0;
}

} // namespace

VOID BuildImageParameters(const DeviceContext* Device, tagIpParameters* Parameters)
{
    *Parameters = DefaultImageParameters;
    if (Device->SettingsValid) {
        StoredImageParameters(Device, Parameters);
    }
    for (const tagPropertyEntry& entry : PropertyTable) {
        if (entry.pImageMapping != nullptr && MappedAtOpen(Device, entry)) {
            entry.pImageMapping(Device, Parameters);
        }
    }
}

VOID BuildAeParameters(const DeviceContext* Device, USHORT PacketSize, tagAeParameters* Parameters)
{
    if (Device->SettingsValid) {
        StoredAeParameters(Device, Parameters);
    } else {
        *Parameters = DefaultAeParameters;
    }
    for (const tagPropertyEntry& entry : PropertyTable) {
        if (entry.pAeMapping != nullptr && MappedAtOpen(Device, entry)) {
            entry.pAeMapping(Device, Parameters);
        }
    }
    Parameters->usPacketSize = PacketSize;
    Parameters->usMidGain = AE_MID_GAIN;
    Parameters->usBaseGain = AE_BASE_GAIN;
}

bool OutputSizeCode(ULONG Width, ULONG Height, PUCHAR Code)
{
    static const ULONG Sizes[][2] = {{640, 480}, {352, 288}, {320, 240}, {176, 144}, {160, 120}};
    for (UCHAR code = 0; code < 5; ++code) {
        if (Sizes[code][0] == Width && Sizes[code][1] == Height) {
            *Code = code;
            return true;
        }
    }
    return false;
}

bool InvertMirrorAndFlip(CImageProcess* ImageProcess)
{
    CFloatingPointState floatingPoint;
    if (!floatingPoint.Saved()) {
        return false;
    }
    tagIpParameters parameters;
    if (!ImageProcess->GetParameters(&parameters)) {
        return false;
    }
    parameters.bMirror = parameters.bMirror ? 0 : 1;
    parameters.bFlip = parameters.bFlip ? 0 : 1;
    return ImageProcess->SetParameters(parameters);
}
