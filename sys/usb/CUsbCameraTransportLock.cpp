// The transport lock: a synchronization event taken at PASSIVE_LEVEL, which
// the owning thread may take again, so that a caller can hold it across a
// sequence of starts and stops that each take it themselves.
#include "usb/CUsbCamera.h"

VOID CUsbCamera::AcquireTransport()
{
    PVOID self = KeGetCurrentThread();
    // Only the owner ever stores itself here, so a match is never stale.
    if (InterlockedCompareExchangePointer(&TransportOwner, nullptr, nullptr) == self) {
        ++TransportDepth;
        return;
    }
    KeWaitForSingleObject(&TransportGate, Executive, KernelMode, FALSE, nullptr);
    InterlockedExchangePointer(&TransportOwner, self);
    TransportDepth = 1;
}

VOID CUsbCamera::ReleaseTransport()
{
    if (--TransportDepth != 0) {
        return;
    }
    InterlockedExchangePointer(&TransportOwner, nullptr);
    KeSetEvent(&TransportGate, 0, FALSE);
}
