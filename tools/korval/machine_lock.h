// The lock that keeps two korval runs from using one machine directory at
// once: an advisory lock on DIR/.lock, shared by commands that only read the
// machine, exclusive for those that change it.
#pragma once

#include <filesystem>
#include <ostream>

namespace korval::tools {

class MachineLock {
public:
    enum class Mode { Shared, Exclusive };
    // Waits for the lock (telling `messages` once why) unless `wait` is false;
    // throws SessionError (kExitBusy) when it may not wait, (kExitInterrupted)
    // when a stop signal ends the wait, or (kExitFile) when the lock file
    // cannot be made. A read-only directory without a lock
    // file is not locked: nobody can change it through korval.
    MachineLock(const std::filesystem::path& directory, Mode mode, bool wait, std::ostream* messages);
    ~MachineLock();
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;

private:
    void waitForLock(const std::filesystem::path& directory, int kind);

    int fd_ = -1;
};

} // namespace korval::tools
