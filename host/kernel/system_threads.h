// System threads of one platform: real threads started at PASSIVE_LEVEL whose
// thread objects are waitable and reference counted.
#pragma once

#include "platform/Kernel.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace korval::host {

class SystemThreads {
public:
    ~SystemThreads(); // waits for every thread to end
    NTSTATUS create(PHANDLE handle, PCLIENT_ID clientId, PKSTART_ROUTINE start, PVOID context);
    std::size_t running() const;
    void waitForAll();

private:
    void finished();

    mutable std::mutex mutex_;
    std::condition_variable allDone_;
    std::size_t running_ = 0;
    friend struct SystemThreadStart;
};

// A reference to a live kernel object (thread objects only); false when the
// pointer is no such object.
bool referenceKernelObject(PVOID object);
bool dereferenceKernelObject(PVOID object, LONG_PTR* remaining);

} // namespace korval::host
