#include "camera/codec/frame_body_builder.h"

namespace korval::camera {

FrameBodyBuilder::FrameBodyBuilder(std::size_t width) : width_(width) {}

std::size_t FrameBodyBuilder::addLine(const std::uint8_t* line, LineKind kind)
{
    lineCount_++;
    kindCounts_[static_cast<std::size_t>(kind)]++;
    return encodeLine(line, width_, kind, body_);
}

void FrameBodyBuilder::clear()
{
    body_.clear();
    lineCount_ = 0;
    kindCounts_ = {};
}

} // namespace korval::camera
