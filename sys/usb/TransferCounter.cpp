#include "usb/TransferCounter.h"

#include "usb/SpinLockByIrql.h"

namespace {

VOID MatchDrained(const tagLockedUlong* Count, PKEVENT Drained)
{
    if (Count->ulValue == 0) {
        KeSetEvent(Drained, 0, FALSE);
    } else {
        KeClearEvent(Drained);
    }
}

} // namespace

VOID ResetInFlight(tagLockedUlong* Count, PKEVENT Drained)
{
    CSpinLockByIrql lock(&Count->Lock);
    Count->ulValue = 0;
    KeClearEvent(Drained);
}

VOID AddInFlight(tagLockedUlong* Count, PKEVENT Drained)
{
    CSpinLockByIrql lock(&Count->Lock);
    ++Count->ulValue;
    KeClearEvent(Drained);
}

VOID ReleaseInFlight(tagLockedUlong* Count, PKEVENT Drained)
{
    CSpinLockByIrql lock(&Count->Lock);
    if (Count->ulValue != 0) {
        --Count->ulValue;
    }
    MatchDrained(Count, Drained);
}

bool InFlightSettled(tagLockedUlong* Count, PKEVENT Drained)
{
    CSpinLockByIrql lock(&Count->Lock);
    MatchDrained(Count, Drained);
    return Count->ulValue == 0;
}

ULONG ReadInFlight(tagLockedUlong* Count)
{
    CSpinLockByIrql lock(&Count->Lock);
    return Count->ulValue;
}
