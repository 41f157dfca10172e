#include "tools/korval/wire_frames.h"

#include <algorithm>
#include <cstring>

namespace korval::tools {

void WireFrameAssembler::feed(std::span<const std::uint8_t> bytes)
{
    for (const std::uint8_t value : bytes) {
        byte(value);
    }
}

void WireFrameAssembler::reset()
{
    open_.clear();
    closing_.clear();
    frameOpen_ = false;
    closingPending_ = false;
    cutPending_ = false;
}

void WireFrameAssembler::endOfTransfer()
{
    const std::size_t collected = (closingPending_ ? closing_.size() : 0) + open_.size() - heldMarkerBytes();
    cutPending_ = collected >= kWireCutBytes;
}

// The bytes at the end that may begin a marker, which the transport holds back
// until the marker is complete or broken; it keeps none inside a header.
std::size_t WireFrameAssembler::heldMarkerBytes() const
{
    if (frameOpen_ && open_.size() < kWireHeaderBytes) {
        return 0;
    }
    for (std::size_t held = std::min(open_.size(), sizeof(kWireFrameMarker) - 1); held > 0; --held) {
        if (std::memcmp(open_.data() + open_.size() - held, kWireFrameMarker, held) == 0) {
            return held;
        }
    }
    return 0;
}

// The cut frame ends with this byte; the bytes held back, then this one, may
// begin the next marker, which only opens a frame.
void WireFrameAssembler::cut(std::uint8_t value)
{
    const bool open = closingPending_ || frameOpen_;
    const auto held = static_cast<std::ptrdiff_t>(heldMarkerBytes());
    std::vector<std::uint8_t> frame = closingPending_ ? std::move(closing_) : std::vector<std::uint8_t>{};
    frame.insert(frame.end(), open_.begin(), open_.end() - held);
    frame.push_back(value);
    std::vector<std::uint8_t> markerStart(open_.end() - held, open_.end());
    reset();
    open_ = std::move(markerStart);
    if (open && frame.size() >= 2 * kWireHeaderBytes && frame.size() <= kLargestWireFrame) {
        handler_(std::move(frame));
    }
    byte(value);
}

void WireFrameAssembler::byte(std::uint8_t value)
{
    if (cutPending_) {
        cut(value);
        return;
    }
    open_.push_back(value);
    constexpr std::size_t kMarker = sizeof(kWireFrameMarker);
    if (open_.size() >= kMarker && value == kWireFrameMarker[kMarker - 1] &&
        std::memcmp(open_.data() + open_.size() - kMarker, kWireFrameMarker, kMarker) == 0) {
        open_.resize(open_.size() - kMarker);
        closingPending_ = frameOpen_;
        closing_.swap(open_);
        open_.clear();
        frameOpen_ = true;
        return;
    }
    if (closingPending_ && open_.size() == kWireHeaderBytes) {
        closing_.insert(closing_.end(), open_.begin(), open_.end());
        closingPending_ = false;
        if (closing_.size() >= 2 * kWireHeaderBytes && closing_.size() <= kLargestWireFrame) {
            handler_(std::move(closing_));
        }
        closing_.clear();
    }
    if (open_.size() > kLargestWireFrame + kMarker) {
        // No marker in sight: a damaged stream; start again at the next marker.
        open_.clear();
        frameOpen_ = false;
    }
}

} // namespace korval::tools
