// Selecting the configuration and the alternate setting of interface 0, and
// the values that follow from the selection.
#include "usb/CUsbCamera.h"

#include <cstring>

namespace {

// Alternate settings the driver can drive: six pipes at least, and no more
// endpoints than it keeps descriptors for.
constexpr ULONG MIN_SETTING_ENDPOINTS = USB_PIPE_COUNT;

} // namespace

bool CUsbCamera::SelectConfiguration()
{
    if (ConfigDescriptor == nullptr || InterfaceDescriptor[0] == nullptr) {
        return false;
    }
    USBD_INTERFACE_LIST_ENTRY list[2] = {{InterfaceDescriptor[0], nullptr}, {nullptr, nullptr}};
    PURB urb = USBD_CreateConfigurationRequestEx(ConfigDescriptor, list);
    if (urb == nullptr) {
        return false;
    }
    const bool ok = SubmitUrbWait(urb, IOCTL_INTERNAL_USB_SUBMIT_URB) && USBD_SUCCESS(urb->UrbHeader.Status);
    if (ok) {
        ConfigurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
    }
    ExFreePool(urb);
    return ok;
}

// Forgets the configuration first, so nothing uses the old handles while the
// request is on its way; sent with its own IRP, as it also runs during removal.
bool CUsbCamera::Unconfigure()
{
    ConfigurationHandle = nullptr;
    memset(PipeHandle, 0, sizeof(PipeHandle));
    memset(PipeMaxPacket, 0, sizeof(PipeMaxPacket));
    constexpr ULONG urbBytes = sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST);
    auto* urb = static_cast<PURB>(KorvalAllocate(urbBytes));
    if (urb == nullptr) {
        return false;
    }
    memset(urb, 0, urbBytes);
    UsbBuildSelectConfigurationRequest(urb, urbBytes, nullptr);
    const bool ok = SubmitUrbWaitOwnIrp(urb, IOCTL_INTERNAL_USB_SUBMIT_URB) && USBD_SUCCESS(urb->UrbHeader.Status);
    KorvalFree(urb);
    return ok;
}

bool CUsbCamera::SelectAlternateSetting(UCHAR alternate)
{
    if (alternate >= USB_ALTERNATE_SETTING_COUNT || ConfigurationHandle == nullptr ||
        InterfaceDescriptor[alternate] == nullptr) {
        return false;
    }
    const ULONG endpoints = InterfaceDescriptor[alternate]->bNumEndpoints;
    if (endpoints < MIN_SETTING_ENDPOINTS || endpoints > USB_MAX_ENDPOINTS) {
        return false;
    }
    const ULONG urbBytes = GET_SELECT_INTERFACE_REQUEST_SIZE(endpoints);
    auto* urb = static_cast<PURB>(KorvalAllocate(urbBytes));
    if (urb == nullptr) {
        return false;
    }
    memset(urb, 0, urbBytes);
    UsbBuildSelectInterfaceRequest(urb, urbBytes, ConfigurationHandle, 0, alternate);
    USBD_INTERFACE_INFORMATION& information = urb->UrbSelectInterface.Interface;
    information.Length = static_cast<USHORT>(GET_USBD_INTERFACE_SIZE(endpoints));
    for (ULONG pipe = 0; pipe < endpoints; ++pipe) {
        // One isochronous URB carries VIDEO_PACKETS_PER_TRANSFER packets.
        const ULONG packet = EndpointDescriptor[alternate][pipe]->wMaxPacketSize;
        information.Pipes[pipe].MaximumTransferSize =
            pipe == USB_VIDEO_PIPE ? VIDEO_PACKETS_PER_TRANSFER * packet : packet;
    }
    const bool ok = SubmitUrbWait(urb, IOCTL_INTERNAL_USB_SUBMIT_URB) &&
                    USBD_SUCCESS(urb->UrbHeader.Status) && information.NumberOfPipes >= USB_PIPE_COUNT;
    if (ok) {
        StorePipes(information, alternate);
    }
    KorvalFree(urb);
    return ok;
}

VOID CUsbCamera::StorePipes(const USBD_INTERFACE_INFORMATION& information, UCHAR alternate)
{
    CurrentAlternate = alternate;
    IdleAlternateOwed = FALSE;
    for (ULONG pipe = 0; pipe < USB_PIPE_COUNT; ++pipe) {
        PipeHandle[pipe] = information.Pipes[pipe].PipeHandle;
        PipeMaxPacket[pipe] = information.Pipes[pipe].MaximumPacketSize;
    }
    // Sixteen packets of this size fill one transfer buffer: what the stack
    // reports is held to the largest full-speed isochronous packet.
    if (PipeMaxPacket[USB_VIDEO_PIPE] > USB_ISOCH_MAX_PACKET) {
        PipeMaxPacket[USB_VIDEO_PIPE] = USB_ISOCH_MAX_PACKET;
    }
}

// The collector copies up to MarkerSkipBytes into its buffer before it looks
// for a marker again: more than the buffer holds is refused.
bool CUsbCamera::SetMarkerSkipBytes(ULONG bytes)
{
    if (!IsConfigured() || ReadLockedFlag(&VideoStarted) || ReadLockedFlag(&VideoRunning) ||
        bytes > FrameBufferBytes) {
        return false;
    }
    MarkerSkipBytes = bytes;
    return true;
}

ULONG CUsbCamera::GetVideoPacketSize()
{
    return IsConfigured() ? PipeMaxPacket[USB_VIDEO_PIPE] : 0;
}
