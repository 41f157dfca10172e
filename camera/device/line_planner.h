// The FIFO model that picks each line's kind. The camera's FIFO fills with
// every coded line and drains at the isochronous rate (one packet of the
// setting's size per 1 ms); a line takes the finest kind that still fits:
// raw, then step 5, 9, 17, and when nothing fits it is dropped.
#pragma once

#include "camera/codec/line_compressor.h"

#include <cstddef>
#include <cstdint>

namespace korval::camera {

class LinePlanner {
public:
    // drainPerLine: bytes the USB link carries during one sensor line.
    LinePlanner(double capacityBytes, double drainPerLine);

    // The level after the frame's marker and header were queued.
    void addOverhead(std::size_t bytes);
    // Chooses the kind for a line and books its size.
    LineKind choose(const std::uint8_t* line, std::size_t width);
    // Advances the model over lines that carry no picture (vertical blanking).
    void drainLines(int lines);
    double level() const { return level_; }

private:
    bool fits(std::size_t bytes) const { return level_ + static_cast<double>(bytes) <= capacity_; }

    double capacity_;
    double drainPerLine_;
    double level_ = 0.0;
};

} // namespace korval::camera
