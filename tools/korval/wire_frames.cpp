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
}

void WireFrameAssembler::byte(std::uint8_t value)
{
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
