#include "tools/korval/machine_lock.h"

#include "tools/korval/cli.h"
#include "tools/korval/machine_session.h"
#include "tools/korval/stop_signals.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

namespace korval::tools {

MachineLock::MachineLock(const std::filesystem::path& directory, Mode mode, bool wait, std::ostream* messages)
{
    const std::filesystem::path file = directory / ".lock";
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0 && mode == Mode::Shared) {
        fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            return;
        }
    }
    if (fd_ < 0) {
        throw SessionError("cannot use machine directory '" + directory.string() + "': cannot create its lock file: " +
                               std::strerror(errno),
                           kExitFile);
    }
    const int kind = mode == Mode::Shared ? LOCK_SH : LOCK_EX;
    if (::flock(fd_, kind | LOCK_NB) == 0) {
        return;
    }
    if (!wait) {
        ::close(fd_);
        fd_ = -1;
        throw SessionError("machine directory '" + directory.string() +
                               "' is in use by another korval (without --no-wait this run would wait for it)",
                           kExitBusy);
    }
    // Held before the message that offers Ctrl-C, so a stop signal right after it ends the wait in order.
    StopSignalGuard stopSignals;
    if (messages != nullptr) {
        *messages << "korval: waiting for another korval to finish with machine directory '" << directory.string()
                  << "' (Ctrl-C gives up; --no-wait refuses at once)\n"
                  << std::flush;
    }
    waitForLock(directory, kind);
}

// Tries again every few milliseconds rather than blocking in flock, so that a
// stop signal (Ctrl-C, SIGTERM, SIGHUP) ends the wait however it is taken:
// by a handler or held pending for sigwait. Called under a StopSignalGuard, so
// every command gives up the wait in order, not only those that guard a capture.
void MachineLock::waitForLock(const std::filesystem::path& directory, int kind)
{
    constexpr timespec kRetry{0, 20 * 1000 * 1000};
    while (::flock(fd_, kind | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            const int reason = errno;
            ::close(fd_);
            fd_ = -1;
            throw SessionError("cannot lock machine directory '" + directory.string() + "': " + std::strerror(reason),
                               kExitFile);
        }
        if (stopRequested()) {
            ::close(fd_);
            fd_ = -1;
            throw SessionError(std::string("interrupted by ") + stopSignalName() +
                                   " while waiting for machine directory '" + directory.string() + "'",
                               kExitInterrupted);
        }
        ::nanosleep(&kRetry, nullptr);
    }
}

MachineLock::~MachineLock()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

} // namespace korval::tools
