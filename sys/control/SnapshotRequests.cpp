#include "control/SnapshotRequests.h"

#include "control/StillImageFile.h"
#include "settings/StillStatus.h"

VOID ServeButtonPress(DeviceContext* Device, PULONG Status)
{
    ReadStillStatus(Status);
    if (GetCaptureOpen(Device)) {
        *Status = StillStatusAfterStill(*Status, WriteStillImage(Device));
    } else {
        *Status = StillStatusAfterPressWithoutStream(*Status);
    }
    PublishStillStatus(*Status);
}

VOID ServeStillRequest(DeviceContext* Device, PULONG Status)
{
    ReadStillStatus(Status);
    if ((*Status & STILL_STATUS_REQUEST) == 0) {
        return;
    }
    if (GetCaptureOpen(Device)) {
        *Status = StillStatusAfterStill(*Status, WriteStillImage(Device));
    }
    *Status &= ~STILL_STATUS_REQUEST;
    PublishStillStatus(*Status);
}
