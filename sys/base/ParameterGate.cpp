#include "base/ParameterGate.h"

namespace {

// The device extension arrives zero-filled and its set-up belongs to another
// request, so the gate makes itself ready the first time it is used; the spin
// lock is usable in its zero state.
VOID PrepareParameterGate(DeviceContext* Device)
{
    KIRQL oldIrql = KfAcquireSpinLock(&Device->ParameterGateLock);
    if (!Device->ParameterGateReady) {
        KeInitializeEvent(&Device->ParameterGate, SynchronizationEvent, TRUE);
        Device->ParameterGateReady = TRUE;
    }
    KfReleaseSpinLock(&Device->ParameterGateLock, oldIrql);
}

} // namespace

VOID AcquireParameterGate(DeviceContext* Device)
{
    PrepareParameterGate(Device);
    KeWaitForSingleObject(&Device->ParameterGate, Executive, KernelMode, FALSE, nullptr);
}

VOID ReleaseParameterGate(DeviceContext* Device)
{
    KeSetEvent(&Device->ParameterGate, 0, FALSE);
}
