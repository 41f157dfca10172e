#include "tools/korval/machine_lock.h"

#include "tools/korval/cli.h"
#include "tools/korval/machine_session.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
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
    if (messages != nullptr) {
        *messages << "korval: waiting for another korval to finish with machine directory '" << directory.string()
                  << "' (--no-wait refuses instead)\n"
                  << std::flush;
    }
    while (::flock(fd_, kind) != 0 && errno == EINTR) {
    }
}

MachineLock::~MachineLock()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

} // namespace korval::tools
