// One raw camera frame through the processing chain: orientation check,
// decode, auto exposure, image processing, effect and overlay, and the
// camera's new values. The caller holds the parameter gate.
#include "ae/CAe.h"
#include "settings/RegistrySettings.h"
#include "decoder/FrameDecoder.h"
#include "effects/VideoEffects.h"
#include "runtime/FloatingPointState.h"
#include "stream/CapturePipeline.h"
#include "stream/OverlayFrames.h"
#include "usb/CCameraRegisters.h"

#include <cstring>

namespace {

constexpr ULONGLONG ORIENTATION_FRAME_MASK = 7; // every eighth frame

VOID FollowOrientation(StreamContext* Stream, DeviceContext* Device, ULONGLONG FrameNumber)
{
    if ((Device->Settings[SETTING_OPTION_BITS] & PIPELINE_ORIENTATION_OPTION) == 0 ||
        (FrameNumber & ORIENTATION_FRAME_MASK) != 0) {
        return;
    }
    UCHAR value = 0;
    if (!Device->Camera->ReadRegister(REGISTER_ORIENTATION, &value) || value == Stream->OrientationValue ||
        (value != 0x00 && value != PIPELINE_ORIENTATION_UPSIDE_DOWN)) {
        return;
    }
    InvertMirrorAndFlip(Stream->ImageProcess);
    Stream->OrientationValue = value;
}

bool Decode(StreamContext* Stream, ULONG Length)
{
    return Stream->Decoder->Process(Stream->RawFrame + PIPELINE_HEADER_BYTES, Length - 2 * PIPELINE_HEADER_BYTES,
                                    Stream->BayerFrameSize, &Stream->DecompressionFrame);
}

// The effect and the overlay each fall back to their input when they fail.
VOID ApplyEffectAndOverlay(StreamContext* Stream, DeviceContext* Device)
{
    const ULONG effect = Device->CurEffect;
    const ULONG overlay = Device->CurOverlayFrame;
    PUCHAR result = Stream->OutputFrame;
    if (effect != 0 && Stream->Effects->ProcessEffect(result, Stream->FrameSize, Stream->EffectFrame,
                                                      Stream->FrameSize, effect, Device)) {
        result = Stream->EffectFrame;
    }
    if (overlay != 0 &&
        ApplyOverlayFrame(result, Stream->FrameSize, Stream->OverlayFrame, Stream->FrameSize, Device)) {
        result = Stream->OverlayFrame;
    }
    if (result != Stream->OutputFrame) {
        KIRQL oldIrql;
        KeAcquireSpinLock(&Stream->FrameLock, &oldIrql);
        memcpy(Stream->OutputFrame, result, Stream->FrameSize);
        KeReleaseSpinLock(&Stream->FrameLock, oldIrql);
    }
}

VOID HandStillImage(const StreamContext* Stream, DeviceContext* Device)
{
    if (Device->StillImageBuffer == nullptr) {
        return;
    }
    KIRQL oldIrql;
    KeAcquireSpinLock(&Device->StillImageLock, &oldIrql);
    memcpy(Device->StillImageBuffer, Stream->OutputFrame, Stream->FrameSize);
    KeReleaseSpinLock(&Device->StillImageLock, oldIrql);
}

bool ProcessImage(StreamContext* Stream, DeviceContext* Device, tagIpOutput* Output)
{
    memset(Output, 0, sizeof(*Output));
    Output->pBuffer = Stream->OutputFrame;
    if (!Stream->ImageProcess->Process(BuildIpInput(Stream, Device), Output)) {
        return false;
    }
    ApplyEffectAndOverlay(Stream, Device);
    Stream->FramesProcessed += 1;
    HandStillImage(Stream, Device);
    Stream->LastMeanLuma = Output->ucMeanLuma;
    return true;
}

// Decode, auto exposure (which sees every frame the decoder was given) and
// image processing; true when OutputFrame now holds this frame.
bool RunChain(StreamContext* Stream, DeviceContext* Device, ULONG Length, bool* Decoded, tagIpOutput* IpOutput)
{
    *Decoded = Decode(Stream, Length);
    Stream->AutoExposure->Process(BuildAeInput(Stream, Device, Length), &Stream->AeOutput);
    return *Decoded && ProcessImage(Stream, Device, IpOutput);
}

// A frame too short to hold its header and trailer is treated like one the
// camera marked unusable: there is nothing in it to decode.
bool FrameUsable(const StreamContext* Stream, ULONG Length)
{
    return Length >= 2 * PIPELINE_HEADER_BYTES && (Stream->RawFrame[0] & PIPELINE_FRAME_UNUSABLE) == 0;
}

} // namespace

// A failed register write is not taken for a removal (the Plug and Play
// manager reports one): the frame is not delivered, and the next read writes
// the whole register image before it waits for a frame, until the camera
// takes it.
bool ProcessRawFrame(StreamContext* Stream, DeviceContext* Device, ULONG Length, ULONGLONG FrameNumber,
                     bool* Delivered)
{
    *Delivered = false;
    bool decoded = false;
    tagIpOutput ipOutput;
    {
        // One bracket per frame; a state that cannot be saved drops the frame.
        CFloatingPointState floatingPoint;
        if (!floatingPoint.Saved()) {
            return true;
        }
        FollowOrientation(Stream, Device, FrameNumber);
        if (!FrameUsable(Stream, Length)) {
            return true;
        }
        *Delivered = RunChain(Stream, Device, Length, &decoded, &ipOutput);
    }
    if (ProgramFrameResults(Stream, Device, decoded, ipOutput, *Delivered && ipOutput.bChanged != 0)) {
        return true;
    }
    if (*Delivered) {
        Stream->FramesProcessed -= 1;
        *Delivered = false;
    }
    Stream->RegistersOwed = TRUE;
    return false;
}

