// The kernel's C runtime random generator, shared by every caller as on the
// real platform; tests restore its start state to reproduce a sequence.
#pragma once

#include <cstdint>

namespace korval::host {

void setRandState(std::uint32_t state); // 1 is the state at boot
std::uint32_t randState();

} // namespace korval::host
