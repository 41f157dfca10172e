// Where the configuration side meets the streaming side: Close stops the
// transfers that still run before their contexts are freed.
#include "usb/CUsbCamera.h"

VOID CUsbCamera::StopTransfersIfRunning()
{
    CTransportHold hold(this);
    if (ReadLockedFlag(&StatusStarted)) {
        StopStatus();
    }
    if (ReadLockedFlag(&VideoStarted)) {
        StopVideo();
    }
}
