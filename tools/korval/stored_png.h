// PNG without compression, for the 32-bit build, which has no libpng: the rows
// go into stored deflate blocks, which every PNG reader accepts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace korval::tools {

namespace stored_png {

inline std::uint32_t crc32(const std::uint8_t* data, std::size_t length, std::uint32_t crc = 0)
{
    crc = ~crc;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

inline void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

inline void putChunk(std::vector<std::uint8_t>& out, std::string_view type, const std::vector<std::uint8_t>& data)
{
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    putBigEndian(out, crc32(out.data() + start, out.size() - start));
}

// A zlib stream of stored blocks (at most 65535 bytes each) and its Adler-32.
inline std::vector<std::uint8_t> storedZlib(const std::vector<std::uint8_t>& raw)
{
    std::vector<std::uint8_t> out{0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t length = raw.size() - at < 65535 ? raw.size() - at : 65535;
        out.push_back(at + length == raw.size() ? 1 : 0);
        const std::uint16_t lengths[] = {static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(~length)};
        for (std::uint16_t value : lengths) {
            out.push_back(static_cast<std::uint8_t>(value));
            out.push_back(static_cast<std::uint8_t>(value >> 8));
        }
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                   raw.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    } while (at < raw.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBigEndian(out, (b << 16) | a);
    return out;
}

} // namespace stored_png

// An 8-bit RGB PNG of height top-down rows of width × 3 bytes.
inline std::vector<std::uint8_t> encodeStoredPng(int width, int height, const std::uint8_t* rgb)
{
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    std::vector<std::uint8_t> raw;
    raw.reserve((stride + 1) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // no filter
        raw.insert(raw.end(), rgb + y * stride, rgb + (y + 1) * stride);
    }
    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    stored_png::putBigEndian(header, static_cast<std::uint32_t>(width));
    stored_png::putBigEndian(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    stored_png::putChunk(png, "IHDR", header);
    stored_png::putChunk(png, "IDAT", stored_png::storedZlib(raw));
    stored_png::putChunk(png, "IEND", {});
    return png;
}

} // namespace korval::tools
