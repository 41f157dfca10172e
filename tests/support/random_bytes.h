// Reproducible noise: count bytes, each the low byte of one draw of a
// Mersenne twister seeded with seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace korval::testing {

inline std::vector<std::uint8_t> randomBytes(std::size_t count, std::uint32_t seed)
{
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(count);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

} // namespace korval::testing
