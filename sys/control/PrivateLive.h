// Private-set values while the capture stream is open: the current value, and
// at once the stream's auto-exposure or image-processing parameters or its
// overlay frame where the value drives one. Called with the parameter gate held.
#pragma once

#include "base/DeviceContext.h"

NTSTATUS SetPrivateLive(DeviceContext* Device, ULONG Id, ULONG Value);

// The fastest timing row auto exposure may use for a frame rate (frames per
// second, not 0): the row whose frame interval covers 10000000 / rate.
USHORT MinimumRowForFrameRate(ULONG FramesPerSecond);
