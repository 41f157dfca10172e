// Hand-written lines for worked examples: markers, raw bytes and bit strings
// written as text ("00 1101 11111 0011"; spaces are ignored).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace korval::testing {

inline void appendMarker(std::vector<std::uint8_t>& body, std::uint16_t marker)
{
    body.push_back(static_cast<std::uint8_t>(marker >> 8));
    body.push_back(static_cast<std::uint8_t>(marker & 0xFF));
}

// A coded line: marker, two raw pixels, the bits (zero-filled to a byte) and,
// when padToEven, the pad byte that makes the length even.
inline std::vector<std::uint8_t> handCodedLine(std::uint16_t marker, std::uint8_t first, std::uint8_t second,
                                               std::string_view bits, bool padToEven = true)
{
    std::vector<std::uint8_t> line;
    appendMarker(line, marker);
    line.push_back(first);
    line.push_back(second);
    int count = 0;
    std::uint8_t pending = 0;
    for (char c : bits) {
        if (c != '0' && c != '1') {
            continue;
        }
        pending = static_cast<std::uint8_t>((pending << 1) | (c == '1'));
        if (++count == 8) {
            line.push_back(pending);
            count = 0;
            pending = 0;
        }
    }
    if (count > 0) {
        line.push_back(static_cast<std::uint8_t>(pending << (8 - count)));
    }
    if (padToEven && line.size() % 2 == 1) {
        line.push_back(0);
    }
    return line;
}

inline std::vector<std::uint8_t> handRawLine(const std::vector<std::uint8_t>& pixels)
{
    std::vector<std::uint8_t> line(pixels.size() + 2);
    line[0] = 0x0F;
    line[1] = 0xF0;
    std::copy(pixels.begin(), pixels.end(), line.begin() + 2);
    return line;
}

inline std::vector<std::uint8_t> handDroppedLine()
{
    return {0x4B, 0xB4};
}

inline void append(std::vector<std::uint8_t>& body, const std::vector<std::uint8_t>& line)
{
    body.insert(body.end(), line.begin(), line.end());
}

inline std::string_view repeatedBits(std::string& storage, std::string_view code, int times)
{
    storage.clear();
    for (int i = 0; i < times; i++) {
        storage += code;
    }
    return storage;
}

} // namespace korval::testing
