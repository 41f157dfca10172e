// Locked accessors of the DeviceContext flags.
#include "base/DeviceContext.h"

namespace {

// A lock held by one accessor, remembering how it was taken so that it is
// released by the matching call.
struct tagHeldLock {
    PKSPIN_LOCK pLock;
    KIRQL OldIrql;
    BOOLEAN bAtDpcLevel;
};

tagHeldLock AcquireByIrql(PKSPIN_LOCK Lock)
{
    tagHeldLock held = {Lock, DISPATCH_LEVEL, FALSE};
    if (KeGetCurrentIrql() >= DISPATCH_LEVEL) {
        KefAcquireSpinLockAtDpcLevel(Lock);
        held.bAtDpcLevel = TRUE;
    } else {
        held.OldIrql = KfAcquireSpinLock(Lock);
    }
    return held;
}

VOID Release(const tagHeldLock& Held)
{
    if (Held.bAtDpcLevel) {
        KefReleaseSpinLockFromDpcLevel(Held.pLock);
    } else {
        KfReleaseSpinLock(Held.pLock, Held.OldIrql);
    }
}

} // namespace

BOOLEAN ReadLockedFlag(tagLockedFlag* Flag)
{
    const tagHeldLock held = AcquireByIrql(&Flag->Lock);
    const BOOLEAN value = Flag->bValue;
    Release(held);
    return value;
}

VOID WriteLockedFlag(tagLockedFlag* Flag, BOOLEAN Value)
{
    const tagHeldLock held = AcquireByIrql(&Flag->Lock);
    Flag->bValue = Value;
    Release(held);
}

ULONG GetDevicePowerState(DeviceContext* Device)
{
    const tagHeldLock held = AcquireByIrql(&Device->DevicePowerState.Lock);
    const ULONG state = Device->DevicePowerState.ulValue;
    Release(held);
    return state;
}

VOID SetDevicePowerState(DeviceContext* Device, ULONG State)
{
    const tagHeldLock held = AcquireByIrql(&Device->DevicePowerState.Lock);
    Device->DevicePowerState.ulValue = State;
    Release(held);
}

BOOLEAN GetDevicePresent(DeviceContext* Device)
{
    return ReadLockedFlag(&Device->DevicePresent);
}

VOID SetDevicePresent(DeviceContext* Device, BOOLEAN Present)
{
    WriteLockedFlag(&Device->DevicePresent, Present);
    if (Present) {
        KeClearEvent(&Device->DeviceStopEvent);
    } else {
        KeSetEvent(&Device->DeviceStopEvent, 0, FALSE);
    }
}

#define LOCKED_FLAG_ACCESSORS(Name)                              \
    BOOLEAN Get##Name(DeviceContext* Device)                     \
    {                                                            \
        return ReadLockedFlag(&Device->Name);                    \
    }                                                            \
    VOID Set##Name(DeviceContext* Device, BOOLEAN Value)         \
    {                                                            \
        WriteLockedFlag(&Device->Name, Value);                   \
    }

LOCKED_FLAG_ACCESSORS(UsbConfigured)
LOCKED_FLAG_ACCESSORS(RegistersReady)
LOCKED_FLAG_ACCESSORS(CaptureOpen)
LOCKED_FLAG_ACCESSORS(RestartRequested)
LOCKED_FLAG_ACCESSORS(SnapshotThreadRunning)
