// Stream open's half of the capture pipeline: the frame buffers, the decoder,
// image processing, auto exposure and effects with their parameters, the
// camera's first exposure and the orientation check. A failure releases
// everything made so far.
#include "ae/CAe.h"
#include "runtime/FloatingPointState.h"
#include "base/ParameterGate.h"
#include "settings/RegistrySettings.h"
#include "decoder/FrameDecoder.h"
#include "effects/VideoEffects.h"
#include "stream/CaptureStream.h"
#include "stream/CapturePipeline.h"
#include "stream/OverlayFrames.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

#include <cstring>

namespace {

constexpr ULONG OVERLAY_DESCRIPTION_BYTES = 304128;
constexpr ULONG MASK_DESCRIPTION_BYTES = 101376;

// The drop count divides by the frame duration less 1 ms, so shorter
// durations (and negative ones) cannot be stamped.
bool OpenArgumentsUsable(ULONG RawWidth, ULONG RawHeight, ULONG OutWidth, ULONG OutHeight,
                         LONGLONG FrameDuration, const DeviceContext* Device)
{
    return RawWidth != 0 && RawHeight != 0 && OutWidth != 0 && OutHeight != 0 &&
           FrameDuration > static_cast<LONGLONG>(PIPELINE_DROP_MARGIN) && Device != nullptr &&
           Device->Usb != nullptr && Device->Camera != nullptr;
}

bool AlreadyBuilt(const StreamContext* Stream)
{
    return Stream->Decoder != nullptr || Stream->ImageProcess != nullptr || Stream->AutoExposure != nullptr ||
           Stream->Effects != nullptr || Stream->RawFrame != nullptr;
}

VOID ComputeSizes(StreamContext* Stream, ULONG RawWidth, ULONG RawHeight, ULONG OutWidth, ULONG OutHeight)
{
    Stream->RawWidth = RawWidth;
    Stream->RawHeight = RawHeight;
    Stream->RawPixels = RawWidth * RawHeight;
    Stream->RawPixels2 = 2 * Stream->RawPixels;
    Stream->RawCapacity = 3 * Stream->RawPixels;
    Stream->RatioNumerator = 128 * Stream->RawPixels;
    Stream->OutWidth = OutWidth;
    Stream->OutHeight = OutHeight;
    Stream->OutPixels = OutWidth * OutHeight;
    Stream->OutPixels2 = 2 * Stream->OutPixels;
    Stream->OutPixels3 = 3 * Stream->OutPixels;
    Stream->CropX = RawWidth - OutWidth;
    Stream->CropY = RawHeight - OutHeight;
    Stream->CropOffset = ((RawHeight - OutHeight) * RawWidth + (RawWidth - OutWidth)) / 2;
    Stream->FrameSize = Stream->IsI420 ? Stream->OutPixels * 12 / 8 : Stream->OutPixels3;
}

bool AllocateBuffer(PUCHAR* Buffer, ULONG* Size, ULONG Bytes)
{
    *Buffer = static_cast<PUCHAR>(KorvalAllocate(Bytes));
    if (*Buffer == nullptr) {
        return false;
    }
    memset(*Buffer, 0, Bytes);
    *Size = Bytes;
    return true;
}

bool AllocateFrameBuffers(StreamContext* Stream)
{
    const ULONG raw = Stream->RawPixels + PIPELINE_BUFFER_SLACK;
    const ULONG out = Stream->OutPixels3 + PIPELINE_BUFFER_SLACK;
    tagSDecompressionFrame& lines = Stream->DecompressionFrame;
    lines.psLines = static_cast<tagSDecompressionInformation*>(
        KorvalAllocate(Stream->RawHeight * sizeof(tagSDecompressionInformation)));
    if (lines.psLines == nullptr) {
        return false;
    }
    lines.ulLineCapacity = Stream->RawHeight;
    if (!AllocateBuffer(&Stream->RawFrame, &Stream->RawFrameSize, raw) ||
        !AllocateBuffer(&Stream->BayerFrame, &Stream->BayerFrameSize, raw) ||
        !AllocateBuffer(&Stream->OutputFrame, &Stream->OutputFrameSize, out) ||
        !AllocateBuffer(&Stream->EffectFrame, &Stream->EffectFrameSize, out) ||
        !AllocateBuffer(&Stream->OverlayFrame, &Stream->OverlayFrameSize, out)) {
        return false;
    }
    lines.pucOutput = Stream->BayerFrame;
    // Requests answered before the first frame is processed show black, not
    // whatever the pool held.
    FillBlackFrame(Stream, Stream->OutputFrame, Stream->OutputFrameSize, Stream->FrameSize);
    return AllocateOverlayBuffers(Stream) != FALSE;
}

bool CreateProcessors(StreamContext* Stream)
{
    Stream->Decoder = new FrameDecoder;
    Stream->ImageProcess = new CImageProcess;
    Stream->AutoExposure = new CAe;
    Stream->Effects = new VideoEffects;
    return Stream->Decoder != nullptr && Stream->ImageProcess != nullptr && Stream->AutoExposure != nullptr &&
           Stream->Effects != nullptr;
}

bool OpenImageProcess(StreamContext* Stream, const DeviceContext* Device)
{
    UCHAR sizeCode = 0;
    if (!OutputSizeCode(Stream->OutWidth, Stream->OutHeight, &sizeCode)) {
        return false;
    }
    tagIpParameters parameters;
    BuildImageParameters(Device, &parameters);
    return Stream->ImageProcess->Open(Stream->RawWidth, Stream->RawHeight, 0, Stream->IsI420, sizeCode, 0,
                                      parameters);
}

bool OpenAutoExposure(StreamContext* Stream, const DeviceContext* Device)
{
    tagAeParameters parameters;
    BuildAeParameters(Device, static_cast<USHORT>(Device->Usb->GetVideoPacketSize()), &parameters);
    return Stream->AutoExposure->Open(Stream->RawWidth, Stream->RawHeight, false, 0, parameters,
                                      &Stream->AeOutput);
}

// The first call sizes the work buffer; its result code says nothing the
// size does not.
bool SetUpEffects(StreamContext* Stream)
{
    const VE_IMAGE_DESCRIPTION output = {sizeof(VE_IMAGE_DESCRIPTION), Stream->OutWidth, Stream->OutHeight, 24,
                                         Stream->IsI420, Stream->FrameSize};
    const VE_IMAGE_DESCRIPTION overlay = {sizeof(VE_IMAGE_DESCRIPTION), 352, 288, 24, Stream->IsI420,
                                          OVERLAY_DESCRIPTION_BYTES};
    const VE_IMAGE_DESCRIPTION mask = {sizeof(VE_IMAGE_DESCRIPTION), 352, 288, 8, VE_FORMAT_BGR24,
                                       MASK_DESCRIPTION_BYTES};
    ULONG workBytes = 0;
    Stream->Effects->Setup(&output, &overlay, &mask, nullptr, &workBytes);
    if (workBytes == 0) {
        return true;
    }
    if (!AllocateBuffer(&Stream->EffectsWork, &Stream->EffectsWorkSize, workBytes)) {
        return false;
    }
    return Stream->Effects->Setup(&output, &overlay, &mask, Stream->EffectsWork, &workBytes) == VE_SUCCESS;
}

// The set-up builds the processors' tables: one floating-point bracket.
bool BuildProcessingChain(StreamContext* Stream, const DeviceContext* Device)
{
    CFloatingPointState floatingPoint;
    return floatingPoint.Saved() && AllocateFrameBuffers(Stream) && CreateProcessors(Stream) &&
           Stream->Decoder->Open(Stream->RawWidth, Stream->RawHeight, 8) && OpenImageProcess(Stream, Device) &&
           OpenAutoExposure(Stream, Device) && SetUpEffects(Stream);
}

bool ProgramFirstExposure(StreamContext* Stream, DeviceContext* Device)
{
    Device->Camera->StoreExposureStart(Stream->AeOutput);
    return Device->Camera->WriteExposureStart();
}

bool CheckOrientationAtOpen(StreamContext* Stream, DeviceContext* Device)
{
    if ((Device->Settings[SETTING_OPTION_BITS] & PIPELINE_ORIENTATION_OPTION) == 0) {
        return true;
    }
    Stream->OrientationValue = 0;
    if (!Device->Camera->ReadOrientation(&Stream->OrientationValue)) {
        return false;
    }
    return Stream->OrientationValue != PIPELINE_ORIENTATION_UPSIDE_DOWN ||
           InvertMirrorAndFlip(Stream->ImageProcess);
}

} // namespace

bool StreamContext::PipelineOpen(ULONG rawWidth, ULONG rawHeight, ULONG outWidth, ULONG outHeight,
                                 LONGLONG frameDuration, DeviceContext* device)
{
    if (!OpenArgumentsUsable(rawWidth, rawHeight, outWidth, outHeight, frameDuration, device) ||
        AlreadyBuilt(this)) {
        return false;
    }
    InitializeLocks();
    WriteCaptureState(this, KSSTATE_STOP);
    PictureNumber = 0;
    DropCount = 0;
    ButtonPending = FALSE;
    RegistersOwed = FALSE;
    // The snapshot thread reads the frame size under the still-image lock.
    KIRQL oldIrql;
    KeAcquireSpinLock(&device->StillImageLock, &oldIrql);
    ComputeSizes(this, rawWidth, rawHeight, outWidth, outHeight);
    KeReleaseSpinLock(&device->StillImageLock, oldIrql);
    FrameDuration = frameDuration;
    AcquireParameterGate(device);
    const bool built = BuildProcessingChain(this, device) && ProgramFirstExposure(this, device) &&
                       CheckOrientationAtOpen(this, device);
    if (!built) {
        ReleasePipeline(this);
    }
    ReleaseParameterGate(device);
    return built;
}
