// One gate per device between the property handlers and the capture pipeline.
// CImageProcess and CAe take no locks, so a parameter change must never overlap
// the per-frame processing of the same object, nor its creation or destruction.
//
// The pipeline holds the gate around each frame's CImageProcess / CAe work
// (and around reading the effect and overlay frame numbers it acts on), and
// while it creates or destroys those objects; not while it waits for a frame,
// so that a property request waits at most one frame's processing. The property handlers hold it for
// the whole of one request, so two property requests of a device never
// interleave either. A change therefore lands between two frames.
//
// PASSIVE_LEVEL only (it waits); not recursive.
#pragma once

#include "driver/DeviceContext.h"

VOID AcquireParameterGate(DeviceContext* Device);
VOID ReleaseParameterGate(DeviceContext* Device);
