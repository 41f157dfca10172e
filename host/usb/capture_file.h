// The packets of a capture file as libpcap and Wireshark write them: the
// classic pcap format (either byte order, micro- or nanosecond time stamps)
// and pcapng (sections, interfaces with their own link type and time-stamp
// resolution, enhanced, simple and obsolete packet blocks). Every length in
// the file is checked against what is left of it before it is used.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace korval::host {

struct CapturedPacket {
    std::uint64_t number = 0;   // 1 for the file's first packet
    std::uint32_t linkType = 0; // LINKTYPE_*
    std::int64_t time = 0;      // 100 ns ticks since the epoch of the file's clock
    std::span<const std::uint8_t> bytes;
};

// Calls `each` for every packet in file order. False with `error` saying what
// is wrong and where ("packet 12: ...") for a file that is not a capture, is
// cut short or contradicts itself, or when `each` returns false (its error).
bool readCaptureFile(std::span<const std::uint8_t> file,
                     const std::function<bool(const CapturedPacket&, std::string&)>& each, std::string& error);

} // namespace korval::host
