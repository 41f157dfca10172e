// Per-thread IRQL of the emulated processor: host code (the USB bus thread,
// the stream class) runs driver callbacks at the level the platform would.
#pragma once

#include <cstdint>

namespace korval::host {

std::uint8_t currentIrql();

// Raises the calling thread to `level` for the scope and lowers it back;
// e.g. ScopedIrql atDispatch(DISPATCH_LEVEL) around a completion routine.
class ScopedIrql {
public:
    explicit ScopedIrql(std::uint8_t level);
    ~ScopedIrql();
    ScopedIrql(const ScopedIrql&) = delete;
    ScopedIrql& operator=(const ScopedIrql&) = delete;

private:
    std::uint8_t previous_;
};

// Runs `function` at `level` on the calling thread.
template <class Function>
decltype(auto) runAtIrql(std::uint8_t level, Function&& function)
{
    ScopedIrql raised(level);
    return function();
}

// Spin locks the calling thread holds now (the verifier's bookkeeping).
int spinLocksHeld();

} // namespace korval::host
