// One read request: the newest camera frame, processed, copied into the
// request's buffer with the snapshot-button bit, and stamped. Runs only on
// the draining thread of the data queue, at PASSIVE_LEVEL.
#include "base/ParameterGate.h"
#include "settings/StillStatus.h"
#include "stream/CaptureStream.h"
#include "stream/CapturePipeline.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

#include <cstring>

namespace {

constexpr ULONG QCIF_WIDTH = 176;
constexpr ULONG QCIF_HEIGHT = 144;

// The event is auto-reset: a zero time-out both tests and consumes a press.
bool PollButton(StreamContext* Stream, CUsbCamera* Usb)
{
    LARGE_INTEGER timeout;
    timeout.QuadPart = Stream->ButtonPollTimeout;
    return KeWaitForSingleObject(&Usb->ButtonEvent, Executive, KernelMode, FALSE, &timeout) == STATUS_SUCCESS;
}

// Under the transport lock, so that a stop or a power change cannot slip in
// between the restart's stop and start. Only running transfers are restarted:
// transfers that a stop ended stay ended until the next run enables the
// camera's video again.
VOID RestartVideoIfRequested(DeviceContext* Device)
{
    if (!GetRestartRequested(Device)) {
        return;
    }
    CTransportHold hold(Device->Usb);
    if (!GetRestartRequested(Device)) {
        return;
    }
    if (!ReadLockedFlag(&Device->Usb->VideoStarted)) {
        SetRestartRequested(Device, FALSE);
        return;
    }
    Device->Usb->StopVideo();
    Device->Usb->ResetVideoPipe();
    SetRestartRequested(Device, FALSE);
    Device->Usb->StartVideo();
}

HANDLE CurrentMasterClock(const StreamContext* Stream)
{
    return __atomic_load_n(&Stream->MasterClock, __ATOMIC_RELAXED);
}

// Without a clock the application cannot pace small frames: every second
// request at 176 x 144 repeats the previous picture.
bool RepeatsPreviousFrame(const StreamContext* Stream)
{
    return CurrentMasterClock(Stream) == nullptr && Stream->OutWidth == QCIF_WIDTH &&
           Stream->OutHeight == QCIF_HEIGHT && Stream->FrameToggle != 0;
}

VOID CopyOutputFrame(const StreamContext* Stream, PKSSTREAM_HEADER Header)
{
    memcpy(Header->Data, Stream->OutputFrame, Stream->FrameSize);
}

// A press waits for the next frame that is delivered, so that one not
// delivered (no frame, a repeat, an early stamp) does not swallow it.
VOID MarkButtonBit(StreamContext* Stream, PKSSTREAM_HEADER Header)
{
    auto* first = static_cast<PUCHAR>(Header->Data);
    if (Stream->ButtonPending) {
        *first |= 1;
        WriteUsbSnapshotStatus(1);
    } else {
        *first &= static_cast<UCHAR>(~1u);
    }
}

// Steps from the frame read to the buffer copy; false: the request fails.
bool CaptureFrame(StreamContext* Stream, DeviceContext* Device, PKSSTREAM_HEADER Header, bool* NotDelivered)
{
    // Before the frame wait: a camera that lost its video enable with the rest
    // sends no frame whose processing could write it again.
    if (Stream->RegistersOwed) {
        if (!Device->Camera->WriteAllRegisters()) {
            *NotDelivered = true;
            return true;
        }
        Stream->RegistersOwed = FALSE;
    }
    ULONG length = Stream->RawFrameSize;
    ULONGLONG frameNumber = 0;
    if (!Device->Usb->ReadFrame(Stream->RawFrame, &length, &frameNumber)) {
        return false;
    }
    bool delivered = false;
    if (length != 0 && !ProcessRawFrame(Stream, Device, length, frameNumber, &delivered)) {
        // The camera stopped answering: the buffer is not filled.
        *NotDelivered = true;
        return true;
    }
    *NotDelivered = !delivered;
    CopyOutputFrame(Stream, Header);
    MarkButtonBit(Stream, Header);
    return true;
}

bool HeaderUsable(const StreamContext* Stream, PKSSTREAM_HEADER Header, NTSTATUS* Status)
{
    if (Header == nullptr || Header->Data == nullptr) {
        *Status = STATUS_INVALID_PARAMETER;
        return false;
    }
    if (Stream->FrameSize > Header->FrameExtent) {
        *Status = STATUS_INSUFFICIENT_RESOURCES;
        return false;
    }
    return true;
}

NTSTATUS FillRequest(StreamContext* Stream, DeviceContext* Device, PHW_STREAM_REQUEST_BLOCK Srb)
{
    if (PollButton(Stream, Device->Usb)) {
        Stream->ButtonPending = TRUE;
    }
    if (!GetUsbConfigured(Device)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!GetDevicePresent(Device)) {
        return STATUS_CANCELLED;
    }
    RestartVideoIfRequested(Device);
    PKSSTREAM_HEADER header = ReadStreamHeader(Srb);
    NTSTATUS status = STATUS_SUCCESS;
    if (!HeaderUsable(Stream, header, &status)) {
        return status;
    }
    header->OptionsFlags = 0;
    Stream->FrameToggle = Stream->FrameToggle ? 0 : 1;
    bool notDelivered = true;
    if (RepeatsPreviousFrame(Stream)) {
        CopyOutputFrame(Stream, header);
        *static_cast<PUCHAR>(header->Data) &= static_cast<UCHAR>(~1u);
    } else if (!CaptureFrame(Stream, Device, header, &notDelivered)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (StampReadRequest(Stream, Srb, header, notDelivered)) {
        Stream->ButtonPending = FALSE;
    }
    return STATUS_SUCCESS;
}

} // namespace

// The whole request runs under the parameter gate: property changes land
// between frames, and a close that releases the buffers waits for a read in
// progress (at most one frame wait once video is stopped).
NTSTATUS StreamContext::FillReadRequest(PHW_STREAM_REQUEST_BLOCK srb)
{
    auto* device = srb != nullptr ? static_cast<DeviceContext*>(srb->HwDeviceExtension) : nullptr;
    if (device == nullptr || device->Usb == nullptr || device->Camera == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    AcquireParameterGate(device);
    const NTSTATUS status = RawFrame != nullptr ? FillRequest(this, device, srb) : STATUS_INVALID_PARAMETER;
    ReleaseParameterGate(device);
    return status;
}
