// What the status and video transfers share: the IRP set-up for each
// submission and the resubmission from the DPC.
//
// A transfer counts as in flight from its submission until it is back for
// good: a completion that queues the resubmission DPC leaves it counted, and
// the DPC releases it when it does not send again; whoever sends also holds
// the count until it is done with the IRP. So a stop that finds the count at
// 0 knows that no DPC is about to send or still refers to an IRP, and a stop
// that has to wait is woken only when the last transfer is really back.
#include "usb/CUsbCamera.h"
#include "usb/TransferCounter.h"

bool CUsbCamera::DeviceReady()
{
    return Device != nullptr && GetDevicePresent(Device) && GetDevicePowerState(Device) == PowerDeviceD0;
}

// The IRP comes back from its last trip with the stack and status of that
// trip, possibly marked cancelled by a stop: it starts clean each time.
VOID CUsbCamera::PrepareTransferIrp(tagTransferContext* context, PIO_COMPLETION_ROUTINE routine)
{
    PIRP irp = context->pIrp;
    IoReuseIrp(irp, STATUS_SUCCESS);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = context->pUrb;
    IoSetCompletionRoutine(irp, routine, context, TRUE, TRUE, TRUE);
}

// A stop may clear the running flag between the caller's check and the
// send, and its pipe abort may come before the IRP reaches the lower driver:
// checked again after the send, the transfer is cancelled here instead.
// Once sent, the IRP may come back at once; the sender holds the count until
// it no longer refers to the IRP, so that a stop cannot find nothing in
// flight and let the next start reuse and send the IRP while this check
// still cancels it.
VOID CUsbCamera::SendTransfer(tagTransferContext* context, tagLockedFlag* running, tagLockedUlong* inFlight,
                              PKEVENT drained)
{
    AddInFlight(inFlight, drained);
    context->ucInFlight = 1;
    IofCallDriver(Device->PhysicalDeviceObject, context->pIrp);
    if (!ReadLockedFlag(running)) {
        IoCancelIrp(context->pIrp);
    }
    ReleaseInFlight(inFlight, drained);
}

VOID CUsbCamera::Resubmit(tagTransferContext* context, tagLockedFlag* running, tagLockedUlong* inFlight,
                          PKEVENT drained)
{
    if (!ReadLockedFlag(running) || !DeviceReady()) {
        ReleaseInFlight(inFlight, drained);
        return;
    }
    SendTransfer(context, running, inFlight, drained);
}

// What both completion routines share: the transfer's owner, the in-flight
// mark, and the count released unless the resubmission DPC took the transfer.
NTSTATUS CUsbCamera::FinishTransfer(PIRP irp, PVOID context, bool (CUsbCamera::*completed)(tagTransferContext*, PIRP),
                                    tagLockedUlong CUsbCamera::*inFlight, KEVENT CUsbCamera::*drained)
{
    auto* transfer = static_cast<tagTransferContext*>(context);
    CUsbCamera* self = transfer != nullptr ? transfer->pOwner : nullptr;
    if (self == nullptr) {
        irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    transfer->ucInFlight = 0;
    if (transfer->pUrb == nullptr || self->Device == nullptr) {
        irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
    } else if ((self->*completed)(transfer, irp)) {
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    ReleaseInFlight(&(self->*inFlight), &(self->*drained));
    return STATUS_MORE_PROCESSING_REQUIRED;
}
