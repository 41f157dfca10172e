// The in-flight count of one kind of transfer and its drained event. The
// event is set and cleared under the count's own lock, so it always agrees
// with the count even when completions and resubmission DPCs run on
// different processors.
#pragma once

#include "base/DeviceContext.h"

// Count 0, event cleared: the state before the first submission.
VOID ResetInFlight(tagLockedUlong* Count, PKEVENT Drained);
VOID AddInFlight(tagLockedUlong* Count, PKEVENT Drained);
// One transfer is back for good: count - 1 (not below 0), the event set at 0.
VOID ReleaseInFlight(tagLockedUlong* Count, PKEVENT Drained);
// True when nothing is in flight (event set); otherwise the event is cleared
// and the last release will set it.
bool InFlightSettled(tagLockedUlong* Count, PKEVENT Drained);
ULONG ReadInFlight(tagLockedUlong* Count);
