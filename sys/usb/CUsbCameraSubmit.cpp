// Synchronous URB submission: one request at a time under RequestLock, sent
// down with IOCTL_INTERNAL_USB_SUBMIT_URB and waited for up to RequestTimeout;
// a request the lower driver does not answer in time is cancelled. Callers
// judge the request by the URB's own status.
#include "usb/CUsbCamera.h"
#include "usb/SyncRequest.h"

#include <cstring>

namespace {

VOID AcquireRequestLock(PKSEMAPHORE Lock)
{
    KeWaitForSingleObject(Lock, Executive, KernelMode, FALSE, nullptr);
}

VOID ReleaseRequestLock(PKSEMAPHORE Lock)
{
    KeReleaseSemaphore(Lock, 0, 1, FALSE);
}

VOID PrepareUrbStackLocation(PIRP Irp, PURB Urb, ULONG Ioctl, PKEVENT Done)
{
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = Ioctl;
    next->Parameters.Others.Argument1 = Urb;
    IoSetCompletionRoutine(Irp, SyncRequestComplete, Done, TRUE, TRUE, TRUE);
}

} // namespace

bool CUsbCamera::IsConfigured()
{
    return Device != nullptr && GetUsbConfigured(Device);
}

// Sends the prepared IRP and waits for it. A request that times out is
// cancelled and waited for again, so the IRP is back before it is reused or
// freed; it then counts as failed whatever the lower driver made of it.
bool CUsbCamera::SendAndWait(PIRP irp, PURB urb, ULONG ioctl, bool checkDeviceState)
{
    KEVENT done;
    KeInitializeEvent(&done, SynchronizationEvent, FALSE);
    PrepareUrbStackLocation(irp, urb, ioctl, &done);
    if (checkDeviceState &&
        (!GetDevicePresent(Device) || GetDevicePowerState(Device) != PowerDeviceD0)) {
        return false;
    }
    NTSTATUS status = IofCallDriver(Device->PhysicalDeviceObject, irp);
    if (status != STATUS_PENDING) {
        return NT_SUCCESS(status);
    }
    LARGE_INTEGER timeout;
    timeout.QuadPart = RequestTimeout;
    status = KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout);
    if (status == STATUS_TIMEOUT) {
        IoCancelIrp(irp);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        return false;
    }
    return NT_SUCCESS(status);
}

bool CUsbCamera::SubmitUrbWait(PURB urb, ULONG ioctl)
{
    AcquireRequestLock(&RequestLock);
    bool result = false;
    if (urb != nullptr && RequestIrp != nullptr && Device != nullptr) {
        // The IRP may come back cancelled from a timed-out request: start clean.
        IoReuseIrp(RequestIrp, STATUS_SUCCESS);
        result = SendAndWait(RequestIrp, urb, ioctl, true);
    }
    ReleaseRequestLock(&RequestLock);
    return result;
}

bool CUsbCamera::SubmitUrbWaitOwnIrp(PURB urb, ULONG ioctl)
{
    AcquireRequestLock(&RequestLock);
    bool result = false;
    if (urb != nullptr && Device != nullptr) {
        PIRP irp = IoAllocateIrp(Device->PhysicalDeviceObject->StackSize, FALSE);
        if (irp != nullptr) {
            result = SendAndWait(irp, urb, ioctl, false);
            IoFreeIrp(irp);
        }
    }
    ReleaseRequestLock(&RequestLock);
    return result;
}

// A stop waits until its transfers are back, which only the abort brings
// about: the abort goes out on the URB and IRP reserved at Open, never on
// pool that may be gone. The status channel's abort also runs during removal
// and power-down, hence checkDeviceState.
bool CUsbCamera::AbortPipe(ULONG pipe, bool checkDeviceState)
{
    if (!IsConfigured() || PipeHandle[pipe] == nullptr) {
        return false;
    }
    AcquireRequestLock(&RequestLock);
    bool result = false;
    if (AbortIrp != nullptr && AbortUrb != nullptr) {
        constexpr ULONG urbBytes = sizeof(struct _URB_PIPE_REQUEST);
        memset(AbortUrb, 0, urbBytes);
        AbortUrb->UrbHeader.Length = urbBytes;
        AbortUrb->UrbHeader.Function = URB_FUNCTION_ABORT_PIPE;
        AbortUrb->UrbPipeRequest.PipeHandle = PipeHandle[pipe];
        IoReuseIrp(AbortIrp, STATUS_SUCCESS);
        result = SendAndWait(AbortIrp, AbortUrb, IOCTL_INTERNAL_USB_SUBMIT_URB, checkDeviceState) &&
                 USBD_SUCCESS(AbortUrb->UrbHeader.Status);
    }
    ReleaseRequestLock(&RequestLock);
    return result;
}

// Waits for a synchronous request in progress before the IRPs go.
VOID CUsbCamera::FreeRequestIrp()
{
    AcquireRequestLock(&RequestLock);
    PIRP irps[2] = {RequestIrp, AbortIrp};
    RequestIrp = nullptr;
    AbortIrp = nullptr;
    KorvalFree(AbortUrb);
    AbortUrb = nullptr;
    ReleaseRequestLock(&RequestLock);
    for (PIRP irp : irps) {
        if (irp != nullptr) {
            IoFreeIrp(irp);
        }
    }
}
