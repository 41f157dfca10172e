// VIDEOPROCAMP sets while the capture stream is open: the current values and
// the stream's image-processing parameters. Called with the parameter gate held.
#pragma once

#include "base/DeviceContext.h"

VOID SetProcAmpLive(DeviceContext* Device, ULONG Id, ULONG Value, ULONG Flags);
