// Pipe abort and reset on the status and video pipes, and the vendor control
// request that register access is built on.
#include "usb/CUsbCamera.h"

#include <cstring>

bool CUsbCamera::PipeRequest(USHORT function, ULONG pipe, bool ownIrp)
{
    if (!IsConfigured() || PipeHandle[pipe] == nullptr) {
        return false;
    }
    constexpr ULONG urbBytes = sizeof(struct _URB_PIPE_REQUEST);
    auto* urb = static_cast<PURB>(KorvalAllocate(urbBytes));
    if (urb == nullptr) {
        return false;
    }
    memset(urb, 0, urbBytes);
    urb->UrbHeader.Length = urbBytes;
    urb->UrbHeader.Function = function;
    urb->UrbPipeRequest.PipeHandle = PipeHandle[pipe];
    const bool sent = ownIrp ? SubmitUrbWaitOwnIrp(urb, IOCTL_INTERNAL_USB_SUBMIT_URB)
                             : SubmitUrbWait(urb, IOCTL_INTERNAL_USB_SUBMIT_URB);
    const bool ok = sent && USBD_SUCCESS(urb->UrbHeader.Status);
    KorvalFree(urb);
    return ok;
}

// Stopping the status channel also runs during removal and power-down, when
// SubmitUrbWait would refuse.
bool CUsbCamera::AbortStatusPipe()
{
    return AbortPipe(USB_STATUS_PIPE, false);
}

bool CUsbCamera::AbortVideoPipe()
{
    return AbortPipe(USB_VIDEO_PIPE, true);
}

bool CUsbCamera::ResetStatusPipe()
{
    return PipeRequest(URB_FUNCTION_RESET_PIPE, USB_STATUS_PIPE, false);
}

bool CUsbCamera::ResetVideoPipe()
{
    return PipeRequest(URB_FUNCTION_RESET_PIPE, USB_VIDEO_PIPE, false);
}

// On failure the transferred length is 0, so a caller that reads it without
// looking at the result never takes stale bytes for an answer. Register
// access runs on every frame, so the request block is the object's own,
// filled and read back under RequestLock, and nothing is allocated.
bool CUsbCamera::VendorRequest(USHORT function, ULONG transferFlags, UCHAR requestTypeBits, UCHAR request,
                               USHORT value, USHORT index, PVOID buffer, ULONG length, PULONG transferred)
{
    if (transferred == nullptr || !IsConfigured()) {
        return false;
    }
    *transferred = 0;
    if (buffer == nullptr && length != 0) {
        return false;
    }
    constexpr ULONG urbBytes = sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST);
    KeWaitForSingleObject(&RequestLock, Executive, KernelMode, FALSE, nullptr);
    PURB urb = &VendorUrb;
    memset(urb, 0, sizeof(VendorUrb));
    UsbBuildVendorRequest(urb, function, urbBytes, transferFlags, requestTypeBits, request, value, index,
                          buffer, nullptr, length, nullptr);
    bool ok = false;
    if (RequestIrp != nullptr && Device != nullptr) {
        // As SubmitUrbWait, whose lock is already held here.
        IoReuseIrp(RequestIrp, STATUS_SUCCESS);
        ok = SendAndWait(RequestIrp, urb, IOCTL_INTERNAL_USB_SUBMIT_URB, true) && USBD_SUCCESS(urb->UrbHeader.Status);
    }
    if (ok) {
        const ULONG moved = urb->UrbControlVendorClassRequest.TransferBufferLength;
        *transferred = moved < length ? moved : length;
    }
    KeReleaseSemaphore(&RequestLock, 0, 1, FALSE);
    return ok;
}
