// A frame collector over a buffer of its own, recording every frame it hands
// over, so tests can feed hand-made or random packets to either version.
#pragma once

#include "support/floating_point_scope.h"
#include "usb/FrameCollector.h"

#include <cstdint>
#include <vector>

namespace korval::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes markerBytes() { return Bytes(FRAME_MARKER, FRAME_MARKER + FRAME_MARKER_BYTES); }

inline Bytes operator+(Bytes first, const Bytes& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// Ten header bytes starting at `first`, counting up.
inline Bytes headerBytes(std::uint8_t first)
{
    Bytes header;
    for (std::uint8_t i = 0; i < FRAME_HEADER_BYTES; ++i) {
        header.push_back(static_cast<std::uint8_t>(first + i));
    }
    return header;
}

class CollectorUnderTest {
public:
    using Feed = VOID (*)(tagFrameCollector*, const UCHAR*, ULONG);

    CollectorUnderTest(std::size_t capacity, ULONG skipBytes, Feed feed = CollectPacket)
        : buffer_(capacity), feed_(feed)
    {
        collector_ = {buffer_.data(), buffer_.data(), buffer_.data() + capacity, skipBytes, 0,
                      COLLECT_SEARCH, 0, &CollectorUnderTest::record, this, 0};
    }
    CollectorUnderTest(const CollectorUnderTest&) = delete;
    CollectorUnderTest& operator=(const CollectorUnderTest&) = delete;

    void packet(const Bytes& bytes) { feed_(&collector_, bytes.data(), static_cast<ULONG>(bytes.size())); }
    void cut(ULONG bytes) { CutLongFrame(&collector_, bytes); }

    // The bytes collected for the frame in progress.
    Bytes pending() const { return Bytes(collector_.pBuffer, collector_.pWrite); }
    const std::vector<Bytes>& frames() const { return frames_; }
    tagFrameCollector& state() { return collector_; }

private:
    static VOID record(PVOID context, const UCHAR* frame, ULONG length)
    {
        static_cast<CollectorUnderTest*>(context)->frames_.emplace_back(frame, frame + length);
    }

    FloatingPointScope floatingPoint_; // as the video completion routine's bracket
    Bytes buffer_;
    Feed feed_;
    tagFrameCollector collector_{};
    std::vector<Bytes> frames_;
};

} // namespace korval::testing
