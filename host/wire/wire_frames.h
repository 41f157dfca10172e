// Cuts the camera's isochronous byte stream into raw frames exactly as the
// driver's transport does, for the rig around the emulated bus (the lockstep
// pacer, raw recordings and their replay), which sees the wire, not the
// driver. It runs the driver's own frame collector on a copy of the stream, so
// that what the rig calls a frame cannot drift from what the driver develops: each frame starts with the 10 header bytes after the
// marker FF FF 00 FF 96 64, the body is copied blind up to the marker-skip
// point, and a frame ends with the next frame's header as its trailer, or is
// cut after the transfer in which it reached the cut length (the next marker
// then only opens a frame). Bytes before the first marker belong to no frame.
#pragma once

#include "usb/FrameCollector.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace korval::host {

inline constexpr std::uint8_t kWireFrameMarker[6] = {0xFF, 0xFF, 0x00, 0xFF, 0x96, 0x64};
inline constexpr std::size_t kWireHeaderBytes = 10;
// The transport's frame buffer: 352 x 288 pixels and 32768 bytes of slack.
// Nothing longer reaches the driver's pipeline as one frame.
inline constexpr std::size_t kLargestWireFrame = 352 * 288 + 32768;
// A frame that has grown to this by the end of a transfer is cut there: ended
// at the next byte, after which only a marker opens a frame.
inline constexpr std::size_t kWireCutBytes = 101972;
// The blind copy after a header, for captures 320 pixels wide or more.
inline constexpr std::uint32_t kWideMarkerSkip = 25000;
inline constexpr std::uint32_t kNarrowMarkerSkip = 6500;

// The driver's blind copy for a capture `width` pixels wide.
constexpr std::uint32_t wireMarkerSkip(int width)
{
    return width >= 320 ? kWideMarkerSkip : kNarrowMarkerSkip;
}

class WireFrameAssembler {
public:
    using FrameHandler = std::function<void(std::vector<std::uint8_t>&& frame)>;
    explicit WireFrameAssembler(FrameHandler handler);

    // The driver's blind copy for the capture's width; set before video starts.
    void setMarkerSkip(std::uint32_t bytes) { collector_.ulSkipBytes = bytes; }
    // One isochronous packet of a completed transfer.
    void feed(std::span<const std::uint8_t> packet);
    // The transfer's last packet was fed: a frame grown to the cut length ends.
    void endOfTransfer();
    // Video stopped: the frame in progress is dropped, the next marker opens one.
    void reset();

private:
    static void handOver(void* context, const std::uint8_t* frame, ULONG length);

    FrameHandler handler_;
    std::vector<std::uint8_t> buffer_;
    tagFrameCollector collector_{};
};

} // namespace korval::host
