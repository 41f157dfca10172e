#include "tools/korval/y4m_writer.h"

#include <algorithm>
#include <numeric>

namespace korval::tools {
namespace {

// Room for the widest "F<num>:<den>" the rate can take.
constexpr std::size_t kRateFieldWidth = 24;

} // namespace

FrameRate measuredRate(std::int64_t frames, std::int64_t first, std::int64_t last)
{
    if (frames < 2 || last <= first) {
        return {};
    }
    // Spans counted in 0.1 ms keep the fraction short; the error stays far below a frame.
    const auto intervals = static_cast<std::uint64_t>(frames - 1) * 10000u;
    const auto span = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(last - first + 500) / 1000);
    const std::uint64_t common = std::gcd(intervals, span);
    return {intervals / common, span / common};
}

std::string y4mHeader(int width, int height, FrameRate rate)
{
    std::string field = std::string("F").append(std::to_string(rate.numerator)).append(":");
    field.append(std::to_string(rate.denominator));
    field.resize(std::max(field.size(), kRateFieldWidth), ' ');
    std::string header = "YUV4MPEG2 W";
    header.append(std::to_string(width)).append(" H").append(std::to_string(height)).append(" ").append(field);
    return header.append(" Ip A1:1 C420jpeg XCOLORRANGE=FULL\n");
}

Y4mWriter::Y4mWriter(std::ostream& out, int width, int height, FrameRate rate)
    : out_(out), start_(out.tellp()), width_(width), height_(height),
      frameBytes_(static_cast<std::size_t>(width) * height * 3 / 2)
{
    out_ << y4mHeader(width, height, rate);
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

bool Y4mWriter::rewriteRate(FrameRate rate)
{
    const std::string header = y4mHeader(width_, height_, rate);
    if (start_ == std::streampos(-1) || header.size() != y4mHeader(width_, height_).size()) {
        return false;
    }
    const std::streampos end = out_.tellp();
    out_.seekp(start_);
    out_ << header;
    out_.seekp(end);
    return static_cast<bool>(out_);
}

} // namespace korval::tools
