// What one device of a recording answered, arranged for playing it back: its
// control requests with their set-up packets and answers, in order; the data
// of its isochronous IN packets, in order, one packet per bus frame as
// recorded; its interrupt IN reports, each placed after the isochronous
// packets that came before it on the wire; its descriptors.
#pragma once

#include "host/usb/usb_recording.h"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace korval::host {

struct RecordedDevice {
    std::uint16_t bus = 0;
    std::uint16_t address = 0;
    std::optional<std::uint16_t> vendor, product; // from its device descriptor, when recorded
    std::size_t isochronousPackets = 0;           // IN packets received
};

// Every device the recording shows traffic of, in order of appearance.
std::vector<RecordedDevice> devicesOf(const UsbRecording& recording);

struct ReplayScript {
    struct Control {
        SetupPacket setup;
        bool answered = false; // its completion is in the recording
        bool ok = false;
        std::vector<std::uint8_t> answer; // IN data
        std::uint64_t record = 0;
    };
    struct Report {
        std::vector<std::uint8_t> bytes;
        std::size_t afterPackets = 0; // isochronous IN packets of the device before it
    };
    std::vector<Control> controls;
    std::map<std::uint8_t, std::vector<std::vector<std::uint8_t>>> packets; // by endpoint
    std::map<std::uint8_t, std::vector<Report>> reports;                    // by endpoint
    std::map<std::uint16_t, std::vector<std::uint8_t>> descriptors;         // type << 8 | index
    std::size_t packetCount = 0;
};

// The script of the device at `bus`, `address`.
ReplayScript scriptOf(const UsbRecording& recording, std::uint16_t bus, std::uint16_t address);

} // namespace korval::host
