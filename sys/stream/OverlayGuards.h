// The two guards of the overlay buffers: the spin lock under which pixels are
// replaced or blended, and the gate that lets one load, allocation or release
// run at a time (it is held across file reads, so only at PASSIVE_LEVEL).
#pragma once

#include "stream/StreamContext.h"

// Takes OverlayLock with the call that suits the current IRQL; returns the
// IRQL to give back to ReleaseOverlayLock.
KIRQL AcquireOverlayLock(StreamContext* Stream);
VOID ReleaseOverlayLock(StreamContext* Stream, KIRQL OldIrql);

// Waits for the gate; FALSE (without waiting) above PASSIVE_LEVEL.
BOOLEAN EnterOverlayGate(StreamContext* Stream);
VOID LeaveOverlayGate(StreamContext* Stream);
