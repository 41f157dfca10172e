#include "tools/korval/y4m_writer.h"

namespace korval::tools {

std::string y4mHeader(int width, int height, int framesPerSecond)
{
    return "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F" +
           std::to_string(framesPerSecond) + ":1 Ip A1:1 C420jpeg\n";
}

Y4mWriter::Y4mWriter(std::ostream& out, int width, int height, int framesPerSecond)
    : out_(out), frameBytes_(static_cast<std::size_t>(width) * height * 3 / 2)
{
    out_ << y4mHeader(width, height, framesPerSecond);
}

bool Y4mWriter::writeFrame(std::span<const std::uint8_t> i420)
{
    if (i420.size() != frameBytes_) {
        return false;
    }
    out_ << "FRAME\n";
    out_.write(reinterpret_cast<const char*>(i420.data()), static_cast<std::streamsize>(i420.size()));
    ++frames_;
    return true;
}

} // namespace korval::tools
