#include "tools/korval/y4m_writer.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace korval::tools {
namespace {

// Room for the widest "F<num>:<den>" the rate can take.
constexpr std::size_t kRateFieldWidth = 24;

// Y4M readers take the rate's terms as 32-bit signed numbers.
constexpr std::uint64_t kLargestTerm = 0x7FFFFFFF;
constexpr std::uint64_t kUnitsPerHour = 36000000; // of 0.1 ms

// Halves both terms until they fit, rounding to nearest; the ratio moves by
// less than one part in 2^30.
FrameRate fitted(std::uint64_t numerator, std::uint64_t denominator)
{
    while (numerator > kLargestTerm || denominator > kLargestTerm) {
        numerator = numerator / 2 + numerator % 2;
        denominator = denominator / 2 + denominator % 2;
    }
    return {std::max<std::uint64_t>(numerator, 1), std::max<std::uint64_t>(denominator, 1)};
}

// intervals × 10000 / span in lowest terms, without overflowing.
FrameRate reducedRate(std::uint64_t intervals, std::uint64_t span)
{
    const std::uint64_t common = std::gcd(intervals, span);
    const std::uint64_t reducedSpan = span / common;
    const std::uint64_t unitsCommon = std::gcd<std::uint64_t>(10000, reducedSpan);
    const std::uint64_t scale = 10000 / unitsCommon;
    std::uint64_t numerator = intervals / common;
    std::uint64_t denominator = reducedSpan / unitsCommon;
    while (numerator > std::numeric_limits<std::uint64_t>::max() / scale) {
        numerator = numerator / 2 + numerator % 2;
        denominator = denominator / 2 + denominator % 2;
    }
    return fitted(numerator * scale, denominator);
}

} // namespace

FrameRate measuredRate(std::int64_t frames, std::int64_t first, std::int64_t last)
{
    // Stream time starts at zero and never goes back; a camera delivers no
    // more than a frame per 0.1 ms and no less than one an hour. Other stamps
    // give the nominal rate.
    if (frames < 2 || first < 0 || last <= first) {
        return {};
    }
    const auto intervals = static_cast<std::uint64_t>(frames - 1);
    const auto ticks = static_cast<std::uint64_t>(last) - static_cast<std::uint64_t>(first);
    // Spans counted in 0.1 ms keep the fraction short; the error stays far below a frame.
    const std::uint64_t span = std::max<std::uint64_t>(1, ticks / 1000 + (ticks % 1000 >= 500 ? 1 : 0));
    if (intervals > span || span / intervals > kUnitsPerHour) {
        return {};
    }
    return reducedRate(intervals, span);
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
