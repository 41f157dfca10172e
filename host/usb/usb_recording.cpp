#include "host/usb/usb_recording.h"

#include "host/usb/capture_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace korval::host {
namespace {

constexpr std::size_t kUsbmonHeaderBytes = 64;
constexpr std::size_t kUsbmonDescriptorBytes = 16;
constexpr std::size_t kUsbPcapHeaderBytes = 27;
constexpr std::size_t kUsbPcapIsoHeaderBytes = 39;
constexpr std::size_t kUsbPcapIsoPacketBytes = 12;
constexpr std::uint32_t kMostPackets = 1024;
constexpr std::uintmax_t kLargestFile = 2ull << 30;

template <typename T>
T little(std::span<const std::uint8_t> bytes, std::size_t at)
{
    T value{};
    std::memcpy(&value, bytes.data() + at, sizeof(T)); // the host is little-endian, as both formats are
    return value;
}

std::string at(const CapturedPacket& packet)
{
    return "packet " + std::to_string(packet.number) + ": ";
}

TransferType typeOf(std::uint8_t code)
{
    return static_cast<TransferType>(code & 0x03);
}

// The isochronous packets of a record, each inside its data.
bool packetsInside(const CapturedPacket& packet, const RecordedTransfer& transfer, std::string& error)
{
    for (std::size_t i = 0; i < transfer.packets.size(); ++i) {
        const RecordedPacket& iso = transfer.packets[i];
        if (transfer.completion && iso.ok && iso.length != 0 &&
            std::uint64_t{iso.offset} + iso.length > transfer.data.size()) {
            error = at(packet) + "isochronous packet " + std::to_string(i) + " (" + std::to_string(iso.length) +
                    " bytes at " + std::to_string(iso.offset) + ") lies beyond the " +
                    std::to_string(transfer.data.size()) + " bytes the record holds";
            return false;
        }
    }
    return true;
}

// Linux usbmon, memory-mapped header: 64 bytes, then an isochronous transfer's
// descriptors, then the data. Records other than submissions and completions
// (submission errors) are left out.
bool readUsbmon(const CapturedPacket& packet, UsbRecording& recording, std::string& error)
{
    const auto bytes = packet.bytes;
    if (bytes.size() < kUsbmonHeaderBytes) {
        error = at(packet) + "shorter than the 64-byte usbmon header";
        return false;
    }
    const char kind = static_cast<char>(bytes[8]);
    if (kind != 'S' && kind != 'C') {
        return true;
    }
    RecordedTransfer transfer;
    transfer.record = packet.number;
    transfer.completion = kind == 'C';
    transfer.id = little<std::uint64_t>(bytes, 0);
    transfer.type = typeOf(bytes[9]);
    transfer.endpoint = bytes[10];
    transfer.address = bytes[11];
    transfer.bus = little<std::uint16_t>(bytes, 12);
    transfer.ok = !transfer.completion || little<std::int32_t>(bytes, 28) == 0;
    transfer.time = packet.time;
    const std::uint32_t captured = little<std::uint32_t>(bytes, 36);
    std::size_t dataAt = kUsbmonHeaderBytes;
    if (transfer.type == TransferType::Control && !transfer.completion && bytes[14] == 0) {
        transfer.setup = SetupPacket{bytes[40], bytes[41], little<std::uint16_t>(bytes, 42),
                                     little<std::uint16_t>(bytes, 44), little<std::uint16_t>(bytes, 46)};
    }
    if (transfer.type == TransferType::Isochronous) {
        const std::uint32_t count = little<std::uint32_t>(bytes, 60);
        if (count > kMostPackets || count * kUsbmonDescriptorBytes > bytes.size() - dataAt) {
            error = at(packet) + "claims " + std::to_string(count) + " isochronous descriptors, more than it holds";
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i, dataAt += kUsbmonDescriptorBytes) {
            transfer.packets.push_back({little<std::uint32_t>(bytes, dataAt + 4),
                                        little<std::uint32_t>(bytes, dataAt + 8),
                                        little<std::int32_t>(bytes, dataAt) == 0});
        }
    }
    if (captured > bytes.size() - dataAt) {
        error = at(packet) + "claims " + std::to_string(captured) + " data bytes, but " +
                std::to_string(bytes.size() - dataAt) + " follow its header";
        return false;
    }
    transfer.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(dataAt),
                         bytes.begin() + static_cast<std::ptrdiff_t>(dataAt + captured));
    if (!packetsInside(packet, transfer, error)) {
        return false;
    }
    recording.transfers.push_back(std::move(transfer));
    return true;
}

bool usbdFailed(std::uint32_t status)
{
    return (status & 0xC0000000u) == 0xC0000000u;
}

