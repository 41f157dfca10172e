// Private-set values while the capture stream is open: the current value, and
// at once the stream's auto-exposure or image-processing parameters or its
// overlay frame where the value drives one. Called with the parameter gate held.
#pragma once

#include "settings/PropertyTable.h"

NTSTATUS SetPrivateLive(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value);
