#include "host/kernel/irql.h"

#include "host/kernel/bug_check.h"
#include "platform/Kernel.h"

#include <string>

namespace korval::host {
namespace {
thread_local KIRQL threadIrql = PASSIVE_LEVEL;
thread_local int threadSpinLocks = 0;
} // namespace

std::uint8_t currentIrql()
{
    return threadIrql;
}

int spinLocksHeld()
{
    return threadSpinLocks;
}

void noteSpinLockAcquired()
{
    ++threadSpinLocks;
}

void noteSpinLockReleased()
{
    --threadSpinLocks;
}

void raiseIrql(std::uint8_t level)
{
    if (level < threadIrql) {
        bugCheck("IRQL_NOT_GREATER_OR_EQUAL: raising IRQL from " + std::to_string(threadIrql) + " to the lower " +
                 std::to_string(level));
    }
    threadIrql = level;
}

void lowerIrql(std::uint8_t level)
{
    if (level > threadIrql) {
        bugCheck("IRQL_NOT_LESS_OR_EQUAL: lowering IRQL from " + std::to_string(threadIrql) + " to the higher " +
                 std::to_string(level));
    }
    if (level < DISPATCH_LEVEL && threadSpinLocks > 0) {
        bugCheck("lowering IRQL below DISPATCH_LEVEL while holding a spin lock");
    }
    threadIrql = level;
}

void requireIrqlAtMost(std::uint8_t level, const char* function)
{
    if (threadIrql > level) {
        bugCheck(std::string("IRQL_NOT_LESS_OR_EQUAL: ") + function + " called at IRQL " + std::to_string(threadIrql) +
                 ", above " + (level == PASSIVE_LEVEL ? "PASSIVE_LEVEL" : "DISPATCH_LEVEL"));
    }
}

ScopedIrql::ScopedIrql(std::uint8_t level) : previous_(threadIrql)
{
    raiseIrql(level);
}

ScopedIrql::~ScopedIrql()
{
    lowerIrql(previous_);
}

} // namespace korval::host

using namespace korval::host;

extern "C" KIRQL NTAPI KeGetCurrentIrql(void)
{
    return currentIrql();
}

extern "C" KIRQL FASTCALL KfRaiseIrql(KIRQL NewIrql)
{
    const KIRQL old = currentIrql();
    raiseIrql(NewIrql);
    return old;
}

extern "C" VOID FASTCALL KfLowerIrql(KIRQL NewIrql)
{
    lowerIrql(NewIrql);
}

extern "C" KIRQL NTAPI KeRaiseIrqlToDpcLevel(void)
{
    return KfRaiseIrql(DISPATCH_LEVEL);
}
