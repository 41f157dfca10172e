#include "tools/korval/stop_signals.h"

#include <atomic>
#include <csignal>
#include <ctime>
#include <iterator>
#include <pthread.h>

namespace korval::tools {
namespace {

// No handler runs for them: under a guard they are blocked and looked for
// among the pending signals. A handler would interrupt whichever thread the
// signal lands on, and a 32-bit korval under qemu-i386 comes back from one
// with that thread's thread-local storage swapped for another thread's.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP}; // a second one ends the program

std::atomic<int> stopSignal{0};
std::atomic<int> guards{0};
sigset_t maskBeforeGuard; // of the outermost guard's thread

sigset_t signalSet(const int* begin, const int* end)
{
    sigset_t set;
    sigemptyset(&set);
    for (const int* number = begin; number != end; ++number) {
        sigaddset(&set, *number);
    }
    return set;
}

// Takes a pending stop signal that the guard blocked off the pending set.
int takePending(const sigset_t& pending)
{
    for (int number : kStopSignals) {
        if (sigismember(&pending, number) == 1 && sigismember(&maskBeforeGuard, number) == 0) {
            const sigset_t one = signalSet(&number, &number + 1);
            const timespec now{0, 0};
            if (sigtimedwait(&one, nullptr, &now) == number) {
                return number;
            }
        }
    }
    return 0;
}

// The stop signal that arrived: one taken before, or one pending now.
int arrivedSignal()
{
    if (const int number = stopSignal.load(); number != 0) {
        return number;
    }
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    if (guards.load() > 0) {
        if (const int number = takePending(pending); number != 0) {
            stopSignal.store(number);
            const sigset_t ending = signalSet(std::begin(kEndingSignals), std::end(kEndingSignals));
            pthread_sigmask(SIG_UNBLOCK, &ending, nullptr);
            return number;
        }
    }
    // Held pending for sigwait by whoever blocked them (korval serve).
    for (int number : kEndingSignals) {
        if (sigismember(&pending, number) == 1) {
            return number;
        }
    }
    return 0;
}

} // namespace

StopSignalGuard::StopSignalGuard()
{
    if (guards.fetch_add(1) > 0) {
        return;
    }
    stopSignal.store(0);
    // Threads started from here on inherit the mask.
    const sigset_t stops = signalSet(std::begin(kStopSignals), std::end(kStopSignals));
    pthread_sigmask(SIG_BLOCK, &stops, &maskBeforeGuard);
}

StopSignalGuard::~StopSignalGuard()
{
    if (guards.load() == 1) {
        // One that came too late to be looked at is dropped, not acted on.
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        while (takePending(pending) != 0) {
            sigpending(&pending);
        }
        pthread_sigmask(SIG_SETMASK, &maskBeforeGuard, nullptr);
    }
    guards.fetch_sub(1);
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
