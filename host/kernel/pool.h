// Control and inspection of the emulated non-paged pool: counts by tag, a
// fault injector that fails the n-th allocation, and the leak check.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korval::host {

struct PoolCounters {
    std::uint64_t allocations = 0;  // successful allocations since the last reset
    std::uint64_t frees = 0;
    std::uint64_t failures = 0;     // allocations refused (injected or size 0 overflow)
    std::size_t outstandingBlocks = 0;
    std::size_t outstandingBytes = 0;
};

// Counters of one tag (a tag of 0 means every tag).
PoolCounters poolCounters(std::uint32_t tag = 0);
void resetPoolCounters();

// The n-th allocation from now (1 = the next one) returns null; 0 disarms.
void failPoolAllocation(std::uint64_t nth);

// Verifier check for device removal and driver unload: every block of the tag
// (0 = all tags) must be free; otherwise a bug check lists what leaked.
void checkNoPoolLeaks(std::uint32_t tag = 0);

} // namespace korval::host
