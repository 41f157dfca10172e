// The capture stream's states: stop, acquire, pause and run, with video
// transfers running exactly in run, and the answer to a state query.
#include "control/ParameterGate.h"
#include "stream/CaptureStream.h"
#include "stream/SrbQueue.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

namespace {

// A read in progress re-encodes the register shadow for its frame's changes;
// the parameter gate keeps this edit of the same shadow apart from it.
bool SetCameraVideoEnable(DeviceContext* Device, bool on)
{
    AcquireParameterGate(Device);
    const bool written = Device->Camera->SetVideoEnable(on);
    ReleaseParameterGate(Device);
    return written;
}

bool VideoRuns(DeviceContext* Device)
{
    return Device->Usb != nullptr && ReadLockedFlag(&Device->Usb->VideoStarted);
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

NTSTATUS EnterRun(DeviceContext* Device)
{
    StreamContext* stream = Device->Stream;
    if (stream->OutputFrame != nullptr) {
        FillBlackFrame(stream, stream->OutputFrame, stream->OutputFrameSize, stream->OutputFrameSize);
    }
    if (!VideoRuns(Device)) {
        if (Device->Camera == nullptr || !SetCameraVideoEnable(Device, true) || !Device->Usb->StartVideo()) {
            return STATUS_INVALID_PARAMETER;
        }
    }
    return STATUS_SUCCESS;
}

} // namespace

VOID StopCaptureVideo(DeviceContext* Device)
{
    if (!VideoRuns(Device)) {
        return;
    }
    Device->Usb->StopVideo();
    if (Device->Camera != nullptr) {
        SetCameraVideoEnable(Device, false);
    }
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
        WriteCaptureState(stream, KSSTATE_STOP);
        StopCaptureVideo(Device);
        CancelQueuedReads(Device);
        return STATUS_SUCCESS;
    case KSSTATE_ACQUIRE:
    case KSSTATE_PAUSE:
        break;
    case KSSTATE_RUN: {
        const NTSTATUS status = EnterRun(Device);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        break;
    }
    default: return STATUS_NOT_IMPLEMENTED;
    }
    ResetCountersAfterStop(stream, previous);
    WriteCaptureState(stream, static_cast<UCHAR>(Requested));
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
