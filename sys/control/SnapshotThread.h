// The snapshot thread: one system thread per device, started by StartStatus
// with the DeviceContext as its context. It turns a snapshot-button press, or
// a still request that a still-image service sets in "StatusReport", into the
// still file and reports the outcome in "StatusReport" and its Stillgate copy.
//
// It ends on ThreadStop or DeviceStopEvent, or when it finds the device gone,
// unconfigured or its status transfer stopped at the top of its loop. At its
// start it resets SnapshotThreadDone before it sets SnapshotThreadRunning, and
// at its end it clears the flag before it signals the event, so a waiter that
// sees the flag set always finds the event reset until the thread is done.
// The thread cannot cover the time before it first runs: a stop issued then
// sees the flag clear, so the waiter must also wait on the thread object
// (DeviceContext.SnapshotThread) to be sure the thread has gone.
#pragma once

#include "base/DeviceContext.h"

constexpr LONGLONG SNAPSHOT_POLL_INTERVAL = -6000000; // 0.6 s, relative

VOID NTAPI SnapshotThread(PVOID StartContext);
