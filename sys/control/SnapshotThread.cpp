#include "control/SnapshotThread.h"

#include "control/SnapshotRequests.h"
#include "usb/CUsbCamera.h"

namespace {

enum class SnapshotWake { Stop, Press, Poll };

bool StatusChannelServes(DeviceContext* Device)
{
    return GetDevicePresent(Device) && GetUsbConfigured(Device) && ReadLockedFlag(&Device->Usb->StatusRunning);
}

SnapshotWake WaitForWork(DeviceContext* Device)
{
    // A stop outranks a press that is signalled at the same time.
    PVOID objects[] = {&Device->DeviceStopEvent, &Device->Usb->StatusEvent, &Device->Usb->ThreadStop};
    LARGE_INTEGER timeout;
    timeout.QuadPart = SNAPSHOT_POLL_INTERVAL;
    const NTSTATUS status = KeWaitForMultipleObjects(sizeof(objects) / sizeof(objects[0]), objects, WaitAny,
                                                     Executive, KernelMode, FALSE, &timeout, nullptr);
    if (status == STATUS_TIMEOUT) {
        return SnapshotWake::Poll;
    }
    return status == STATUS_WAIT_0 + 1 ? SnapshotWake::Press : SnapshotWake::Stop;
}

VOID ServeUntilStopped(DeviceContext* Device)
{
    // The last word read or written; it stands in for a missing value.
    ULONG status = 0;
    while (StatusChannelServes(Device)) {
        const SnapshotWake wake = WaitForWork(Device);
        if (wake == SnapshotWake::Stop) {
            return;
        }
        if (wake == SnapshotWake::Press) {
            ServeButtonPress(Device, &status);
        } else {
            ServeStillRequest(Device, &status);
        }
    }
}

} // namespace

VOID NTAPI SnapshotThread(PVOID StartContext)
{
    auto* device = static_cast<DeviceContext*>(StartContext);
    if (device != nullptr) {
        KeClearEvent(&device->SnapshotThreadDone);
        SetSnapshotThreadRunning(device, TRUE);
        if (device->Usb != nullptr) {
            ServeUntilStopped(device);
        }
        SetSnapshotThreadRunning(device, FALSE);
        KeSetEvent(&device->SnapshotThreadDone, 0, FALSE);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}
