// VIDEOPROCAMP sets while the capture stream is open: the current values and
// the stream's image-processing parameters. Called with the parameter gate held.
#pragma once

#include "settings/PropertyTable.h"

VOID SetProcAmpLive(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value, ULONG Flags);
