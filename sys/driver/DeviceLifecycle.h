// Pieces shared by the adapter requests that make and unmake a working device
// (initialize, initialization complete, power change, uninitialize).
#pragma once

#include "base/DeviceContext.h"

// Destroys the device's objects and still buffers, in the order stream record,
// camera registers, USB transport, still buffers, and nulls the fields. The
// objects must already be wound down (pipeline closed, registers unbound, USB
// closed); fields that are null are skipped.
VOID DestroyDeviceObjects(DeviceContext* Device);

