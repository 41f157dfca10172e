// SRB_GET_DEVICE_PROPERTY and SRB_SET_DEVICE_PROPERTY: the adapter's
// property sets, decoded and handed to the handler of each set.
#pragma once

#include "platform/Platform.h"

NTSTATUS GetDeviceProperty(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS SetDeviceProperty(PHW_STREAM_REQUEST_BLOCK Srb);
