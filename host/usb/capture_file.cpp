#include "host/usb/capture_file.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace korval::host {
namespace {

constexpr std::uint32_t kPcapMicroseconds = 0xA1B2C3D4;
constexpr std::uint32_t kPcapNanoseconds = 0xA1B23C4D;
constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint32_t kInterfaceBlock = 1;
constexpr std::uint32_t kObsoletePacketBlock = 2;
constexpr std::uint32_t kSimplePacketBlock = 3;
constexpr std::uint32_t kEnhancedPacketBlock = 6;
constexpr std::uint16_t kTimeResolutionOption = 9;
constexpr std::size_t kLargestPacket = 64u << 20; // no USB record comes near it

// Little- or big-endian reads from a span whose bounds the caller has checked.
struct Reader {
    std::span<const std::uint8_t> bytes;
    bool swapped = false;

    std::uint16_t u16(std::size_t at) const
    {
        const std::uint16_t a = bytes[at], b = bytes[at + 1];
        return swapped ? static_cast<std::uint16_t>(a << 8 | b) : static_cast<std::uint16_t>(b << 8 | a);
    }
    std::uint32_t u32(std::size_t at) const
    {
        const std::uint32_t low = u16(at), high = u16(at + 2);
        return swapped ? (low << 16 | high) : (high << 16 | low);
    }
};

std::uint32_t littleU32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return Reader{bytes, false}.u32(at);
}

// A time stamp in units of 1 / `perSecond` as 100 ns ticks, saturated.
std::int64_t ticksOf(std::uint64_t stamp, long double perSecond)
{
    const long double ticks = static_cast<long double>(stamp) * 1e7L / perSecond;
    constexpr auto largest = static_cast<long double>(std::numeric_limits<std::int64_t>::max());
    return ticks >= largest ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(ticks);
}

std::string at(std::uint64_t packet)
{
    return "packet " + std::to_string(packet) + ": ";
}

bool readPcap(std::span<const std::uint8_t> file,
              const std::function<bool(const CapturedPacket&, std::string&)>& each, std::string& error)
{
    if (file.size() < 24) {
        error = "the pcap file header is cut short";
        return false;
    }
    const std::uint32_t magic = littleU32(file, 0);
    Reader in{file, magic != kPcapMicroseconds && magic != kPcapNanoseconds};
    const std::uint32_t ordered = in.u32(0);
    const long double perSecond = ordered == kPcapNanoseconds ? 1e9L : 1e6L;
    const std::uint32_t linkType = in.u32(20) & 0xFFFF;
    std::size_t offset = 24;
    for (std::uint64_t number = 1; offset < file.size(); ++number) {
        if (file.size() - offset < 16) {
            error = at(number) + "its record header is cut short (the file ends early)";
            return false;
        }
        const std::uint32_t seconds = in.u32(offset), fraction = in.u32(offset + 4);
        const std::uint32_t captured = in.u32(offset + 8);
        if (captured > kLargestPacket) {
            error = at(number) + "claims " + std::to_string(captured) + " bytes, more than any USB record";
            return false;
        }
        if (captured > file.size() - offset - 16) {
            error = at(number) + "its " + std::to_string(captured) + " bytes are cut short (the file ends early)";
            return false;
        }
        CapturedPacket packet;
        packet.number = number;
        packet.linkType = linkType;
        packet.time = ticksOf(std::uint64_t{seconds} * static_cast<std::uint64_t>(perSecond) + fraction, perSecond);
        packet.bytes = file.subspan(offset + 16, captured);
        if (!each(packet, error)) {
            return false;
        }
        offset += 16 + std::size_t{captured};
    }
    return true;
}

struct Interface {
    std::uint32_t linkType = 0;
    long double perSecond = 1e6L;
};

// The time-stamp resolution option of an interface block's options.
long double resolutionOf(const Reader& in, std::size_t from, std::size_t end)
{
    long double perSecond = 1e6L;
    while (end - from >= 4) {
        const std::uint16_t code = in.u16(from), length = in.u16(from + 2);
        const std::size_t padded = (std::size_t{length} + 3) & ~std::size_t{3};
        if (code == 0 || padded > end - from - 4) {
            break;
        }
        if (code == kTimeResolutionOption && length >= 1) {
            const std::uint8_t value = in.bytes[from + 4];
            const int exponent = std::min(value & 0x7F, 63);
            long double base = (value & 0x80) != 0 ? 2.0L : 10.0L;
            perSecond = 1.0L;
            for (int i = 0; i < exponent; ++i) {
                perSecond *= base;
            }
        }
        from += 4 + padded;
    }
    return perSecond;
}

