// The NT status that goes with a USBD status on a completed request.
#pragma once

#include "platform/Usb.h"

namespace korval::host {

constexpr NTSTATUS kDeviceGoneStatus = STATUS_DEVICE_NOT_CONNECTED;

constexpr NTSTATUS ntStatusFor(USBD_STATUS status)
{
    if (status >= 0) {
        return STATUS_SUCCESS;
    }
    switch (status) {
    case USBD_STATUS_CANCELED: return STATUS_CANCELLED;
    case USBD_STATUS_DEVICE_GONE: return kDeviceGoneStatus;
    case USBD_STATUS_INVALID_PARAMETER:
    case USBD_STATUS_INVALID_PIPE_HANDLE:
    case USBD_STATUS_INVALID_URB_FUNCTION: return STATUS_INVALID_PARAMETER;
    default: return STATUS_UNSUCCESSFUL;
    }
}

} // namespace korval::host
