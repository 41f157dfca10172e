// The USBD library routines that walk a configuration descriptor and build the
// select-configuration request. Every walk stays inside the descriptor's
// wTotalLength and stops at a zero-length descriptor, so a malformed
// descriptor set yields "not found" instead of a loop or an overread.
#include "host/usb/usbd_library.h"

#include "platform/Pool.h"
#include "platform/Usb.h"

#include <cstring>

namespace {

const UCHAR* descriptorEnd(PUSB_CONFIGURATION_DESCRIPTOR configuration)
{
    return reinterpret_cast<const UCHAR*>(configuration) + configuration->wTotalLength;
}

bool matches(LONG wanted, UCHAR actual)
{
    return wanted == -1 || wanted == static_cast<LONG>(actual);
}

} // namespace

extern "C" PUSB_COMMON_DESCRIPTOR NTAPI USBD_ParseDescriptors(PVOID DescriptorBuffer,
                                                              ULONG TotalLength,
                                                              PVOID StartPosition,
                                                              LONG DescriptorType)
{
    if (DescriptorBuffer == nullptr || StartPosition == nullptr) {
        return nullptr;
    }
    const UCHAR* const begin = static_cast<const UCHAR*>(DescriptorBuffer);
    const UCHAR* const end = begin + TotalLength;
    const UCHAR* cursor = static_cast<const UCHAR*>(StartPosition);
    if (cursor < begin) {
        return nullptr;
    }
    while (cursor + sizeof(USB_COMMON_DESCRIPTOR) <= end) {
        auto* common = reinterpret_cast<PUSB_COMMON_DESCRIPTOR>(const_cast<UCHAR*>(cursor));
        if (common->bLength < sizeof(USB_COMMON_DESCRIPTOR) || cursor + common->bLength > end) {
            return nullptr;
        }
        if (common->bDescriptorType == DescriptorType) {
            return common;
        }
        cursor += common->bLength;
    }
    return nullptr;
}

extern "C" PUSB_INTERFACE_DESCRIPTOR NTAPI USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PVOID StartPosition,
    LONG InterfaceNumber, LONG AlternateSetting, LONG InterfaceClass, LONG InterfaceSubClass,
    LONG InterfaceProtocol)
{
    if (ConfigurationDescriptor == nullptr) {
        return nullptr;
    }
    const UCHAR* const end = descriptorEnd(ConfigurationDescriptor);
    PVOID start = StartPosition;
    for (;;) {
        PUSB_COMMON_DESCRIPTOR found =
            USBD_ParseDescriptors(ConfigurationDescriptor, ConfigurationDescriptor->wTotalLength,
                                  start, USB_INTERFACE_DESCRIPTOR_TYPE);
        if (found == nullptr) {
            return nullptr;
        }
        auto* candidate = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(found);
        const bool whole = reinterpret_cast<const UCHAR*>(candidate) + sizeof(*candidate) <= end &&
                           candidate->bLength >= sizeof(*candidate);
        if (whole && matches(InterfaceNumber, candidate->bInterfaceNumber) &&
            matches(AlternateSetting, candidate->bAlternateSetting) &&
            matches(InterfaceClass, candidate->bInterfaceClass) &&
            matches(InterfaceSubClass, candidate->bInterfaceSubClass) &&
            matches(InterfaceProtocol, candidate->bInterfaceProtocol)) {
            return candidate;
        }
        start = reinterpret_cast<UCHAR*>(candidate) + candidate->bLength;
    }
}

extern "C" PURB NTAPI USBD_CreateConfigurationRequestEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PUSBD_INTERFACE_LIST_ENTRY InterfaceList)
{
    if (ConfigurationDescriptor == nullptr || InterfaceList == nullptr) {
        return nullptr;
    }
    SIZE_T interfacesBytes = 0;
    ULONG interfaces = 0;
    for (PUSBD_INTERFACE_LIST_ENTRY entry = InterfaceList; entry->InterfaceDescriptor != nullptr;
         ++entry) {
        const ULONG pipes = entry->InterfaceDescriptor->bNumEndpoints;
        interfacesBytes += GET_USBD_INTERFACE_SIZE(pipes == 0 ? 1 : pipes);
        ++interfaces;
    }
    if (interfaces == 0) {
        return nullptr;
    }
    const SIZE_T urbBytes =
        sizeof(struct _URB_SELECT_CONFIGURATION) - sizeof(USBD_INTERFACE_INFORMATION) + interfacesBytes;
    if (urbBytes > 0xFFFF) {
        return nullptr;
    }
    auto* urb = static_cast<PURB>(
        ExAllocatePoolWithTag(NonPagedPool, urbBytes, korval::host::kUsbdPoolTag));
    if (urb == nullptr) {
        return nullptr;
    }
    std::memset(urb, 0, urbBytes);
    auto* cursor = reinterpret_cast<UCHAR*>(&urb->UrbSelectConfiguration.Interface);
    for (PUSBD_INTERFACE_LIST_ENTRY entry = InterfaceList; entry->InterfaceDescriptor != nullptr;
         ++entry) {
        const PUSB_INTERFACE_DESCRIPTOR descriptor = entry->InterfaceDescriptor;
        auto* information = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(cursor);
        const ULONG pipes = descriptor->bNumEndpoints;
        information->Length = static_cast<USHORT>(GET_USBD_INTERFACE_SIZE(pipes == 0 ? 1 : pipes));
        information->InterfaceNumber = descriptor->bInterfaceNumber;
        information->AlternateSetting = descriptor->bAlternateSetting;
        information->NumberOfPipes = pipes;
        for (ULONG pipe = 0; pipe < pipes; ++pipe) {
            information->Pipes[pipe].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
        }
        entry->Interface = information;
        cursor += information->Length;
    }
    UsbBuildSelectConfigurationRequest(urb, urbBytes, ConfigurationDescriptor);
    return urb;
}
