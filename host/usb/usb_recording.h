// USB traffic read back from a capture file: the records of Linux usbmon
// (link type 220, the memory-mapped header with isochronous descriptors) and
// of USBPcap on Windows (link type 249), both as Wireshark reads them, turned
// into one list of submissions and completions in file order.
#pragma once

#include "host/usb/bus_tap.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korval::host {

struct RecordedPacket {
    std::uint32_t offset = 0; // into the record's data
    std::uint32_t length = 0;
    bool ok = true;
};

struct RecordedTransfer {
    std::uint64_t record = 0; // the file's packet number, for messages
    bool completion = false;
    std::uint64_t id = 0;     // URB (usbmon) or IRP (USBPcap); reused once completed
    std::uint16_t bus = 0;
    std::uint16_t address = 0;
    TransferType type = TransferType::Control;
    std::uint8_t endpoint = 0;        // bit 7: device to host
    std::optional<SetupPacket> setup; // control submissions that carry one
    bool ok = true;                   // completions: the transfer succeeded
    std::vector<std::uint8_t> data;   // OUT data of a submission, IN data of a completion
    std::vector<RecordedPacket> packets;
    std::int64_t time = 0;            // 100 ns ticks
};

struct UsbRecording {
    std::uint32_t linkType = 0;
    std::vector<RecordedTransfer> transfers;
};

constexpr std::uint32_t kLinkTypeUsbmon = 220;
constexpr std::uint32_t kLinkTypeUsbPcap = 249;

// The USB transfers of a pcap or pcapng file; nothing with `error` saying what
// is wrong and where for a file that is not one, is cut short, is corrupt or
// holds no USB traffic of a link type read here.
std::optional<UsbRecording> readUsbRecording(std::span<const std::uint8_t> file, std::string& error);
// The same for a file on disk; `error` then starts with its name.
std::optional<UsbRecording> readUsbRecordingFile(const std::string& path, std::string& error);

} // namespace korval::host
