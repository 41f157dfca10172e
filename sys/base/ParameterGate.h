// One gate per device between the property handlers and the capture pipeline.
// CImageProcess and CAe take no locks, so a parameter change must never overlap
// the per-frame processing of the same object, nor its creation or destruction.
//
// The pipeline holds the gate for each whole read request (its frame wait, its
// processing and its camera register changes) and while it creates or destroys
// the processing objects, so a property request or a close waits at most one
// frame. The property handlers hold it for the whole of one request, so two
// property requests of a device never interleave either, and the stream-state
// and power changes hold it while they edit the camera's register shadow. A
// change therefore lands between two frames.
//
// PASSIVE_LEVEL only (it waits); not recursive. A holder may go on to take the
// transport lock of CUsbCamera; a holder of the transport lock never waits
// for this gate.
#pragma once

#include "base/DeviceContext.h"

VOID AcquireParameterGate(DeviceContext* Device);
VOID ReleaseParameterGate(DeviceContext* Device);
