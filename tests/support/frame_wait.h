// How long a test waits for a frame before it calls the stream stuck: far past
// any recovery a starved machine needs (the 32-bit tests under qemu beside other
// work went 20 s without one), so only a hang reaches it.
#pragma once

#include <chrono>

namespace korval::testing {

inline constexpr std::chrono::minutes kFrameWaitLimit{2};

} // namespace korval::testing
