// The processor that runs queued DPCs: one thread at DISPATCH_LEVEL, in
// queue order, as one CPU of the real platform drains its DPC queue.
#pragma once

#include "platform/Kernel.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace korval::host {

class DpcProcessor {
public:
    DpcProcessor();
    ~DpcProcessor(); // runs what is queued, then stops

    bool insert(PRKDPC dpc, PVOID argument1, PVOID argument2);
    bool remove(PRKDPC dpc);
    void flush(); // returns when nothing is queued or running
    bool onDpcThread() const { return std::this_thread::get_id() == worker_.get_id(); }

private:
    void run();
    void runOne(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<PRKDPC> queue_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace korval::host
