// A misbehaving camera's isochronous stream: garbage put into the packets the
// video stream hands out, for the driver's robustness tests. Seeded, so a
// failing run can be repeated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

namespace korval::camera {

enum class StreamGarbage {
    None,
    RandomBytes,     // packets overwritten with random bytes or cut to a random length
    TruncatedFrames, // packets lost, and frame markers with random headers started mid-frame
    OverlongFrames,  // bursts of invented packets that stretch a frame past any length cut
    MarkersInBodies, // the frame marker written over line data
};

class GarbageInjector {
public:
    void set(StreamGarbage kind, std::uint32_t seed);
    StreamGarbage kind() const { return kind_; }

    // True when this frame's packet is invented (written by invent()) instead
    // of taken from the video stream, which then waits.
    bool inventsPacket();
    std::size_t invent(std::uint8_t* packet, std::size_t capacity);

    // Spoils a packet of `bytes` taken from the stream; returns its length.
    std::size_t spoil(std::uint8_t* packet, std::size_t bytes, std::size_t capacity);

private:
    bool chance(unsigned oneIn) { return random_() % oneIn == 0; }

    StreamGarbage kind_ = StreamGarbage::None;
    std::mt19937 random_;
    int burst_ = 0;
};

} // namespace korval::camera
