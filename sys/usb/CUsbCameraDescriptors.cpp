// Reading the device and configuration descriptors and finding, for each of
// the nine alternate settings of interface 0, its interface descriptor and
// its endpoint descriptors. Everything the device sends is checked against
// what was asked for before it is trusted as a length or a pointer.
#include "usb/CUsbCamera.h"

#include <cstring>

namespace {

constexpr ULONG CONFIG_HEAD_BUFFER_BYTES = 25;
constexpr ULONG CONFIG_SLACK_BYTES = 16;

} // namespace

bool CUsbCamera::ReadDescriptor(UCHAR type, PVOID buffer, ULONG length, PULONG received)
{
    constexpr ULONG urbBytes = sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST);
    auto* urb = static_cast<PURB>(KorvalAllocate(urbBytes));
    if (urb == nullptr) {
        return false;
    }
    memset(urb, 0, urbBytes);
    UsbBuildGetDescriptorRequest(urb, urbBytes, type, 0, 0, buffer, nullptr, length, nullptr);
    const bool ok = SubmitUrbWait(urb, IOCTL_INTERNAL_USB_SUBMIT_URB) && USBD_SUCCESS(urb->UrbHeader.Status);
    *received = urb->UrbControlDescriptorRequest.TransferBufferLength;
    KorvalFree(urb);
    return ok && *received <= length;
}

bool CUsbCamera::GetDeviceDescriptor()
{
    USB_DEVICE_DESCRIPTOR descriptor;
    memset(&descriptor, 0, sizeof(descriptor));
    ULONG received = 0;
    if (!ReadDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, &descriptor, sizeof(descriptor), &received)) {
        return false;
    }
    DeviceDescriptor = descriptor;
    return true;
}

// Two reads: the 9-byte head for wTotalLength, then the whole set. A device
// that sends less than it announced, or announces a different length the
// second time, is refused: the parser walks wTotalLength bytes.
bool CUsbCamera::GetConfigurationDescriptor()
{
    FreeConfigDescriptor();
    auto* head = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(KorvalAllocate(CONFIG_HEAD_BUFFER_BYTES));
    if (head == nullptr) {
        return false;
    }
    memset(head, 0, CONFIG_HEAD_BUFFER_BYTES);
    ULONG received = 0;
    const bool headOk = ReadDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, head,
                                       sizeof(USB_CONFIGURATION_DESCRIPTOR), &received) &&
                        received == sizeof(USB_CONFIGURATION_DESCRIPTOR);
    const ULONG totalLength = head->wTotalLength;
    KorvalFree(head);
    if (!headOk || totalLength < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
        return false;
    }
    auto* whole = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(KorvalAllocate(totalLength + CONFIG_SLACK_BYTES));
    if (whole == nullptr) {
        return false;
    }
    memset(whole, 0, totalLength + CONFIG_SLACK_BYTES);
    if (!ReadDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, whole, totalLength, &received) ||
        received != totalLength || whole->wTotalLength != totalLength) {
        KorvalFree(whole);
        return false;
    }
    ConfigDescriptor = whole;
    BusPower = whole->MaxPower;
    return true;
}

bool CUsbCamera::ParseConfiguration()
{
    ClearParsedDescriptors();
    if (ConfigDescriptor == nullptr) {
        return false;
    }
    for (ULONG alternate = 0; alternate < USB_ALTERNATE_SETTING_COUNT; ++alternate) {
        if (!ParseAlternateSetting(alternate)) {
            ClearParsedDescriptors();
            return false;
        }
    }
    return true;
}

// The endpoints of a setting are the endpoint descriptors that follow its
// interface descriptor, before the next interface descriptor: a setting that
// announces more endpoints than it has must not borrow those of the next one.
bool CUsbCamera::ParseAlternateSetting(ULONG alternate)
{
    const ULONG total = ConfigDescriptor->wTotalLength;
    PUSB_INTERFACE_DESCRIPTOR interface = USBD_ParseConfigurationDescriptorEx(
        ConfigDescriptor, ConfigDescriptor, 0, static_cast<LONG>(alternate), -1, -1, -1);
    if (interface == nullptr || interface->bLength < sizeof(USB_INTERFACE_DESCRIPTOR)) {
        return false;
    }
    InterfaceDescriptor[alternate] = interface;
    PUCHAR start = reinterpret_cast<PUCHAR>(interface) + interface->bLength;
    auto* nextInterface = reinterpret_cast<PUCHAR>(
        USBD_ParseDescriptors(ConfigDescriptor, total, start, USB_INTERFACE_DESCRIPTOR_TYPE));
    const ULONG endpoints = interface->bNumEndpoints;
    for (ULONG i = 0; i < endpoints && i < USB_MAX_ENDPOINTS; ++i) {
        auto* found = reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(
            USBD_ParseDescriptors(ConfigDescriptor, total, start, USB_ENDPOINT_DESCRIPTOR_TYPE));
        if (found == nullptr || found->bLength < sizeof(USB_ENDPOINT_DESCRIPTOR) ||
            (nextInterface != nullptr && reinterpret_cast<PUCHAR>(found) > nextInterface)) {
            return false;
        }
        EndpointDescriptor[alternate][i] = found;
        start = reinterpret_cast<PUCHAR>(found) + found->bLength;
    }
    return true;
}

VOID CUsbCamera::ClearParsedDescriptors()
{
    memset(InterfaceDescriptor, 0, sizeof(InterfaceDescriptor));
    memset(EndpointDescriptor, 0, sizeof(EndpointDescriptor));
}

// The parsed pointers point into the descriptor: they go with it.
VOID CUsbCamera::FreeConfigDescriptor()
{
    ClearParsedDescriptors();
    KorvalFree(ConfigDescriptor);
    ConfigDescriptor = nullptr;
}
