// What the bus shows its listeners: each URB that makes traffic on the wire,
// described from the URB itself when it is submitted and when it comes back.
// Standard requests the USB stack makes for the driver (descriptors,
// configuration, interface, clearing a halt) appear as the control transfers
// they are; pipe aborts and frame-number queries cause no traffic.
#include "host/usb/usb_bus.h"
#include "host/usb/setup_packets.h"

#include "host/kernel/clock.h"

#include <algorithm>

namespace korval::host {
namespace {

constexpr std::uint8_t kDirectionIn = 0x80;

std::span<const std::uint8_t> bytesOf(PVOID buffer, ULONG length)
{
    if (buffer == nullptr || length == 0) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(buffer), length};
}

// The standard or vendor set-up packet of a control URB, or nothing for a URB
// that is no control transfer (or too short to read).
std::optional<SetupPacket> setupOf(PURB urb, std::uint8_t endpointOfPipe)
{
    const USHORT function = urb->UrbHeader.Function;
    const USHORT length = urb->UrbHeader.Length;
    SetupPacket setup;
    if (function == URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE &&
        length >= sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST)) {
        const auto& request = urb->UrbControlDescriptorRequest;
        setup = {0x80, 0x06, static_cast<std::uint16_t>(request.DescriptorType << 8 | request.Index),
                 request.LanguageId, static_cast<std::uint16_t>(std::min<ULONG>(request.TransferBufferLength, 0xFFFF))};
    } else if (function == URB_FUNCTION_SELECT_CONFIGURATION &&
               length >= offsetof(struct _URB_SELECT_CONFIGURATION, Interface)) {
        const auto* descriptor = urb->UrbSelectConfiguration.ConfigurationDescriptor;
        setup = {0x00, 0x09, static_cast<std::uint16_t>(descriptor ? descriptor->bConfigurationValue : 0), 0, 0};
    } else if (function == URB_FUNCTION_SELECT_INTERFACE &&
               length >= offsetof(struct _URB_SELECT_INTERFACE, Interface) + offsetof(USBD_INTERFACE_INFORMATION, Pipes)) {
        const auto& interface = urb->UrbSelectInterface.Interface;
        setup = {0x01, 0x0B, interface.AlternateSetting, interface.InterfaceNumber, 0};
    } else if (function == URB_FUNCTION_RESET_PIPE && length >= sizeof(struct _URB_PIPE_REQUEST)) {
        setup = {0x02, 0x01, 0, endpointOfPipe, 0}; // CLEAR_FEATURE(ENDPOINT_HALT)
    } else if (isVendorOrClass(function) && length >= sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST)) {
        const auto& request = urb->UrbControlVendorClassRequest;
        setup = {requestTypeFor(function, request.TransferFlags), request.Request, request.Value, request.Index,
                 static_cast<std::uint16_t>(std::min<ULONG>(request.TransferBufferLength, 0xFFFF))};
    } else {
        return std::nullopt;
    }
    return setup;
}

// The packet table of an isochronous URB, when it can be read safely.
std::vector<IsoPacketEvent> packetsOf(PURB urb, bool completion, std::uint16_t maxPacket)
{
    const auto& iso = urb->UrbIsochronousTransfer;
    std::vector<IsoPacketEvent> packets;
    if (urb->UrbHeader.Length < offsetof(struct _URB_ISOCH_TRANSFER, IsoPacket) || iso.NumberOfPackets > 255 ||
        urb->UrbHeader.Length < GET_ISO_URB_SIZE(iso.NumberOfPackets)) {
        return packets;
    }
    for (ULONG i = 0; i < iso.NumberOfPackets; ++i) {
        const USBD_ISO_PACKET_DESCRIPTOR& packet = iso.IsoPacket[i];
        const ULONG end = i + 1 < iso.NumberOfPackets ? iso.IsoPacket[i + 1].Offset : iso.TransferBufferLength;
        const ULONG room = end > packet.Offset ? std::min<ULONG>(end - packet.Offset, maxPacket) : 0;
        packets.push_back({packet.Offset, completion ? packet.Length : room, completion ? packet.Status : 0});
    }
    return packets;
}

// The received bytes of a completed isochronous URB: up to the end of the last
// packet that holds data, if that lies inside the buffer.
std::span<const std::uint8_t> isoData(PURB urb, const std::vector<IsoPacketEvent>& packets)
{
    std::uint64_t end = 0;
    for (const IsoPacketEvent& packet : packets) {
        if (packet.length != 0) {
            end = std::max<std::uint64_t>(end, std::uint64_t{packet.offset} + packet.length);
        }
    }
    const auto& iso = urb->UrbIsochronousTransfer;
    return end <= iso.TransferBufferLength ? bytesOf(iso.TransferBuffer, static_cast<ULONG>(end))
                                           : std::span<const std::uint8_t>{};
}

} // namespace

void UsbBus::addTap(BusTap* tap)
{
    std::lock_guard lock(mutex_);
    taps_.push_back(tap);
}

