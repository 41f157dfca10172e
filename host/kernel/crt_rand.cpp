#include "host/kernel/crt_rand.h"

#include "platform/Pool.h"

#include <atomic>

namespace korval::host {
namespace {
std::atomic<std::uint32_t> generatorState{1};
}

void setRandState(std::uint32_t state)
{
    generatorState.store(state);
}

std::uint32_t randState()
{
    return generatorState.load();
}

} // namespace korval::host

extern "C" int rand(void) noexcept
{
    std::uint32_t state = korval::host::generatorState.load();
    std::uint32_t next = 0;
    do {
        next = state * 214013u + 2531011u;
    } while (!korval::host::generatorState.compare_exchange_weak(state, next));
    return static_cast<int>((next >> 16) & 0x7FFF);
}
