// A spin lock held for one scope, taken with the at-DPC-level call when the
// IRQL is already DISPATCH_LEVEL, so one code path serves completion
// routines, DPCs and passive-level callers alike.
#pragma once

#include "platform/Platform.h"

class CSpinLockByIrql {
public:
    explicit CSpinLockByIrql(PKSPIN_LOCK lock) : m_pLock(lock), m_OldIrql(DISPATCH_LEVEL), m_bAtDpcLevel(FALSE)
    {
        if (KeGetCurrentIrql() >= DISPATCH_LEVEL) {
            KefAcquireSpinLockAtDpcLevel(m_pLock);
            m_bAtDpcLevel = TRUE;
        } else {
            m_OldIrql = KfAcquireSpinLock(m_pLock);
        }
    }
    ~CSpinLockByIrql()
    {
        if (m_bAtDpcLevel) {
            KefReleaseSpinLockFromDpcLevel(m_pLock);
        } else {
            KfReleaseSpinLock(m_pLock, m_OldIrql);
        }
    }
    CSpinLockByIrql(const CSpinLockByIrql&) = delete;
    CSpinLockByIrql& operator=(const CSpinLockByIrql&) = delete;

private:
    PKSPIN_LOCK m_pLock;
    KIRQL m_OldIrql;
    BOOLEAN m_bAtDpcLevel;
};
