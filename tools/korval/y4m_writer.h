// Writes I420 frames as a YUV4MPEG2 stream, the plain container that ffmpeg
// and mpv play: one text header line, then "FRAME\n" and the three planes per
// frame. The driver's I420 is full range (XCOLORRANGE=FULL). The frame rate
// field is padded to a fixed width, so that the rate measured over the whole
// capture can be written into a seekable file's header at the end.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>

namespace korval::tools {

struct FrameRate {
    std::uint64_t numerator = 30;
    std::uint64_t denominator = 1;
};

// The rate at which `frames` frames stamped from `first` to `last` (100 ns
// units) play for as long as they were captured: frames − 1 intervals over the
// span, reduced, each term at most 2^31 - 1 (what Y4M readers parse). Fewer
// than two frames, no span, and impossible stamps (before zero, going back,
// more than a frame per 0.1 ms or less than one an hour) give the nominal 30.
FrameRate measuredRate(std::int64_t frames, std::int64_t first, std::int64_t last);

// "YUV4MPEG2 W352 H288 F25:2<padding> Ip A1:1 C420jpeg XCOLORRANGE=FULL\n"
std::string y4mHeader(int width, int height, FrameRate rate = {});

class Y4mWriter {
public:
    Y4mWriter(std::ostream& out, int width, int height, FrameRate rate = {});

    // Bytes of one I420 frame: Y, then U and V at half width and height.
    std::size_t frameBytes() const { return frameBytes_; }
    // Writes one frame; false (nothing written) when the size is not frameBytes().
    bool writeFrame(std::span<const std::uint8_t> i420);
    std::size_t framesWritten() const { return frames_; }
    // Rewrites the header's rate in place; false when the stream cannot seek.
    bool rewriteRate(FrameRate rate);

private:
    std::ostream& out_;
    std::streampos start_;
    int width_;
    int height_;
    std::size_t frameBytes_;
    std::size_t frames_ = 0;
};

} // namespace korval::tools
