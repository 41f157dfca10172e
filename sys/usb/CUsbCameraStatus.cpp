// The status channel: one interrupt transfer kept in flight on pipe 2, each
// completed report taken as a press of the snapshot button, and the snapshot
// thread that serves the presses.
#include "usb/CUsbCamera.h"
#include "usb/TransferCounter.h"

#include <cstring>

namespace {

// A completion with this status carries no report.
constexpr USBD_STATUS STATUS_REPORT_NONE = 0x00010000;

} // namespace

VOID CUsbCamera::PrepareStatusTransfer()
{
    tagTransferContext* context = StatusContext;
    memset(context->pUrb, 0, STATUS_URB_BYTES);
    auto& transfer = context->pUrb->UrbBulkOrInterruptTransfer;
    transfer.Hdr.Length = sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);
    transfer.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    transfer.PipeHandle = PipeHandle[USB_STATUS_PIPE];
    transfer.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
    transfer.TransferBuffer = context->pData;
    transfer.TransferBufferLength = STATUS_TRANSFER_BYTES;
    PrepareTransferIrp(context, StatusComplete);
}

bool CUsbCamera::StartStatus()
{
    CTransportHold hold(this);
    if (!IsConfigured() || ReadLockedFlag(&StatusStarted) || StatusContext == nullptr) {
        return false;
    }
    PrepareStatusTransfer();
    KeClearEvent(&ButtonEvent);
    KeClearEvent(&StatusEvent);
    ResetInFlight(&StatusInFlight, &StatusDrained);
    if (!ResetStatusPipe() || !DeviceReady()) {
        return false;
    }
    WriteLockedFlag(&StatusRunning, TRUE);
    AddInFlight(&StatusInFlight, &StatusDrained);
    SendTransfer(StatusContext, &StatusRunning, &StatusInFlight, &StatusDrained);
    WriteLockedFlag(&StatusStarted, TRUE);
    KeClearEvent(&ThreadStop);
    StartSnapshotThread();
    return true;
}

VOID CUsbCamera::StopStatus()
{
    CTransportHold hold(this);
    WriteLockedFlag(&StatusRunning, FALSE);
    KeSetEvent(&ThreadStop, 0, FALSE);
    AbortStatusPipe();
    if (!InFlightSettled(&StatusInFlight, &StatusDrained)) {
        KeWaitForSingleObject(&StatusDrained, Executive, KernelMode, FALSE, nullptr);
    }
    WaitForSnapshotThread();
    WriteLockedFlag(&StatusStarted, FALSE);
}

// A failure to start the thread leaves the status channel running without it.
VOID CUsbCamera::StartSnapshotThread()
{
    HANDLE handle = nullptr;
    if (SnapshotRoutine == nullptr ||
        !NT_SUCCESS(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, SnapshotRoutine,
                                         Device))) {
        return;
    }
    PVOID thread = nullptr;
    if (NT_SUCCESS(ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &thread,
                                             nullptr))) {
        // The reference changes hands in one step: whoever takes it out of
        // the device owns it and is the only one to drop it.
        PVOID previous = InterlockedExchangePointer(&Device->SnapshotThread, thread);
        if (previous != nullptr) {
            ObDereferenceObject(previous);
        }
    }
    ZwClose(handle);
}

// The done event covers a thread that is running; the thread object also
// covers one that has not yet run far enough to say so. The reference taken
// at the start is dropped here, so repeated starts leak none.
VOID CUsbCamera::WaitForSnapshotThread()
{
    if (GetSnapshotThreadRunning(Device)) {
        KeWaitForSingleObject(&Device->SnapshotThreadDone, Executive, KernelMode, FALSE, nullptr);
    }
    PVOID thread = InterlockedExchangePointer(&Device->SnapshotThread, nullptr);
    if (thread != nullptr) {
        KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(thread);
    }
}

VOID CUsbCamera::SignalButtonPress()
{
    KeSetEvent(&ButtonEvent, 0, FALSE);
    KeSetEvent(&StatusEvent, 0, FALSE);
    GUID eventSet = KSEVENTSETID_VIDCAPTOSTI;
    StreamClassDeviceNotification(SignalMultipleDeviceEvents, Device, &eventSet,
                                  static_cast<ULONG>(KSEVENT_VIDCAPTOSTI_EXT_TRIGGER));
}

// True when the resubmission DPC is queued (the transfer stays counted).
bool CUsbCamera::StatusCompleted(tagTransferContext* context, PIRP irp)
{
    const USBD_STATUS urbStatus = context->pUrb->UrbHeader.Status;
    if (!NT_SUCCESS(irp->IoStatus.Status) || USBD_ERROR(urbStatus)) {
        return false; // silent until the next start
    }
    if (urbStatus != STATUS_REPORT_NONE) {
        SignalButtonPress();
    }
    return KeInsertQueueDpc(&context->Dpc, nullptr, nullptr) != FALSE;
}

NTSTATUS NTAPI CUsbCamera::StatusComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context)
{
    (void)DeviceObject;
    return FinishTransfer(Irp, Context, &CUsbCamera::StatusCompleted, &CUsbCamera::StatusInFlight,
                          &CUsbCamera::StatusDrained);
}

VOID NTAPI CUsbCamera::StatusDpc(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2)
{
    (void)Dpc;
    (void)SystemArgument1;
    (void)SystemArgument2;
    auto* context = static_cast<tagTransferContext*>(DeferredContext);
    CUsbCamera* self = context->pOwner;
    self->PrepareStatusTransfer();
    self->Resubmit(context, &self->StatusRunning, &self->StatusInFlight, &self->StatusDrained);
}
