// The URB functions the bus understands: descriptors, configuration and
// interface selection with bandwidth reservation, pipe abort and reset, vendor
// and class requests, and the queueing of bulk, interrupt and isochronous
// transfers. Every field the driver supplies is checked before it is used.
#include "host/usb/usb_bus.h"
#include "host/usb/setup_packets.h"
#include "host/usb/usb_status.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace korval::host {
namespace {

constexpr std::uint32_t kMaxIsoPackets = 255;

// The packet table fits the record and every packet starts inside the
// buffer, in ascending order.
bool packetsValid(PURB urb)
{
    const auto& iso = urb->UrbIsochronousTransfer;
    if (iso.NumberOfPackets == 0 || iso.NumberOfPackets > kMaxIsoPackets ||
        urb->UrbHeader.Length < GET_ISO_URB_SIZE(iso.NumberOfPackets)) {
        return false;
    }
    for (ULONG i = 0; i < iso.NumberOfPackets; ++i) {
        if (iso.IsoPacket[i].Offset >= iso.TransferBufferLength ||
            (i > 0 && iso.IsoPacket[i].Offset < iso.IsoPacket[i - 1].Offset)) {
            return false;
        }
    }
    return true;
}

} // namespace

UsbBus::Outcome UsbBus::handleUrb(PIRP irp, PURB urb, std::size_t traceIndex)
{
    const UrbFault* fault = matchFault(urb);
    if (fault != nullptr && fault->effect == UrbFault::Effect::Complete) {
        return {false, fault->status, ntStatusFor(fault->status)};
    }
    const USHORT function = urb->UrbHeader.Function;
    if (fault != nullptr && fault->effect == UrbFault::Effect::NoAnswer) {
        // A silent transfer stays on its pipe, so that aborting the pipe ends it.
        const bool transfer =
            function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER || function == URB_FUNCTION_ISOCH_TRANSFER;
        const int pipe = transfer ? pipeFromHandle(urb->UrbBulkOrInterruptTransfer.PipeHandle) : -1;
        return queueTransfer(irp, urb, pipe, traceIndex, true);
    }
    if (fault != nullptr && fault->effect == UrbFault::Effect::Stall &&
        function != URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) {
        return {false, USBD_STATUS_STALL_PID, STATUS_UNSUCCESSFUL};
    }
    Outcome outcome;
    switch (function) {
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE: outcome = handleDescriptor(urb); break;
    case URB_FUNCTION_SELECT_CONFIGURATION: outcome = handleSelectConfiguration(urb); break;
    case URB_FUNCTION_SELECT_INTERFACE: outcome = handleSelectInterface(urb); break;
    case URB_FUNCTION_ABORT_PIPE:
    case URB_FUNCTION_RESET_PIPE: outcome = handlePipeRequest(urb); break;
    case URB_FUNCTION_GET_CURRENT_FRAME_NUMBER:
        if (urb->UrbHeader.Length < sizeof(struct _URB_GET_CURRENT_FRAME_NUMBER)) {
            return {false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
        }
        urb->UrbGetCurrentFrameNumber.FrameNumber = static_cast<ULONG>(frame_);
        return {};
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
    case URB_FUNCTION_ISOCH_TRANSFER: return handleTransfer(irp, urb, traceIndex, fault);
    default:
        if (!isVendorOrClass(function)) {
            return {false, USBD_STATUS_INVALID_URB_FUNCTION, STATUS_INVALID_PARAMETER};
        }
        outcome = handleVendorOrClass(urb, fault);
        break;
    }
    if (options_.controlDelayFrames > 0 && !outcome.pended) {
        // A slow stack: the finished request is handed back later by the bus.
        const Outcome delayed = queueTransfer(irp, urb, -1, traceIndex, false);
        pending_.back().status = outcome.status;
        pending_.back().ntStatus = outcome.ntStatus;
        return delayed;
    }
    return outcome;
}

UsbBus::Outcome UsbBus::handleDescriptor(PURB urb)
{
    if (urb->UrbHeader.Length < sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST)) {
        return {false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    }
    auto& request = urb->UrbControlDescriptorRequest;
    if (request.TransferBuffer == nullptr && request.TransferBufferLength != 0) {
        return {false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    }
    const std::vector<std::uint8_t> bytes = device_.descriptor(request.DescriptorType, request.Index);
    if (bytes.empty()) {
        request.TransferBufferLength = 0;
        return {false, USBD_STATUS_STALL_PID, STATUS_UNSUCCESSFUL};
    }
    const std::size_t count = std::min<std::size_t>(bytes.size(), request.TransferBufferLength);
    if (count > 0) {
        std::memcpy(request.TransferBuffer, bytes.data(), count);
    }
    request.TransferBufferLength = static_cast<ULONG>(count);
    return {};
}

// ---------------------------------------------------------------------------
// Configuration

bool UsbBus::readDeviceConfiguration()
{
    configurationDescriptor_ = device_.descriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0);
    alternates_.clear();
    const std::vector<std::uint8_t>& bytes = configurationDescriptor_;
    std::size_t offset = 0;
    while (offset + 2 <= bytes.size() && bytes[offset] >= 2 && offset + bytes[offset] <= bytes.size()) {
        const std::uint8_t type = bytes[offset + 1];
        if (type == USB_INTERFACE_DESCRIPTOR_TYPE && bytes[offset] >= sizeof(USB_INTERFACE_DESCRIPTOR)) {
            AlternateInfo info;
            info.interface = reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(&bytes[offset]);
            alternates_.push_back(info);
        } else if (type == USB_ENDPOINT_DESCRIPTOR_TYPE && !alternates_.empty() &&
                   bytes[offset] >= sizeof(USB_ENDPOINT_DESCRIPTOR)) {
            alternates_.back().endpoints.push_back(
                reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(&bytes[offset]));
        }
        offset += bytes[offset];
    }
    return !alternates_.empty();
}

const UsbBus::AlternateInfo* UsbBus::findAlternate(int interfaceNumber, int alternate) const
{
    for (const AlternateInfo& info : alternates_) {
        if (info.interface->bInterfaceNumber == interfaceNumber &&
            info.interface->bAlternateSetting == alternate &&
            info.endpoints.size() == info.interface->bNumEndpoints) {
            return &info;
        }
    }
    return nullptr;
}

// Bytes per frame that the setting's periodic endpoints reserve.
std::uint32_t UsbBus::periodicBytes(const AlternateInfo& alternate) const
{
    std::uint32_t bytes = 0;
    for (const USB_ENDPOINT_DESCRIPTOR* endpoint : alternate.endpoints) {
        const int type = endpoint->bmAttributes & USB_ENDPOINT_TYPE_MASK;
        if (type == USB_ENDPOINT_TYPE_ISOCHRONOUS || type == USB_ENDPOINT_TYPE_INTERRUPT) {
            bytes += endpoint->wMaxPacketSize & 0x7FF;
        }
    }
    return bytes;
}

// Replaces the open pipes by those of the setting and reports them. A new
// generation makes every handle of the old pipes invalid.
void UsbBus::openPipes(const AlternateInfo& alternate, USBD_INTERFACE_INFORMATION& information)
{
    ++generation_;
    pipes_.clear();
    information.Class = alternate.interface->bInterfaceClass;
    information.SubClass = alternate.interface->bInterfaceSubClass;
    information.Protocol = alternate.interface->bInterfaceProtocol;
    information.InterfaceHandle =
        reinterpret_cast<USBD_INTERFACE_HANDLE>(static_cast<std::uintptr_t>(0x1F000000U | generation_));
    information.NumberOfPipes = static_cast<ULONG>(alternate.endpoints.size());
    for (std::size_t i = 0; i < alternate.endpoints.size(); ++i) {
        const USB_ENDPOINT_DESCRIPTOR* endpoint = alternate.endpoints[i];
        USBD_PIPE_INFORMATION& pipe = information.Pipes[i];
        Pipe open;
        open.address = endpoint->bEndpointAddress;
        open.attributes = endpoint->bmAttributes;
        open.maxPacket = static_cast<std::uint16_t>(endpoint->wMaxPacketSize & 0x7FF);
        open.interval = endpoint->bInterval;
        open.maxTransfer = pipe.MaximumTransferSize;
        pipes_.push_back(open);
        pipe.MaximumPacketSize = open.maxPacket;
        pipe.EndpointAddress = open.address;
        pipe.Interval = open.interval;
        pipe.PipeType = open.type();
        pipe.PipeHandle = reinterpret_cast<USBD_PIPE_HANDLE>(
            static_cast<std::uintptr_t>((generation_ << 8) | (i + 1)));
    }
    alternate_ = alternate.interface->bAlternateSetting;
}

int UsbBus::pipeFromHandle(USBD_PIPE_HANDLE handle) const
{
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    const std::uintptr_t index = value & 0xFF;
    if ((value >> 8) != generation_ || index == 0 || index > pipes_.size() || !configured_) {
        return -1;
    }
    return static_cast<int>(index - 1);
}

UsbBus::Outcome UsbBus::handleSelectConfiguration(PURB urb)
{
    constexpr std::size_t kHeadBytes = offsetof(struct _URB_SELECT_CONFIGURATION, Interface);
    if (urb->UrbHeader.Length < kHeadBytes) {
        return {false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    }
    auto& select = urb->UrbSelectConfiguration;
    takeAllPending(-1, USBD_STATUS_CANCELED, STATUS_CANCELLED);
    if (select.ConfigurationDescriptor == nullptr) {
        configured_ = false;
        configurationHandle_ = nullptr;
        pipes_.clear();
        ++generation_;
        device_.configured(false);
        return {};
    }
    USBD_INTERFACE_INFORMATION& information = select.Interface;
    const std::size_t available = urb->UrbHeader.Length - kHeadBytes;
    if (available < offsetof(USBD_INTERFACE_INFORMATION, Pipes) || information.Length > available) {
        return {false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    }
    const AlternateInfo* alternate =
        findAlternate(information.InterfaceNumber, information.AlternateSetting);
    if (alternate == nullptr) {
        return {false, USBD_STATUS_INTERFACE_NOT_FOUND, STATUS_UNSUCCESSFUL};
    }
    if (information.Length < GET_USBD_INTERFACE_SIZE(std::max<std::size_t>(1, alternate->endpoints.size()))) {
        return {false, USBD_STATUS_BUFFER_TOO_SMALL, STATUS_INVALID_PARAMETER};
    }
    if (periodicBytes(*alternate) > options_.bandwidthBytesPerFrame) {
        return {false, USBD_STATUS_NO_BANDWIDTH, STATUS_UNSUCCESSFUL};
    }
    configured_ = true;
    device_.configured(true);
    openPipes(*alternate, information);
    device_.alternateSelected(information.InterfaceNumber, alternate_);
    configurationHandle_ =
        reinterpret_cast<USBD_CONFIGURATION_HANDLE>(static_cast<std::uintptr_t>(0xC0000000U | generation_));
    select.ConfigurationHandle = configurationHandle_;
    return {};
}

UsbBus::Outcome UsbBus::handleSelectInterface(PURB urb)
{
    constexpr std::size_t kHeadBytes = offsetof(struct _URB_SELECT_INTERFACE, Interface);
    if (urb->UrbHeader.Length < kHeadBytes + offsetof(USBD_INTERFACE_INFORMATION, Pipes)) {
        return {false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    }
    auto& select = urb->UrbSelectInterface;
    USBD_INTERFACE_INFORMATION& information = select.Interface;
    if (!configured_ || select.ConfigurationHandle != configurationHandle_) {
        return {false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    }
    const AlternateInfo* alternate =
        findAlternate(information.InterfaceNumber, information.AlternateSetting);
    if (alternate == nullptr) {
        return {false, USBD_STATUS_INTERFACE_NOT_FOUND, STATUS_UNSUCCESSFUL};
    }
    const std::size_t needed = GET_USBD_INTERFACE_SIZE(std::max<std::size_t>(1, alternate->endpoints.size()));
    if (information.Length < needed || urb->UrbHeader.Length < kHeadBytes + needed) {
        return {false, USBD_STATUS_BUFFER_TOO_SMALL, STATUS_INVALID_PARAMETER};
    }
    if (periodicBytes(*alternate) > options_.bandwidthBytesPerFrame) {
        return {false, USBD_STATUS_NO_BANDWIDTH, STATUS_UNSUCCESSFUL};
    }
    takeAllPending(-1, USBD_STATUS_CANCELED, STATUS_CANCELLED);
    openPipes(*alternate, information);
    device_.alternateSelected(information.InterfaceNumber, alternate_);
    return {};
}

UsbBus::Outcome UsbBus::handlePipeRequest(PURB urb)
{
    if (urb->UrbHeader.Length < sizeof(struct _URB_PIPE_REQUEST)) {
        return {false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    }
    const int pipe = pipeFromHandle(urb->UrbPipeRequest.PipeHandle);
    if (pipe < 0) {
        return {false, USBD_STATUS_INVALID_PIPE_HANDLE, STATUS_INVALID_PARAMETER};
    }
    if (urb->UrbHeader.Function == URB_FUNCTION_ABORT_PIPE) {
        takeAllPending(pipe, USBD_STATUS_CANCELED, STATUS_CANCELLED);
    } else {
        pipes_[static_cast<std::size_t>(pipe)].halted = false;
    }
    return {};
}

// Vendor and class requests go to the device as they are: for a request to
// the interface, Index is whatever the driver put there (for this camera a
// register number), not checked against the interface numbers.
UsbBus::Outcome UsbBus::handleVendorOrClass(PURB urb, const UrbFault* fault)
{
    if (urb->UrbHeader.Length < sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST)) {
        return {false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    }
    auto& request = urb->UrbControlVendorClassRequest;
    if ((request.TransferBuffer == nullptr && request.TransferBufferLength != 0) ||
        request.TransferBufferLength > 0xFFFF) {
        return {false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    }
    SetupPacket setup;
    setup.requestType = requestTypeFor(urb->UrbHeader.Function, request.TransferFlags);
    setup.request = request.Request;
    setup.value = request.Value;
    setup.index = request.Index;
    setup.length = static_cast<std::uint16_t>(request.TransferBufferLength);
    const ControlResult result = device_.control(setup, static_cast<std::uint8_t*>(request.TransferBuffer));
    if (result.outcome == ControlOutcome::Stall) {
        request.TransferBufferLength = 0;
        return {false, USBD_STATUS_STALL_PID, STATUS_UNSUCCESSFUL};
    }
    std::size_t bytes = std::min<std::size_t>(result.bytes, request.TransferBufferLength);
    if (fault != nullptr && fault->effect == UrbFault::Effect::ShortTransfer) {
        bytes = std::min<std::size_t>(bytes, fault->bytes);
    }
    request.TransferBufferLength = static_cast<ULONG>(bytes);
    return {};
}

// ---------------------------------------------------------------------------
// Transfers

UsbBus::Outcome UsbBus::handleTransfer(PIRP irp, PURB urb, std::size_t traceIndex,
                                       const UrbFault* fault)
{
    const bool isochronous = urb->UrbHeader.Function == URB_FUNCTION_ISOCH_TRANSFER;
    const std::size_t fixedBytes =
        isochronous ? offsetof(struct _URB_ISOCH_TRANSFER, IsoPacket) : sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);
    const Outcome invalid{false, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    if (urb->UrbHeader.Length < fixedBytes) {
        return invalid;
    }
    auto& transfer = urb->UrbBulkOrInterruptTransfer;
    const int pipe = pipeFromHandle(transfer.PipeHandle);
    if (pipe < 0) {
        return {false, USBD_STATUS_INVALID_PIPE_HANDLE, STATUS_INVALID_PARAMETER};
    }
    const Pipe& target = pipes_[static_cast<std::size_t>(pipe)];
    const bool wantsIn = (transfer.TransferFlags & USBD_TRANSFER_DIRECTION) != 0;
    if ((target.type() == UsbdPipeTypeIsochronous) != isochronous || wantsIn != target.in() ||
        (transfer.TransferBuffer == nullptr && transfer.TransferBufferLength != 0) ||
        transfer.TransferBufferLength > target.maxTransfer) {
        return invalid;
    }
    if (isochronous) {
        auto& iso = urb->UrbIsochronousTransfer;
        if (!packetsValid(urb)) {
            return invalid;
        }
        if ((iso.TransferFlags & USBD_START_ISO_TRANSFER_ASAP) == 0 && iso.StartFrame <= frame_) {
            return {false, USBD_STATUS_BAD_START_FRAME, STATUS_UNSUCCESSFUL};
        }
        iso.ErrorCount = 0;
        iso.StartFrame = static_cast<ULONG>(frame_ + 1);
    } else {
        if (fault != nullptr && fault->effect == UrbFault::Effect::Stall) {
            pipes_[static_cast<std::size_t>(pipe)].halted = true;
            return {false, USBD_STATUS_STALL_PID, STATUS_UNSUCCESSFUL};
        }
        if (target.halted) {
            return {false, USBD_STATUS_ENDPOINT_HALTED, STATUS_UNSUCCESSFUL};
        }
    }
    const Outcome queued = queueTransfer(irp, urb, pipe, traceIndex, false);
    if (isochronous && !pending_.empty() && pending_.back().irp == irp) {
        keepLayout(pending_.back());
    }
    return queued;
}

} // namespace korval::host
