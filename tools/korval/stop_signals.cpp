#include "tools/korval/stop_signals.h"

#include <atomic>
#include <csignal>
#include <iterator>

namespace korval::tools {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

std::atomic<int> stopSignal{0};

extern "C" void onStopSignal(int number)
{
    stopSignal.store(number);
}

struct sigaction previousActions[std::size(kStopSignals)];

// The stop signal that arrived: the handler's, or one held pending.
int arrivedSignal()
{
    if (const int number = stopSignal.load(); number != 0) {
        return number;
    }
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigismember(&pending, number) == 1) {
            return number;
        }
    }
    return 0;
}

} // namespace

StopSignalGuard::StopSignalGuard()
{
    stopSignal.store(0);
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        // No SA_RESTART: a wait in a system call comes back to look at the flag.
        // SIGPIPE stays caught; the others end the program the second time.
        action.sa_flags = kStopSignals[i] == SIGPIPE ? 0 : SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(kStopSignals[i], &action, &previousActions[i]);
    }
}

StopSignalGuard::~StopSignalGuard()
{
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        sigaction(kStopSignals[i], &previousActions[i], nullptr);
    }
}

bool stopRequested()
{
    return arrivedSignal() != 0;
}

const char* stopSignalName()
{
    switch (arrivedSignal()) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGPIPE: return "SIGPIPE";
    default: return "a signal";
    }
}

} // namespace korval::tools
