// The signals that ask korval to stop: Ctrl-C (SIGINT), SIGTERM, SIGHUP (the
// terminal or the ssh session went away) and SIGPIPE (whoever read our output
// went away). A capture finishes the frame in hand and keeps what it has, as
// if it had reached its count; a wait for the machine directory gives up.
#pragma once

namespace korval::tools {

// While it lives, the stop signals are held for stopRequested() instead of
// ending the program, in this thread and the threads it starts; once one has
// been seen, a second SIGINT, SIGTERM or SIGHUP ends it as usual. Guards nest:
// the outermost one counts.
class StopSignalGuard {
public:
    StopSignalGuard();
    ~StopSignalGuard();
    StopSignalGuard(const StopSignalGuard&) = delete;
    StopSignalGuard& operator=(const StopSignalGuard&) = delete;
};

// A stop signal arrived under a guard, or is pending in a thread that blocks
// them to take them with sigwait (korval serve).
bool stopRequested();

// The signal that asked to stop, for messages ("SIGHUP"); "" when none did.
const char* stopSignalName();

} // namespace korval::tools
