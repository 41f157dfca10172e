// VIDEOPROCAMP sets while the capture stream is open: the current values and
// the stream's image-processing parameters. Called with the parameter gate held.
#pragma once

#include "driver/DeviceContext.h"

VOID SetProcAmpLive(DeviceContext* Device, ULONG Id, ULONG Value, ULONG Flags);

// Manual white balance: the colour gains (R, G, B) a white-balance value
// selects. Values without a preset leave the gains as they are.
VOID SelectWhiteBalanceGains(DeviceContext* Device, ULONG Value);