// One packet block's packet; false with `error` when it contradicts itself.
bool packetOf(const Reader& in, std::uint32_t type, std::size_t body, std::size_t bodyLength,
              const std::vector<Interface>& interfaces, std::int64_t lastTime, CapturedPacket& packet,
              std::string& error)
{
    std::size_t headerBytes = type == kSimplePacketBlock ? 4 : 20;
    if (bodyLength < headerBytes) {
        error = at(packet.number) + "its block is too short for its header";
        return false;
    }
    std::uint32_t interface = 0;
    std::uint64_t stamp = 0;
    // A simple packet block holds its packet's original length and the packet, padded.
    std::uint32_t captured = std::min(in.u32(body), static_cast<std::uint32_t>(bodyLength - 4));
    if (type == kEnhancedPacketBlock) {
        interface = in.u32(body);
        stamp = std::uint64_t{in.u32(body + 4)} << 32 | in.u32(body + 8);
        captured = in.u32(body + 12);
    } else if (type == kObsoletePacketBlock) {
        interface = in.u16(body);
        stamp = std::uint64_t{in.u32(body + 4)} << 32 | in.u32(body + 8);
        captured = in.u32(body + 12);
    }
    if (interface >= interfaces.size()) {
        error = at(packet.number) + "names interface " + std::to_string(interface) + ", which the file never describes";
        return false;
    }
    if (captured > bodyLength - headerBytes) {
        error = at(packet.number) + "claims " + std::to_string(captured) + " bytes, more than its block holds";
        return false;
    }
    packet.linkType = interfaces[interface].linkType;
    packet.time = type == kSimplePacketBlock ? lastTime : ticksOf(stamp, interfaces[interface].perSecond);
    packet.bytes = in.bytes.subspan(body + headerBytes, captured);
    return true;
}

bool readPcapng(std::span<const std::uint8_t> file,
                const std::function<bool(const CapturedPacket&, std::string&)>& each, std::string& error)
{
    Reader in{file, false};
    std::vector<Interface> interfaces;
    std::uint64_t number = 1;
    std::int64_t lastTime = 0;
    for (std::size_t offset = 0; offset < file.size();) {
        if (file.size() - offset < 12) {
            error = "the pcapng block at byte " + std::to_string(offset) + " is cut short (the file ends early)";
            return false;
        }
        const std::uint32_t type = littleU32(file, offset);
        if (type == kSectionHeader) {
            const std::uint32_t order = littleU32(file, offset + 8);
            if (order != kByteOrderMagic && Reader{file, true}.u32(offset + 8) != kByteOrderMagic) {
                error = "the pcapng section at byte " + std::to_string(offset) + " has no byte-order magic";
                return false;
            }
            in.swapped = order != kByteOrderMagic;
            interfaces.clear();
        }
        const std::uint32_t length = in.u32(offset + 4);
        if (length < 12 || length % 4 != 0 || length > file.size() - offset ||
            in.u32(offset + length - 4) != length) {
            error = "the pcapng block at byte " + std::to_string(offset) + " has a broken length " +
                    std::to_string(length) + (length > file.size() - offset ? " (the file ends early)" : "");
            return false;
        }
        const std::size_t body = offset + 8, bodyLength = length - 12;
        if (in.u32(offset) == kInterfaceBlock) {
            if (bodyLength < 8) {
                error = "the pcapng interface block at byte " + std::to_string(offset) + " is too short";
                return false;
            }
            interfaces.push_back({in.u16(body), resolutionOf(in, body + 8, body + bodyLength)});
        } else if (const std::uint32_t kind = in.u32(offset);
                   kind == kEnhancedPacketBlock || kind == kSimplePacketBlock || kind == kObsoletePacketBlock) {
            CapturedPacket packet;
            packet.number = number++;
            if (!packetOf(in, kind, body, bodyLength, interfaces, lastTime, packet, error) || !each(packet, error)) {
                return false;
            }
            lastTime = packet.time;
        }
        offset += length;
    }
    return true;
}

} // namespace

bool readCaptureFile(std::span<const std::uint8_t> file,
                     const std::function<bool(const CapturedPacket&, std::string&)>& each, std::string& error)
{
    if (file.size() < 4) {
        error = "too short for a capture file";
        return false;
    }
    const std::uint32_t magic = littleU32(file, 0);
    if (magic == kSectionHeader) {
        return readPcapng(file, each, error);
    }
    const std::uint32_t swapped = Reader{file, true}.u32(0);
    for (std::uint32_t known : {kPcapMicroseconds, kPcapNanoseconds}) {
        if (magic == known || swapped == known) {
            return readPcap(file, each, error);
        }
    }
    error = "not a pcap or pcapng capture file (it starts with no capture file's magic number)";
    return false;
}

} // namespace korval::host
