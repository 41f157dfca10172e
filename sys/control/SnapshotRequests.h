// What the snapshot thread does for one button press and for one poll of the
// service's still request. Status is the thread's copy of "StatusReport": it
// stands in for a missing value and holds the word last written.
#pragma once

#include "base/DeviceContext.h"

// A press: the still when a capture stream is open, otherwise bit 0 for the
// service; "StatusReport" and its copy are written either way.
VOID ServeButtonPress(DeviceContext* Device, PULONG Status);

// A poll: when the service has set bit 10, the still (if a capture stream is
// open), bit 10 cleared and the word written; otherwise nothing is written.
VOID ServeStillRequest(DeviceContext* Device, PULONG Status);
