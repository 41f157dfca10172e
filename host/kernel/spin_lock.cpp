// Spin locks with the verifier's rules: IRQL at acquire and release, no
// recursion, release only by the holder.
#include "host/kernel/bug_check.h"
#include "host/kernel/irql.h"
#include "host/kernel/kernel_internal.h"

#include <atomic>
#include <thread>

namespace korval::host {
namespace {

thread_local char threadToken; // its address names the holder inside the lock word

ULONG_PTR ownerValue()
{
    return reinterpret_cast<ULONG_PTR>(&threadToken) | 1;
}

void spinAcquire(PKSPIN_LOCK lock)
{
    std::atomic_ref<ULONG_PTR> word(*lock);
    if (word.load(std::memory_order_relaxed) == ownerValue()) {
        bugCheck("acquiring a spin lock that this thread already holds (deadlock)");
    }
    for (int spins = 0;; ++spins) {
        ULONG_PTR expected = 0;
        if (word.compare_exchange_weak(expected, ownerValue(), std::memory_order_acquire)) {
            break;
        }
        if (spins > 64) {
            std::this_thread::yield();
        }
    }
    noteSpinLockAcquired();
}

void spinRelease(PKSPIN_LOCK lock)
{
    std::atomic_ref<ULONG_PTR> word(*lock);
    if (word.load(std::memory_order_relaxed) != ownerValue()) {
        bugCheck("releasing a spin lock that this thread does not hold");
    }
    noteSpinLockReleased();
    word.store(0, std::memory_order_release);
}

} // namespace
} // namespace korval::host

using namespace korval::host;

extern "C" VOID NTAPI KeInitializeSpinLock(PKSPIN_LOCK SpinLock)
{
    std::atomic_ref<ULONG_PTR>(*SpinLock).store(0, std::memory_order_release);
}

extern "C" KIRQL FASTCALL KfAcquireSpinLock(PKSPIN_LOCK SpinLock)
{
    const KIRQL old = currentIrql();
    if (old > DISPATCH_LEVEL) {
        bugCheck("IRQL_NOT_LESS_OR_EQUAL: KfAcquireSpinLock called above DISPATCH_LEVEL");
    }
    raiseIrql(DISPATCH_LEVEL);
    spinAcquire(SpinLock);
    return old;
}

extern "C" VOID FASTCALL KfReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql)
{
    if (currentIrql() != DISPATCH_LEVEL) {
        bugCheck("releasing a spin lock with KfReleaseSpinLock at an IRQL other than DISPATCH_LEVEL");
    }
    if (NewIrql > DISPATCH_LEVEL) {
        bugCheck("KfReleaseSpinLock given an old IRQL above DISPATCH_LEVEL");
    }
    spinRelease(SpinLock);
    lowerIrql(NewIrql);
}

extern "C" VOID FASTCALL KefAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock)
{
    if (currentIrql() < DISPATCH_LEVEL) {
        bugCheck("KefAcquireSpinLockAtDpcLevel called below DISPATCH_LEVEL");
    }
    spinAcquire(SpinLock);
}

extern "C" VOID FASTCALL KefReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock)
{
    if (currentIrql() < DISPATCH_LEVEL) {
        bugCheck("KefReleaseSpinLockFromDpcLevel called below DISPATCH_LEVEL");
    }
    spinRelease(SpinLock);
}
