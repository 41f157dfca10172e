// The line format decoded straight from its prefix code, one bit at a time,
// with no tables: the tests' independent account of what a line means.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korval::testing {

struct RuleDecodedLine {
    std::vector<std::uint8_t> pixels;
    std::size_t length = 0; // bytes the line occupies, marker included
};

class BitSource {
public:
    BitSource(const std::vector<std::uint8_t>& bytes, std::size_t start) : bytes_(bytes), position_(start * 8) {}
    int bit()
    {
        const std::size_t byte = position_ / 8;
        const int value = byte < bytes_.size() ? (bytes_[byte] >> (7 - position_ % 8)) & 1 : 0;
        position_++;
        return value;
    }
    int bits(int count)
    {
        int value = 0;
        for (int i = 0; i < count; i++) {
            value = (value << 1) | bit();
        }
        return value;
    }
    std::size_t bitPosition() const { return position_; }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t position_;
};

// Multiples of the step: 0, -1, +1 (2 bits); -2, +2 (4); -3, +3 (5); -4, +4 (6);
// 11111 is the escape, returned as kEscape.
constexpr int kEscape = 100;

inline int readCodeMultiple(BitSource& source)
{
    if (source.bit() == 0) {
        return source.bit() == 0 ? 0 : -1;
    }
    if (source.bit() == 0) {
        return 1;
    }
    for (int multiple = 2; multiple <= 4; multiple++) {
        if (source.bit() == 0) {
            return source.bit() == 0 ? -multiple : multiple;
        }
    }
    return kEscape; // the fifth 1 of 11111
}

// Decodes the coded line whose marker starts at start (bytes past the end read as zero).
inline RuleDecodedLine ruleDecodeCodedLine(const std::vector<std::uint8_t>& bytes, std::size_t start, int step,
                                           int escapeBits, std::size_t width)
{
    RuleDecodedLine line;
    line.pixels.resize(width);
    BitSource source(bytes, start + 2);
    for (std::size_t x = 0; x < 2; x++) {
        const int raw = source.bits(8);
        if (x < width) {
            line.pixels[x] = static_cast<std::uint8_t>(raw);
        }
    }
    for (std::size_t x = 2; x < width; x++) {
        const int multiple = readCodeMultiple(source);
        if (multiple == kEscape) {
            line.pixels[x] = static_cast<std::uint8_t>(source.bits(escapeBits) << (8 - escapeBits));
        } else {
            const int value = line.pixels[x - 2] + multiple * step;
            line.pixels[x] = static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
        }
    }
    const std::size_t used = (source.bitPosition() + 7) / 8 - start;
    line.length = used + (used & 1);
    return line;
}

} // namespace korval::testing
