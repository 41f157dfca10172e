// Any packet sequence fed to the frame collector as the video completion
// feeds it: 16 packets per transfer, the long-frame cut after each transfer,
// and a collecting buffer of exactly cut + 16 packets. The fast collector
// must never write outside that buffer and must agree with the reference
// byte for byte: pending bytes, state and every frame handed over.
//
// Input: two bytes for the cut, two for the packet size, two for the skip
// point, then packets, each a length byte (scaled to the packet size) and
// its bytes.
#include "runtime/FloatingPointState.h"
#include "usb/FrameCollector.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t kPacketsPerTransfer = 16;

struct Collected {
    explicit Collected(std::size_t capacity, ULONG skip, decltype(&CollectPacket) feed)
        : buffer(capacity), feed(feed)
    {
        collector = {buffer.data(), buffer.data(), buffer.data() + capacity, skip, 0, COLLECT_SEARCH, 0,
                     &Collected::record, this, 0};
    }
    static VOID record(PVOID context, const UCHAR* frame, ULONG length)
    {
        auto* self = static_cast<Collected*>(context);
        if (length > self->buffer.size()) {
            std::abort();
        }
        self->frames.emplace_back(frame, frame + length);
    }
    std::vector<std::uint8_t> buffer;
    decltype(&CollectPacket) feed;
    tagFrameCollector collector{};
    std::vector<std::vector<std::uint8_t>> frames;
};

unsigned word(const std::uint8_t* data) { return static_cast<unsigned>(data[0]) << 8 | data[1]; }

void compare(const Collected& fast, const Collected& reference)
{
    const auto& a = fast.collector;
    const auto& b = reference.collector;
    if (a.pWrite > a.pEnd || a.pWrite - a.pBuffer != b.pWrite - b.pBuffer || a.ucState != b.ucState ||
        a.ucFrameOpen != b.ucFrameOpen || a.ucFrameCut != b.ucFrameCut || a.ulLength != b.ulLength || fast.frames != reference.frames ||
        !std::equal(a.pBuffer, a.pWrite, b.pBuffer)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6) {
        return 0;
    }
    const ULONG cut = 32 + word(data) % 2048;
    const ULONG packetBytes = 1 + word(data + 2) % 1023;
    const std::size_t capacity = cut + kPacketsPerTransfer * packetBytes;
    const ULONG skip = word(data + 4) % static_cast<ULONG>(capacity + 16);
    CFloatingPointState floatingPoint; // as the video completion routine's bracket
    Collected fast(capacity, skip, CollectPacket);
    Collected reference(capacity, skip, CollectPacketReference);
    std::size_t at = 6;
    std::size_t packets = 0;
    while (at < size) {
        const std::size_t wanted = static_cast<std::size_t>(data[at++]) * packetBytes / 255;
        const std::size_t length = wanted < size - at ? wanted : size - at;
        fast.feed(&fast.collector, data + at, static_cast<ULONG>(length));
        reference.feed(&reference.collector, data + at, static_cast<ULONG>(length));
        at += length;
        if (++packets % kPacketsPerTransfer == 0) {
            CutLongFrame(&fast.collector, cut);
            CutLongFrame(&reference.collector, cut);
        }
        compare(fast, reference);
    }
    return 0;
}
