#include "camera/device/stream_garbage.h"

#include "camera/device/video_stream.h"

#include <algorithm>
#include <cstring>

namespace korval::camera {

void GarbageInjector::set(StreamGarbage kind, std::uint32_t seed)
{
    kind_ = kind;
    random_.seed(seed);
    burst_ = 0;
}

bool GarbageInjector::inventsPacket()
{
    if (kind_ != StreamGarbage::OverlongFrames) {
        return false;
    }
    if (burst_ == 0 && chance(200)) {
        burst_ = 200 + static_cast<int>(random_() % 400);
    }
    return burst_ > 0;
}

// Line data that never forms a marker (no 0xFF byte).
std::size_t GarbageInjector::invent(std::uint8_t* packet, std::size_t capacity)
{
    --burst_;
    if (packet != nullptr) {
        for (std::size_t i = 0; i < capacity; ++i) {
            packet[i] = static_cast<std::uint8_t>(random_() & 0xFE);
        }
    }
    return capacity;
}

std::size_t GarbageInjector::spoil(std::uint8_t* packet, std::size_t bytes, std::size_t capacity)
{
    if (packet == nullptr || bytes == 0) {
        return bytes;
    }
    switch (kind_) {
    case StreamGarbage::RandomBytes:
        if (chance(400)) {
            bytes = random_() % (capacity + 1);
        }
        if (chance(100)) {
            std::generate_n(packet, bytes, [this] { return static_cast<std::uint8_t>(random_()); });
        }
        return bytes;
    case StreamGarbage::TruncatedFrames:
        if (chance(300)) {
            return 0;
        }
        if (chance(300) && bytes >= kFrameMarker.size() + kFrameHeaderBytes) {
            const std::size_t at = random_() % (bytes - kFrameMarker.size() - kFrameHeaderBytes + 1);
            std::memcpy(packet + at, kFrameMarker.data(), kFrameMarker.size());
            std::generate_n(packet + at + kFrameMarker.size(), kFrameHeaderBytes,
                            [this] { return static_cast<std::uint8_t>(random_()); });
        }
        return bytes;
    case StreamGarbage::MarkersInBodies:
        if (chance(200) && bytes >= kFrameMarker.size()) {
            const std::size_t at = random_() % (bytes - kFrameMarker.size() + 1);
            std::memcpy(packet + at, kFrameMarker.data(), kFrameMarker.size());
        }
        return bytes;
    case StreamGarbage::None:
    case StreamGarbage::OverlongFrames: return bytes;
    }
    return bytes;
}

} // namespace korval::camera
