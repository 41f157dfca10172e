// The video channel: three isochronous transfers of 16 packets kept in
// flight on pipe 4, each completed transfer fed to the frame collector.
// Errors are not retried here: they ask the frame pipeline for a restart.
#include "usb/CUsbCamera.h"
#include "usb/SpinLockByIrql.h"
#include "usb/TransferCounter.h"

#include <cstring>

VOID CUsbCamera::PrepareVideoTransfer(tagTransferContext* context)
{
    memset(context->pUrb, 0, VIDEO_URB_BYTES);
    auto& transfer = context->pUrb->UrbIsochronousTransfer;
    const ULONG packetBytes = PipeMaxPacket[USB_VIDEO_PIPE];
    transfer.Hdr.Length = static_cast<USHORT>(VIDEO_URB_BYTES);
    transfer.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    transfer.PipeHandle = PipeHandle[USB_VIDEO_PIPE];
    transfer.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK | USBD_START_ISO_TRANSFER_ASAP;
    transfer.TransferBuffer = context->pData;
    transfer.TransferBufferLength = VIDEO_PACKETS_PER_TRANSFER * packetBytes;
    transfer.NumberOfPackets = VIDEO_PACKETS_PER_TRANSFER;
    for (ULONG i = 0; i < VIDEO_PACKETS_PER_TRANSFER; ++i) {
        transfer.IsoPacket[i].Offset = i * packetBytes;
    }
    PrepareTransferIrp(context, VideoComplete);
}

bool CUsbCamera::StartVideo()
{
    CTransportHold hold(this);
    if (!IsConfigured() || ReadLockedFlag(&VideoStarted) || CollectBuffer == nullptr) {
        return false;
    }
    for (tagTransferContext* context : VideoContext) {
        PrepareVideoTransfer(context);
    }
    ResetCollector();
    ResetRawFrames();
    ResetInFlight(&VideoInFlight, &VideoDrained);
    if (!ResetVideoPipe() || !DeviceReady()) {
        return false;
    }
    WriteLockedFlag(&VideoRunning, TRUE);
    for (tagTransferContext* context : VideoContext) {
        AddInFlight(&VideoInFlight, &VideoDrained);
        SendTransfer(context, &VideoRunning, &VideoInFlight, &VideoDrained);
    }
    WriteLockedFlag(&VideoStarted, TRUE);
    return true;
}

VOID CUsbCamera::StopVideo()
{
    CTransportHold hold(this);
    WriteLockedFlag(&VideoRunning, FALSE);
    AbortVideoPipe();
    if (!InFlightSettled(&VideoInFlight, &VideoDrained)) {
        KeWaitForSingleObject(&VideoDrained, Executive, KernelMode, FALSE, nullptr);
    }
    WriteLockedFlag(&VideoStarted, FALSE);
}

// True when the resubmission DPC is queued (the transfer stays counted).
bool CUsbCamera::VideoCompleted(tagTransferContext* context, PIRP irp)
{
    const NTSTATUS status = irp->IoStatus.Status;
    if (status == STATUS_CANCELLED) {
        return false; // a stop's abort: no restart either
    }
    if (!NT_SUCCESS(status) || USBD_ERROR(context->pUrb->UrbHeader.Status)) {
        if (GetDevicePresent(Device) && GetUsbConfigured(Device) && ReadLockedFlag(&VideoRunning)) {
            SetRestartRequested(Device, TRUE);
        }
        return false;
    }
    CollectTransfer(context);
    return KeInsertQueueDpc(&context->Dpc, nullptr, nullptr) != FALSE;
}

NTSTATUS NTAPI CUsbCamera::VideoComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context)
{
    (void)DeviceObject;
    return FinishTransfer(Irp, Context, &CUsbCamera::VideoCompleted, &CUsbCamera::VideoInFlight,
                          &CUsbCamera::VideoDrained);
}

VOID NTAPI CUsbCamera::VideoDpc(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2)
{
    (void)Dpc;
    (void)SystemArgument1;
    (void)SystemArgument2;
    auto* context = static_cast<tagTransferContext*>(DeferredContext);
    CUsbCamera* self = context->pOwner;
    self->PrepareVideoTransfer(context);
    self->Resubmit(context, &self->VideoRunning, &self->VideoInFlight, &self->VideoDrained);
}
