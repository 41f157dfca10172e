// What the emulated bus needs from a device plugged into it. The bus calls
// these from one thread at a time (it holds its own lock around every call),
// so a device needs no locking against the bus, only against its other users.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace korval::host {

struct SetupPacket {
    std::uint8_t requestType = 0; // bmRequestType: bit 7 device-to-host, bits 6..5 type, 4..0 recipient
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;

    bool deviceToHost() const { return (requestType & 0x80) != 0; }
};

enum class ControlOutcome { Ack, Stall };

struct ControlResult {
    ControlOutcome outcome = ControlOutcome::Ack;
    std::size_t bytes = 0; // data-stage bytes actually moved
};

class UsbDevice {
public:
    virtual ~UsbDevice() = default;

    // Descriptor bytes for GET_DESCRIPTOR; empty when the device stalls.
    virtual std::vector<std::uint8_t> descriptor(std::uint8_t type, std::uint8_t index) = 0;

    // A vendor or class request; data holds setup.length bytes (in or out).
    virtual ControlResult control(const SetupPacket& setup, std::uint8_t* data) = 0;

    virtual void configured(bool on) = 0;
    virtual void alternateSelected(std::uint8_t interfaceNumber, std::uint8_t alternate) = 0;

    // Called once per 1 ms bus frame, before the frame's transfers.
    virtual void startOfFrame(std::uint64_t frameNumber) = 0;

    // The isochronous IN packet of this frame: up to capacity bytes. A null
    // buffer means no transfer was waiting, and the data of the frame is lost.
    virtual std::size_t isochronousIn(std::uint8_t endpoint, std::uint8_t* buffer,
                                      std::size_t capacity) = 0;

    // An interrupt IN poll: the bytes of a report, or nothing (NAK).
    virtual std::optional<std::size_t> interruptIn(std::uint8_t endpoint, std::uint8_t* buffer,
                                                   std::size_t capacity) = 0;
};

} // namespace korval::host
