// Stream close's half of the capture pipeline: every buffer and processing
// object goes, and the record's sizes, times and counters return to zero.
//
// The processing parameters are not copied back into the settings table:
// the user's values already live in the current settings that the close
// writes back, and the table slots they would land in hold tuning and
// register data that the next open reads when a registry value is missing.
#include "ae/CAe.h"
#include "base/ParameterGate.h"
#include "decoder/FrameDecoder.h"
#include "effects/VideoEffects.h"
#include "stream/CaptureStream.h"
#include "stream/CapturePipeline.h"
#include "stream/OverlayFrames.h"

namespace {

VOID FreeBuffer(PUCHAR* Buffer, ULONG* Size)
{
    KorvalFree(*Buffer);
    *Buffer = nullptr;
    *Size = 0;
}

VOID FreeFrameBuffers(StreamContext* Stream)
{
    FreeBuffer(&Stream->RawFrame, &Stream->RawFrameSize);
    FreeBuffer(&Stream->BayerFrame, &Stream->BayerFrameSize);
    FreeBuffer(&Stream->OutputFrame, &Stream->OutputFrameSize);
    FreeBuffer(&Stream->EffectFrame, &Stream->EffectFrameSize);
    FreeBuffer(&Stream->OverlayFrame, &Stream->OverlayFrameSize);
    FreeBuffer(&Stream->EffectsWork, &Stream->EffectsWorkSize);
    KorvalFree(Stream->DecompressionFrame.psLines);
    Stream->DecompressionFrame = {};
}

VOID DestroyProcessors(StreamContext* Stream)
{
    if (Stream->Decoder != nullptr) {
        Stream->Decoder->Close();
        delete Stream->Decoder;
        Stream->Decoder = nullptr;
    }
    if (Stream->ImageProcess != nullptr) {
        Stream->ImageProcess->Close();
        delete Stream->ImageProcess;
        Stream->ImageProcess = nullptr;
    }
    if (Stream->AutoExposure != nullptr) {
        Stream->AutoExposure->Close();
        delete Stream->AutoExposure;
        Stream->AutoExposure = nullptr;
    }
    if (Stream->Effects != nullptr) {
        Stream->Effects->Reset();
        delete Stream->Effects;
        Stream->Effects = nullptr;
    }
}

VOID ClearSizes(StreamContext* Stream)
{
    Stream->RawWidth = Stream->RawHeight = 0;
    Stream->RawPixels = Stream->RawPixels2 = Stream->RawCapacity = 0;
    Stream->RatioNumerator = 0;
    Stream->OutWidth = Stream->OutHeight = 0;
    Stream->OutPixels = Stream->OutPixels2 = Stream->OutPixels3 = 0;
    Stream->FrameSize = 0;
    Stream->CropX = Stream->CropY = Stream->CropOffset = 0;
}

VOID ClearTimesAndCounters(StreamContext* Stream)
{
    Stream->FrameDuration = 0;
    Stream->LastPresentationTime = Stream->FirstPresentationTime = 0;
    Stream->FramesProcessed = 0;
    KIRQL oldIrql;
    KeAcquireSpinLock(&Stream->CounterLock, &oldIrql);
    Stream->DropCount = 0;
    Stream->PictureNumber = 0;
    KeReleaseSpinLock(&Stream->CounterLock, oldIrql);
    WriteCaptureState(Stream, KSSTATE_STOP);
    __atomic_store_n(&Stream->MasterClock, nullptr, __ATOMIC_RELAXED);
    Stream->ButtonPending = FALSE;
    Stream->RegistersOwed = FALSE;
}

} // namespace

// The overlay buffers go first: the blend runs through the effects object.
VOID ReleasePipeline(StreamContext* Stream)
{
    FreeOverlayBuffers(Stream);
    FreeFrameBuffers(Stream);
    DestroyProcessors(Stream);
}

bool StreamContext::PipelineClose(DeviceContext* device)
{
    if (device != nullptr) {
        AcquireParameterGate(device);
    }
    ReleasePipeline(this);
    if (device != nullptr) {
        // The snapshot thread reads the frame size under the still-image lock.
        KIRQL oldIrql;
        KeAcquireSpinLock(&device->StillImageLock, &oldIrql);
        ClearSizes(this);
        KeReleaseSpinLock(&device->StillImageLock, oldIrql);
    } else {
        ClearSizes(this);
    }
    ClearTimesAndCounters(this);
    if (device != nullptr) {
        ReleaseParameterGate(device);
    }
    return true;
}
