// Writes I420 frames as a YUV4MPEG2 stream, the plain container that ffmpeg
// and mpv play: one text header line, then "FRAME\n" and the three planes per
// frame.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>

namespace korval::tools {

// "YUV4MPEG2 W352 H288 F30:1 Ip A1:1 C420jpeg\n"
std::string y4mHeader(int width, int height, int framesPerSecond = 30);

class Y4mWriter {
public:
    Y4mWriter(std::ostream& out, int width, int height, int framesPerSecond = 30);

    // Bytes of one I420 frame: Y, then U and V at half width and height.
    std::size_t frameBytes() const { return frameBytes_; }
    // Writes one frame; false (nothing written) when the size is not frameBytes().
    bool writeFrame(std::span<const std::uint8_t> i420);
    std::size_t framesWritten() const { return frames_; }

private:
    std::ostream& out_;
    std::size_t frameBytes_;
    std::size_t frames_ = 0;
};

} // namespace korval::tools
