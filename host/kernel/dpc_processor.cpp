#include "host/kernel/dpc_processor.h"

#include "host/kernel/bug_check.h"
#include "host/kernel/irql.h"
#include "host/kernel/kernel_internal.h"

#include <algorithm>

namespace korval::host {

DpcProcessor::DpcProcessor() : worker_([this] { run(); }) {}

DpcProcessor::~DpcProcessor()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

bool DpcProcessor::insert(PRKDPC dpc, PVOID argument1, PVOID argument2)
{
    std::lock_guard lock(mutex_);
    if (dpc->DpcData != nullptr) {
        return false;
    }
    dpc->DpcData = this;
    dpc->SystemArgument1 = argument1;
    dpc->SystemArgument2 = argument2;
    queue_.push_back(dpc);
    changed_.notify_all();
    return true;
}

bool DpcProcessor::remove(PRKDPC dpc)
{
    std::lock_guard lock(mutex_);
    const auto found = std::find(queue_.begin(), queue_.end(), dpc);
    if (found == queue_.end()) {
        return false;
    }
    queue_.erase(found);
    dpc->DpcData = nullptr;
    changed_.notify_all();
    return true;
}

void DpcProcessor::flush()
{
    if (onDpcThread()) {
        bugCheck("KeFlushQueuedDpcs called from a DPC (it would wait for itself)");
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !running_; });
}

void DpcProcessor::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        runOne(lock);
    }
}

void DpcProcessor::runOne(std::unique_lock<std::mutex>& lock)
{
    PRKDPC dpc = queue_.front();
    queue_.pop_front();
    // Dequeued before it runs, so the routine may queue it again.
    dpc->DpcData = nullptr;
    const PKDEFERRED_ROUTINE routine = dpc->DeferredRoutine;
    PVOID context = dpc->DeferredContext;
    PVOID argument1 = dpc->SystemArgument1;
    PVOID argument2 = dpc->SystemArgument2;
    running_ = true;
    lock.unlock();
    {
        ScopedIrql atDispatch(DISPATCH_LEVEL);
        routine(dpc, context, argument1, argument2);
        if (currentIrql() != DISPATCH_LEVEL) {
            bugCheck("a DPC routine returned at an IRQL other than DISPATCH_LEVEL");
        }
        if (spinLocksHeld() != 0) {
            bugCheck("a DPC routine returned holding a spin lock");
        }
    }
    lock.lock();
    running_ = false;
    changed_.notify_all();
}

} // namespace korval::host
