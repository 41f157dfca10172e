#include "host/usb/usbmon_pcap.h"

#include "host/kernel/clock.h"

#include <cerrno>
#include <cstring>

namespace korval::host {
namespace {

constexpr std::size_t kHeaderBytes = 64;
constexpr std::int32_t kLinuxExdev = -18; // an isochronous packet not yet transferred

template <typename T>
void put(std::string& out, T value)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

// The Linux status of a URB or packet with this USBD status.
std::int32_t linuxStatus(std::int32_t usbd)
{
    if (usbd >= 0) {
        return 0;
    }
    switch (static_cast<std::uint32_t>(usbd)) {
    case 0xC0010000u: return -2;   // cancelled: -ENOENT
    case 0xC0007000u: return -108; // device gone: -ESHUTDOWN
    case 0xC0000004u: return -32;  // stall: -EPIPE
    case 0xC0000001u: return -84;  // CRC: -EILSEQ
    default: return -71;           // -EPROTO
    }
}

std::string usbmonHeader(const TransferEvent& event, std::size_t captured)
{
    std::string header;
    const std::int64_t seconds = event.time / Clock::kTicksPerSecond;
    const auto micros = static_cast<std::int32_t>(event.time % Clock::kTicksPerSecond / 10);
    put<std::uint64_t>(header, event.id);
    put<char>(header, event.completion ? 'C' : 'S');
    put<std::uint8_t>(header, static_cast<std::uint8_t>(event.type));
    put<std::uint8_t>(header, event.endpoint);
    put<std::uint8_t>(header, UsbmonPcapWriter::kDeviceAddress);
    put<std::uint16_t>(header, UsbmonPcapWriter::kBusNumber);
    put<char>(header, event.setup && !event.completion ? 0 : '-');
    const bool in = (event.endpoint & 0x80) != 0;
    put<char>(header, captured != 0 ? 0 : (in && !event.completion ? '<' : '>'));
    put<std::int64_t>(header, seconds);
    put<std::int32_t>(header, micros);
    put<std::int32_t>(header, event.completion ? linuxStatus(event.status) : -115); // -EINPROGRESS
    put<std::uint32_t>(header, event.length);
    put<std::uint32_t>(header, static_cast<std::uint32_t>(captured));
    if (event.setup && !event.completion) {
        const SetupPacket& setup = *event.setup;
        put<std::uint8_t>(header, setup.requestType);
        put<std::uint8_t>(header, setup.request);
        put<std::uint16_t>(header, setup.value);
        put<std::uint16_t>(header, setup.index);
        put<std::uint16_t>(header, setup.length);
    } else {
        put<std::int32_t>(header, static_cast<std::int32_t>(event.errorCount));
        put<std::int32_t>(header, static_cast<std::int32_t>(event.packets.size()));
    }
    put<std::int32_t>(header, static_cast<std::int32_t>(event.interval));
    put<std::int32_t>(header, static_cast<std::int32_t>(event.startFrame));
    put<std::uint32_t>(header, 0);
    put<std::uint32_t>(header, static_cast<std::uint32_t>(event.packets.size()));
    if (header.size() != kHeaderBytes) {
        header.resize(kHeaderBytes);
    }
    return header;
}

} // namespace

bool UsbmonPcapWriter::open(const std::string& path, std::string& error)
{
    path_ = path;
    file_.open(path, std::ios::binary | std::ios::trunc);
    if (!file_) {
        error = "--usb-trace: cannot create '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::string header;
    put<std::uint32_t>(header, 0xA1B2C3D4); // microsecond time stamps
    put<std::uint16_t>(header, 2);
    put<std::uint16_t>(header, 4);
    put<std::int32_t>(header, 0);
    put<std::uint32_t>(header, 0);
    put<std::uint32_t>(header, 0x40000); // snapshot length
    put<std::uint32_t>(header, kLinkType);
    file_.write(header.data(), static_cast<std::streamsize>(header.size()));
    return static_cast<bool>(file_);
}

bool UsbmonPcapWriter::close(std::string& error)
{
    file_.close();
    if (!file_) {
        error = "--usb-trace: cannot write to '" + path_ + "'";
        return false;
    }
    return true;
}

void UsbmonPcapWriter::transfer(const TransferEvent& event)
{
    if (!file_) {
        return;
    }
    std::string record = usbmonHeader(event, event.data.size());
    for (const IsoPacketEvent& packet : event.packets) {
        put<std::int32_t>(record, event.completion ? linuxStatus(packet.status) : kLinuxExdev);
        put<std::uint32_t>(record, packet.offset);
        put<std::uint32_t>(record, packet.length);
        put<std::uint32_t>(record, 0);
    }
    record.append(reinterpret_cast<const char*>(event.data.data()), event.data.size());
    std::string frame;
    put<std::uint32_t>(frame, static_cast<std::uint32_t>(event.time / Clock::kTicksPerSecond));
    put<std::uint32_t>(frame, static_cast<std::uint32_t>(event.time % Clock::kTicksPerSecond / 10));
    put<std::uint32_t>(frame, static_cast<std::uint32_t>(record.size()));
    put<std::uint32_t>(frame, static_cast<std::uint32_t>(record.size()));
    file_.write(frame.data(), static_cast<std::streamsize>(frame.size()));
    file_.write(record.data(), static_cast<std::streamsize>(record.size()));
}

} // namespace korval::host
