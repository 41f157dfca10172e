// What a listener on the bus sees of each transfer, as a USB analyser on the
// wire would: the submission and the completion of every URB that causes bus
// traffic (control requests with their set-up packet, interrupt and
// isochronous transfers with their packets). The driver does not know about
// listeners; the bus calls them with its lock held, so a listener must not
// call back into the bus.
#pragma once

#include "host/usb/usb_device.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korval::host {

enum class TransferType : std::uint8_t { Isochronous = 0, Interrupt = 1, Control = 2, Bulk = 3 };

struct IsoPacketEvent {
    std::uint32_t offset = 0;
    std::uint32_t length = 0; // submission: room for the packet; completion: bytes received
    std::int32_t status = 0;  // USBD_STATUS
};

struct TransferEvent {
    bool completion = false;         // false: submission
    std::uint64_t id = 0;            // the same for a URB's submission and completion
    TransferType type = TransferType::Control;
    std::uint8_t endpoint = 0;       // bit 7: device to host
    std::optional<SetupPacket> setup; // control submissions
    std::int32_t status = 0;         // USBD_STATUS of a completion
    std::uint32_t length = 0;        // submission: bytes asked for or sent; completion: bytes moved
    std::span<const std::uint8_t> data; // OUT data of a submission, IN data of a completion
    std::uint32_t startFrame = 0;
    std::uint32_t errorCount = 0;
    std::uint32_t interval = 0;
    std::vector<IsoPacketEvent> packets;
    std::int64_t time = 0;           // the platform clock, 100 ns ticks
};

class BusTap {
public:
    virtual ~BusTap() = default;
    virtual void transfer(const TransferEvent& event) = 0;
};

} // namespace korval::host
