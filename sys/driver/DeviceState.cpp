#include "base/DeviceContext.h"
#include "settings/PropertyTable.h"
#include "stream/SrbQueue.h"

#include <cstring>

namespace {

VOID InitializeLockedFlag(tagLockedFlag* Flag, BOOLEAN Value)
{
    KeInitializeSpinLock(&Flag->Lock);
    Flag->bValue = Value;
}

VOID ResetCurrentSettings(DeviceContext* Device)
{
    // The current-value block runs from CurBrightness to CurFrameRate.
    auto* first = reinterpret_cast<PUCHAR>(&Device->CurBrightness);
    auto* end = reinterpret_cast<PUCHAR>(&Device->CurFrameRate + 1);
    std::memset(first, 0, static_cast<size_t>(end - first));
    for (const tagPropertyEntry& entry : PropertyTable) {
        if (entry.pFlags != nullptr) {
            Device->*entry.pFlags = entry.ucInitialFlags;
        }
    }
}

} // namespace

VOID InitializeDeviceState(DeviceContext* Device)
{
    KeInitializeSpinLock(&Device->DevicePowerState.Lock);
    Device->DevicePowerState.ulValue = PowerDeviceD0;
    InitializeLockedFlag(&Device->DevicePresent, TRUE);
    KeInitializeEvent(&Device->DeviceStopEvent, NotificationEvent, FALSE);
    InitializeLockedFlag(&Device->UsbConfigured, FALSE);
    InitializeLockedFlag(&Device->RegistersReady, FALSE);
    InitializeLockedFlag(&Device->CaptureOpen, FALSE);
    InitializeLockedFlag(&Device->RestartRequested, FALSE);
    InitializeLockedFlag(&Device->SnapshotThreadRunning, FALSE);
    KeInitializeSpinLock(&Device->StillImageLock);
    Device->EventEnableCount = 0;
    SrbQueueInitialize(&Device->DataQueue);
    SrbQueueInitialize(&Device->ControlQueue);
    KeInitializeEvent(&Device->SnapshotThreadDone, NotificationEvent, TRUE);
    ResetCurrentSettings(Device);
    Device->SettingKvdsn = 0xFFFFFFFF;
}
