#include "stream/OverlayGuards.h"

KIRQL AcquireOverlayLock(StreamContext* Stream)
{
    const KIRQL current = KeGetCurrentIrql();
    if (current >= DISPATCH_LEVEL) {
        KefAcquireSpinLockAtDpcLevel(&Stream->OverlayLock);
        return current;
    }
    return KfAcquireSpinLock(&Stream->OverlayLock);
}

VOID ReleaseOverlayLock(StreamContext* Stream, KIRQL OldIrql)
{
    if (OldIrql >= DISPATCH_LEVEL) {
        KefReleaseSpinLockFromDpcLevel(&Stream->OverlayLock);
    } else {
        KfReleaseSpinLock(&Stream->OverlayLock, OldIrql);
    }
}

BOOLEAN EnterOverlayGate(StreamContext* Stream)
{
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        return FALSE;
    }
    KeWaitForSingleObject(&Stream->OverlayLoadGate, Executive, KernelMode, FALSE, nullptr);
    return TRUE;
}

VOID LeaveOverlayGate(StreamContext* Stream)
{
    KeSetEvent(&Stream->OverlayLoadGate, 0, FALSE);
}
