// Test hooks on the kernel's waits: how many threads wait in
// KeWaitForSingleObject / KeWaitForMultipleObjects now, so that a test steps
// the clock only after its waiter has fixed its deadline.
#pragma once

#include <cstddef>

namespace korval::host {

std::size_t kernelWaiters();
// Returns when at least `count` threads wait (polling in real time).
void awaitKernelWaiters(std::size_t count);

} // namespace korval::host
