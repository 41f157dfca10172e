// Handlers of the adapter SRBs. Each returns the NT status that the dispatcher
// stores in the SRB before completing it; none pends the SRB.
#pragma once

#include "platform/Platform.h"

NTSTATUS GetStreamInfo(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS OpenCaptureStream(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS CloseCaptureStream(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS GetDeviceProperty(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS SetDeviceProperty(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS InitializeDevice(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS ChangePowerState(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS UninitializeDevice(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS GetDataIntersection(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS CompleteInitialization(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS SurpriseRemoval(PHW_STREAM_REQUEST_BLOCK Srb);
