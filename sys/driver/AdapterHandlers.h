// Handlers of the adapter SRBs; the capture stream's open and close and the
// device properties come from their subsystems. Each returns the NT status
// that the dispatcher stores in the SRB before completing it; none pends it.
#pragma once

#include "control/DeviceProperties.h"
#include "platform/Platform.h"
#include "stream/CaptureStream.h"

NTSTATUS GetStreamInfo(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS InitializeDevice(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS ChangePowerState(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS UninitializeDevice(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS GetDataIntersection(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS CompleteInitialization(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS SurpriseRemoval(PHW_STREAM_REQUEST_BLOCK Srb);
