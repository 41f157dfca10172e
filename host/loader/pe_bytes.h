// Little-endian reads from a byte range that refuse, by PeFormatError, any
// read reaching past its end: the one way the loader touches image bytes.
#pragma once

#include "host/loader/pe_image.h"

#include <cstdint>
#include <span>
#include <string>

namespace korval::host {

class PeBytes {
public:
    PeBytes(std::span<const std::uint8_t> bytes, const char* what) : bytes_(bytes), what_(what) {}

    std::size_t size() const { return bytes_.size(); }

    std::uint8_t u8(std::size_t offset) const { return at(offset, 1)[0]; }
    std::uint16_t u16(std::size_t offset) const
    {
        const std::uint8_t* p = at(offset, 2);
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }
    std::uint32_t u32(std::size_t offset) const
    {
        const std::uint8_t* p = at(offset, 4);
        return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
    }

    // The zero-terminated text at `offset`, at most `limit` characters.
    std::string text(std::size_t offset, std::size_t limit) const
    {
        std::string result;
        for (std::size_t i = 0;; ++i) {
            if (i == limit) {
                throw PeFormatError("a name in " + std::string(what_) + " is longer than " + std::to_string(limit));
            }
            const char c = static_cast<char>(u8(offset + i));
            if (c == '\0') {
                return result;
            }
            result += c;
        }
    }

    // Whether [offset, offset + length) lies inside the range.
    bool holds(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }

private:
    const std::uint8_t* at(std::size_t offset, std::size_t length) const
    {
        if (!holds(offset, length)) {
            throw PeFormatError("offset " + std::to_string(offset) + " lies past the end of " + what_ + " (" +
                                std::to_string(bytes_.size()) + " bytes)");
        }
        return bytes_.data() + offset;
    }

    std::span<const std::uint8_t> bytes_;
    const char* what_;
};

inline void storeU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace korval::host
