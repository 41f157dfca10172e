// Cuts the camera's isochronous byte stream into raw frames the way the
// driver's transport does: each frame starts after the marker FF FF 00 FF 96 64
// and is handed over, with the next frame's 10 header bytes as its trailer,
// once those have arrived, or cut as the transport cuts a frame too long. A
// frame is its own header, its body and the trailer; bytes before the first
// marker belong to no frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace korval::tools {

inline constexpr std::uint8_t kWireFrameMarker[6] = {0xFF, 0xFF, 0x00, 0xFF, 0x96, 0x64};
inline constexpr std::size_t kWireHeaderBytes = 10;
// The transport's frame buffer: 352 x 288 pixels and 32768 bytes of slack.
// Nothing longer reaches the driver's pipeline as one frame.
inline constexpr std::size_t kLargestWireFrame = 352 * 288 + 32768;
// A frame that has grown to this by the end of a transfer is cut there by the
// transport: ended at the next byte, after which only a marker opens a frame.
inline constexpr std::size_t kWireCutBytes = 101972;

class WireFrameAssembler {
public:
    using FrameHandler = std::function<void(std::vector<std::uint8_t>&& frame)>;
    explicit WireFrameAssembler(FrameHandler handler) : handler_(std::move(handler)) {}

    void feed(std::span<const std::uint8_t> bytes);
    // A transfer's packets have all been fed: a frame as long as the cut is cut.
    void endOfTransfer();
    // Video stopped: the frame in progress is dropped, the next marker opens one.
    void reset();

private:
    void byte(std::uint8_t value);
    std::size_t heldMarkerBytes() const;
    void cut(std::uint8_t value);

    FrameHandler handler_;
    std::vector<std::uint8_t> open_;    // the frame in progress, from its header on
    std::vector<std::uint8_t> closing_; // the frame whose trailer is arriving
    bool frameOpen_ = false;
    bool closingPending_ = false;
    bool cutPending_ = false;
};

} // namespace korval::tools
