// The capture stream's states: stop, acquire, pause and run, with video
// transfers running exactly in run, and the answer to a state query.
#include "base/ParameterGate.h"
#include "stream/CaptureStream.h"
#include "stream/SrbQueue.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

namespace {

// The video transfers and the camera's video bit change together: under the
// parameter gate (a read in progress re-encodes the same register shadow) and
// then the transport lock (a power change or a restart starts and stops the
// same transfers), so the test of VideoStarted holds for the whole change.
VOID LockVideoChange(DeviceContext* Device)
{
    AcquireParameterGate(Device);
    Device->Usb->AcquireTransport();
}

VOID UnlockVideoChange(DeviceContext* Device)
{
    Device->Usb->ReleaseTransport();
    ReleaseParameterGate(Device);
}

bool VideoRuns(DeviceContext* Device)
{
    return ReadLockedFlag(&Device->Usb->VideoStarted);
}

// Called under the data queue's lock for each waiting read.
VOID CancelRead(PHW_STREAM_REQUEST_BLOCK Srb, PVOID Context)
{
    (void)Context;
    if (PKSSTREAM_HEADER header = ReadStreamHeader(Srb)) {
        header->DataUsed = 0;
    }
    Srb->Status = STATUS_CANCELLED;
    CompleteStreamSrb(Srb, nullptr);
}

VOID ResetCountersAfterStop(StreamContext* Stream, UCHAR Previous)
{
    if (Previous != KSSTATE_STOP) {
        return;
    }
    Stream->FramesProcessed = 0;
    const KIRQL oldIrql = KfAcquireSpinLock(&Stream->CounterLock);
    Stream->DropCount = 0;
    Stream->PictureNumber = 0;
    KfReleaseSpinLock(&Stream->CounterLock, oldIrql);
}

// Called with the video change locked; the state becomes run under the same
// lock, so a power-up sees the state and the transfers agree.
NTSTATUS EnterRun(DeviceContext* Device, UCHAR Previous)
{
    StreamContext* stream = Device->Stream;
    if (stream->OutputFrame != nullptr) {
        FillBlackFrame(stream, stream->OutputFrame, stream->OutputFrameSize, stream->OutputFrameSize);
    }
    if (!VideoRuns(Device)) {
        if (Device->Camera == nullptr || !Device->Camera->SetVideoEnable(true) || !Device->Usb->StartVideo()) {
            return STATUS_INVALID_PARAMETER;
        }
    }
    ResetCountersAfterStop(stream, Previous);
    WriteCaptureState(stream, KSSTATE_RUN);
    return STATUS_SUCCESS;
}

} // namespace

VOID StopCaptureVideo(DeviceContext* Device)
{
    if (Device->Usb == nullptr) {
        return;
    }
    LockVideoChange(Device);
    if (VideoRuns(Device)) {
        Device->Usb->StopVideo();
        if (Device->Camera != nullptr) {
            Device->Camera->SetVideoEnable(false);
        }
    }
    // A restart asked for by the transfers just ended is void: the next run
    // starts them afresh.
    SetRestartRequested(Device, FALSE);
    UnlockVideoChange(Device);
}

VOID CancelQueuedReads(DeviceContext* Device)
{
    if (Device->DataQueue.bInitialized) {
        SrbQueueFlush(&Device->DataQueue, CancelRead, nullptr);
    }
}

NTSTATUS SetCaptureState(DeviceContext* Device, ULONG Requested)
{
    StreamContext* stream = Device->Stream;
    const UCHAR previous = ReadCaptureState(stream);
    switch (Requested) {
    case KSSTATE_STOP:
        // The queued reads are cancelled before the video change waits for a
        // read in progress to finish its frame.
        WriteCaptureState(stream, KSSTATE_STOP);
        CancelQueuedReads(Device);
        StopCaptureVideo(Device);
        return STATUS_SUCCESS;
    case KSSTATE_ACQUIRE:
    case KSSTATE_PAUSE:
        break;
    case KSSTATE_RUN: {
        if (Device->Usb == nullptr) {
            return STATUS_INVALID_PARAMETER;
        }
        LockVideoChange(Device);
        const NTSTATUS status = EnterRun(Device, previous);
        UnlockVideoChange(Device);
        return status;
    }
    default: return STATUS_NOT_IMPLEMENTED;
    }
    // A stop marks the state at once but its read in progress may still be
    // counting its frame, under the gate: the reset waits for that read.
    AcquireParameterGate(Device);
    ResetCountersAfterStop(stream, previous);
    WriteCaptureState(stream, static_cast<UCHAR>(Requested));
    ReleaseParameterGate(Device);
    return STATUS_SUCCESS;
}

NTSTATUS GetCaptureState(DeviceContext* Device, PHW_STREAM_REQUEST_BLOCK Srb)
{
    StreamContext* stream = Device->Stream;
    const KIRQL oldIrql = KfAcquireSpinLock(&stream->StateLock);
    const UCHAR state = ReadCaptureState(stream);
    KfReleaseSpinLock(&stream->StateLock, oldIrql);
    Srb->CommandData.StreamState = state <= KSSTATE_RUN ? static_cast<KSSTATE>(state) : KSSTATE_STOP;
    Srb->ActualBytesTransferred = sizeof(KSSTATE);
    return state == KSSTATE_PAUSE ? STATUS_NO_DATA_DETECTED : STATUS_SUCCESS;
}