// USBPcap: a packed header of `headerLen` bytes (27, a control transfer's
// stage byte, an isochronous transfer's packet table), then the data. A
// control transfer's set-up stage carries the set-up packet as its first 8
// data bytes; its data and completion stages come as further records of the
// same IRP.
bool readUsbPcap(const CapturedPacket& packet, UsbRecording& recording, std::string& error)
{
    const auto bytes = packet.bytes;
    if (bytes.size() < kUsbPcapHeaderBytes) {
        error = at(packet) + "shorter than the 27-byte USBPcap header";
        return false;
    }
    const std::uint16_t headerBytes = little<std::uint16_t>(bytes, 0);
    const std::uint32_t dataBytes = little<std::uint32_t>(bytes, 23);
    if (headerBytes < kUsbPcapHeaderBytes || headerBytes > bytes.size() || dataBytes > bytes.size() - headerBytes) {
        error = at(packet) + "its USBPcap header (" + std::to_string(headerBytes) + " bytes) and data (" +
                std::to_string(dataBytes) + " bytes) do not fit its " + std::to_string(bytes.size()) + " bytes";
        return false;
    }
    const std::uint8_t code = bytes[22];
    if (code > 3) {
        return true; // IRP information records carry no transfer
    }
    RecordedTransfer transfer;
    transfer.record = packet.number;
    transfer.id = little<std::uint64_t>(bytes, 2);
    transfer.completion = (bytes[16] & 0x01) != 0;
    transfer.ok = !transfer.completion || !usbdFailed(little<std::uint32_t>(bytes, 10));
    transfer.bus = little<std::uint16_t>(bytes, 17);
    transfer.address = little<std::uint16_t>(bytes, 19);
    transfer.endpoint = bytes[21];
    transfer.type = typeOf(code);
    transfer.time = packet.time;
    auto data = bytes.subspan(headerBytes, dataBytes);
    if (transfer.type == TransferType::Control) {
        constexpr std::uint8_t kSetupStage = 0;
        if (headerBytes < kUsbPcapHeaderBytes + 1) {
            error = at(packet) + "a USBPcap control record without its stage byte";
            return false;
        }
        if (bytes[kUsbPcapHeaderBytes] == kSetupStage && !transfer.completion) {
            if (data.size() < 8) {
                error = at(packet) + "a control set-up stage with fewer than 8 bytes";
                return false;
            }
            transfer.setup = SetupPacket{data[0], data[1], little<std::uint16_t>(data, 2),
                                         little<std::uint16_t>(data, 4), little<std::uint16_t>(data, 6)};
            data = data.subspan(8);
        }
    }
    if (transfer.type == TransferType::Isochronous) {
        const std::uint32_t count =
            headerBytes >= kUsbPcapIsoHeaderBytes ? little<std::uint32_t>(bytes, 31) : 0;
        if (headerBytes < kUsbPcapIsoHeaderBytes || count > kMostPackets ||
            kUsbPcapIsoHeaderBytes + count * kUsbPcapIsoPacketBytes > headerBytes) {
            error = at(packet) + "its isochronous packet table does not fit its USBPcap header";
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t entry = kUsbPcapIsoHeaderBytes + i * kUsbPcapIsoPacketBytes;
            transfer.packets.push_back({little<std::uint32_t>(bytes, entry), little<std::uint32_t>(bytes, entry + 4),
                                        !usbdFailed(little<std::uint32_t>(bytes, entry + 8))});
        }
    }
    transfer.data.assign(data.begin(), data.end());
    if (!packetsInside(packet, transfer, error)) {
        return false;
    }
    recording.transfers.push_back(std::move(transfer));
    return true;
}

} // namespace

std::optional<UsbRecording> readUsbRecording(std::span<const std::uint8_t> file, std::string& error)
{
    UsbRecording recording;
    bool linkTypeSeen = false;
    const bool read = readCaptureFile(
        file,
        [&](const CapturedPacket& packet, std::string& failure) {
            if (packet.linkType != kLinkTypeUsbmon && packet.linkType != kLinkTypeUsbPcap) {
                return true; // another interface of a pcapng file
            }
            if (linkTypeSeen && packet.linkType != recording.linkType) {
                failure = at(packet) + "mixes USBPcap and usbmon records in one file";
                return false;
            }
            linkTypeSeen = true;
            recording.linkType = packet.linkType;
            return packet.linkType == kLinkTypeUsbmon ? readUsbmon(packet, recording, failure)
                                                      : readUsbPcap(packet, recording, failure);
        },
        error);
    if (!read) {
        return std::nullopt;
    }
    if (!linkTypeSeen) {
        error = "holds no USB traffic of link type 220 (Linux usbmon, memory-mapped) or 249 (USBPcap)";
        return std::nullopt;
    }
    return recording;
}

std::optional<UsbRecording> readUsbRecordingFile(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "'" + path + "': cannot open it: " + std::strerror(errno);
        return std::nullopt;
    }
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uintmax_t>(std::max<std::streamoff>(0, in.tellg()));
    if (size > kLargestFile) {
        error = "'" + path + "': larger than the 2 GiB a recording may be";
        return std::nullopt;
    }
    in.seekg(0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) {
        error = "'" + path + "': cannot read it";
        return std::nullopt;
    }
    auto recording = readUsbRecording(bytes, error);
    if (!recording) {
        error = "'" + path + "': " + error;
    }
    return recording;
}

} // namespace korval::host
