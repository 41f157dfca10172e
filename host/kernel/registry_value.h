// One typed registry value: its type code and its data bytes, as the kernel's
// value calls store and return them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korval::host {

struct RegistryValue {
    std::uint32_t type = 0; // REG_SZ 1, REG_BINARY 3, REG_DWORD 4 ...
    std::vector<std::uint8_t> data;

    static RegistryValue dword(std::uint32_t value);
    static RegistryValue string(std::string_view utf8); // REG_SZ with its terminator
    static RegistryValue binary(std::vector<std::uint8_t> bytes);

    std::optional<std::uint32_t> asDword() const;  // REG_DWORD of 4 bytes only
    std::optional<std::string> asString() const;   // REG_SZ / REG_EXPAND_SZ as UTF-8
    bool operator==(const RegistryValue&) const = default;
};

} // namespace korval::host