void UsbBus::removeTap(BusTap* tap)
{
    std::lock_guard lock(mutex_);
    std::erase(taps_, tap);
    if (taps_.empty()) {
        tapped_.clear();
    }
}

void UsbBus::publish(const TransferEvent& event)
{
    for (BusTap* tap : taps_) {
        tap->transfer(event);
    }
}

// Lock held. The URB has passed the header check of submit().
void UsbBus::tapSubmitted(std::size_t traceIndex, PURB urb)
{
    if (taps_.empty()) {
        return;
    }
    TransferEvent event;
    event.id = traceIndex;
    event.time = systemClock().now();
    event.startFrame = static_cast<std::uint32_t>(frame_ + 1);
    const USHORT function = urb->UrbHeader.Function;
    const bool transfer = function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER || function == URB_FUNCTION_ISOCH_TRANSFER;
    const int pipe = transfer || function == URB_FUNCTION_RESET_PIPE
                         ? (urb->UrbHeader.Length >= sizeof(struct _URB_PIPE_REQUEST)
                                ? pipeFromHandle(urb->UrbPipeRequest.PipeHandle) : -1)
                         : -1;
    const Pipe* target = pipe >= 0 ? &pipes_[static_cast<std::size_t>(pipe)] : nullptr;
    if (transfer) {
        const std::size_t fixedBytes = function == URB_FUNCTION_ISOCH_TRANSFER
                                           ? offsetof(struct _URB_ISOCH_TRANSFER, IsoPacket)
                                           : sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);
        if (target == nullptr || urb->UrbHeader.Length < fixedBytes) {
            return;
        }
        const auto& bulk = urb->UrbBulkOrInterruptTransfer;
        event.type = function == URB_FUNCTION_ISOCH_TRANSFER ? TransferType::Isochronous
                     : target->type() == UsbdPipeTypeInterrupt ? TransferType::Interrupt
                                                                 : TransferType::Bulk;
        event.endpoint = target->address;
        event.length = bulk.TransferBufferLength;
        event.interval = target->interval;
        if (!target->in()) {
            event.data = bytesOf(bulk.TransferBuffer, bulk.TransferBufferLength);
        }
        if (event.type == TransferType::Isochronous) {
            event.packets = packetsOf(urb, false, target->maxPacket);
        }
    } else {
        event.setup = setupOf(urb, target != nullptr ? target->address : 0);
        if (!event.setup) {
            return;
        }
        event.type = TransferType::Control;
        event.endpoint = event.setup->deviceToHost() ? kDirectionIn : 0;
        event.length = event.setup->length;
        if (!event.setup->deviceToHost() && isVendorOrClass(function)) {
            const auto& request = urb->UrbControlVendorClassRequest;
            event.data = bytesOf(request.TransferBuffer, std::min<ULONG>(request.TransferBufferLength, 0xFFFF));
        }
    }
    tapped_[traceIndex] = {event.type, event.endpoint};
    publish(event);
}

// Lock held.
void UsbBus::tapCompleted(std::size_t traceIndex, PURB urb, USBD_STATUS status)
{
    const auto it = tapped_.find(traceIndex);
    if (it == tapped_.end()) {
        return;
    }
    const TappedUrb tapped = it->second;
    tapped_.erase(it);
    TransferEvent event;
    event.completion = true;
    event.id = traceIndex;
    event.time = systemClock().now();
    event.type = tapped.type;
    event.endpoint = tapped.endpoint;
    event.status = status;
    const bool in = (tapped.endpoint & kDirectionIn) != 0;
    const USHORT function = urb->UrbHeader.Function;
    if (tapped.type == TransferType::Isochronous) {
        const auto& iso = urb->UrbIsochronousTransfer;
        event.packets = packetsOf(urb, true, 0xFFFF);
        event.startFrame = iso.StartFrame;
        event.errorCount = iso.ErrorCount;
        for (const IsoPacketEvent& packet : event.packets) {
            event.length += packet.length;
        }
        event.data = isoData(urb, event.packets);
    } else if (tapped.type != TransferType::Control) {
        const auto& bulk = urb->UrbBulkOrInterruptTransfer;
        event.length = bulk.TransferBufferLength;
        event.data = in ? bytesOf(bulk.TransferBuffer, bulk.TransferBufferLength) : std::span<const std::uint8_t>{};
    } else if (function == URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE) {
        const auto& request = urb->UrbControlDescriptorRequest;
        event.length = request.TransferBufferLength;
        event.data = bytesOf(request.TransferBuffer, request.TransferBufferLength);
    } else if (isVendorOrClass(function)) {
        const auto& request = urb->UrbControlVendorClassRequest;
        event.length = std::min<ULONG>(request.TransferBufferLength, 0xFFFF);
        event.data = in ? bytesOf(request.TransferBuffer, event.length) : std::span<const std::uint8_t>{};
    }
    publish(event);
}

} // namespace korval::host
