// A 32-bit value as the tool prints registry values, image fields and status
// codes: "0x" and eight upper-case hex digits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace korval::tools {

inline std::string hexText(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

} // namespace korval::tools
