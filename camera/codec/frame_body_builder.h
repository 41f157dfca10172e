// Concatenates coded sensor lines into one frame body, counting the kinds used.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "camera/codec/line_compressor.h"

namespace korval::camera {

class FrameBodyBuilder {
public:
    explicit FrameBodyBuilder(std::size_t width);

    // Appends one line of width pixels (line may be null for a dropped line);
    // returns the bytes it took.
    std::size_t addLine(const std::uint8_t* line, LineKind kind);

    const std::vector<std::uint8_t>& body() const { return body_; }
    std::size_t lineCount() const { return lineCount_; }
    std::size_t linesOfKind(LineKind kind) const { return kindCounts_[static_cast<std::size_t>(kind)]; }
    std::size_t width() const { return width_; }

    // Starts a new body, keeping the buffer's capacity.
    void clear();

private:
    std::size_t width_;
    std::vector<std::uint8_t> body_;
    std::size_t lineCount_ = 0;
    std::array<std::size_t, 5> kindCounts_{};
};

} // namespace korval::camera
