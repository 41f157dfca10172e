// The running stream's image-processing and auto-exposure parameters as the
// property handlers change them: read, changed, written back. The callers hold
// the parameter gate, so the objects are neither processing a frame nor being
// created or destroyed meanwhile.
#include "ae/CAe.h"
#include "runtime/FloatingPointState.h"
#include "control/PropertyRequest.h"
#include "stream/StreamContext.h"

namespace {

constexpr LONGLONG LARGEST_BRIGHTNESS_WORD = 510;

LONGLONG Low16(ULONG Value)
{
    return static_cast<LONGLONG>(Value & 0xFFFF);
}

CImageProcess* StreamImageProcess(DeviceContext* Device)
{
    return Device->Stream != nullptr ? Device->Stream->ImageProcess : nullptr;
}

CAe* StreamAutoExposure(DeviceContext* Device)
{
    return Device->Stream != nullptr ? Device->Stream->AutoExposure : nullptr;
}

} // namespace

BOOLEAN ReadImageParameters(DeviceContext* Device, tagIpParameters* Parameters)
{
    CImageProcess* imageProcess = StreamImageProcess(Device);
    return imageProcess != nullptr && imageProcess->GetParameters(Parameters);
}

VOID WriteImageParameters(DeviceContext* Device, const tagIpParameters& Parameters)
{
    CImageProcess* imageProcess = StreamImageProcess(Device);
    CFloatingPointState floatingPoint; // the change may rebuild tables
    if (imageProcess != nullptr && floatingPoint.Saved()) {
        imageProcess->SetParameters(Parameters);
    }
}

BOOLEAN ReadAeParameters(DeviceContext* Device, tagAeParameters* Parameters)
{
    CAe* autoExposure = StreamAutoExposure(Device);
    return autoExposure != nullptr && autoExposure->GetParameters(Parameters);
}

VOID WriteAeParameters(DeviceContext* Device, const tagAeParameters& Parameters)
{
    CAe* autoExposure = StreamAutoExposure(Device);
    CFloatingPointState floatingPoint;
    if (autoExposure != nullptr && floatingPoint.Saved()) {
        autoExposure->SetParameters(Parameters);
    }
}

VOID ChangeImageParameters(DeviceContext* Device, PIMAGE_CHANGE Change)
{
    tagIpParameters parameters;
    if (ReadImageParameters(Device, &parameters)) {
        Change(Device, &parameters);
        WriteImageParameters(Device, parameters);
    }
}

VOID ChangeAeParameters(DeviceContext* Device, PAE_CHANGE Change)
{
    tagAeParameters parameters;
    if (ReadAeParameters(Device, &parameters)) {
        Change(Device, &parameters);
        WriteAeParameters(Device, parameters);
    }
}

// Manual white balance: the gains weighted as luma (1/4, 1/2, 1/4, by shifts)
// against 1.0, scaled by the exposure target, move the brightness. In both
// white-balance modes the word is held to the tone stage's 0..510: below 0 the
// 16-bit word would wrap round to the brightest setting, and a brightness
// beyond the range gives the brightest word, never its low 16 bits.
USHORT BrightnessWord(const DeviceContext* Device, BOOLEAN AutoWhiteBalance)
{
    LONGLONG word = Device->CurBrightness;
    if (!AutoWhiteBalance) {
        const LONGLONG gainLuma = (Low16(Device->CurGain3) >> 2) + (Low16(Device->CurGain2) >> 1) +
                                  (Low16(Device->CurGain1) >> 2) - static_cast<LONGLONG>(NEUTRAL_GAIN);
        word += gainLuma * Low16(Device->CurExposure) / 64;
    }
    if (word < 0) {
        return 0;
    }
    return static_cast<USHORT>(word > LARGEST_BRIGHTNESS_WORD ? LARGEST_BRIGHTNESS_WORD : word);
}
