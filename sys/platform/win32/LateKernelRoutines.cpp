// IoReuseIrp and KeFlushQueuedDpcs came with Windows XP, after the WDM levels
// the driver runs on. They are looked up by name at PASSIVE_LEVEL, and where
// the kernel lacks them the driver does what they do with WDM 1.10 calls.
#include "platform/Kernel.h"

#undef IoReuseIrp
#undef KeFlushQueuedDpcs

namespace {

typedef VOID NTAPI IO_REUSE_IRP(PIRP Irp, NTSTATUS Status);
typedef VOID NTAPI KE_FLUSH_QUEUED_DPCS(void);

// nullptr: not looked up yet; FALLBACK_MARK: the kernel does not export it.
PVOID const FALLBACK_MARK = reinterpret_cast<PVOID>(1);
PVOID volatile ReuseIrpRoutine = nullptr;
PVOID volatile FlushDpcsRoutine = nullptr;

PVOID Lookup(PVOID volatile* Slot, PCWSTR Name)
{
    PVOID routine = *Slot;
    if (routine == nullptr && KeGetCurrentIrql() == PASSIVE_LEVEL) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, const_cast<PWSTR>(Name));
        PVOID found = MmGetSystemRoutineAddress(&name);
        routine = found != nullptr ? found : FALLBACK_MARK;
        InterlockedExchangePointer(Slot, routine);
    }
    return routine == FALLBACK_MARK ? nullptr : routine;
}

VOID NTAPI SignalFlushed(PKDPC, PVOID Context, PVOID, PVOID)
{
    KeSetEvent(static_cast<PKEVENT>(Context), 0, FALSE);
}

} // namespace

// The IRP is reinitialized in place, keeping how it was allocated.
extern "C" VOID NTAPI KorvalIoReuseIrp(PIRP Irp, NTSTATUS Status)
{
    if (PVOID routine = Lookup(&ReuseIrpRoutine, L"IoReuseIrp")) {
        reinterpret_cast<IO_REUSE_IRP*>(routine)(Irp, Status);
        return;
    }
    const UCHAR allocationFlags = Irp->AllocationFlags;
    IoInitializeIrp(Irp, Irp->Size, Irp->StackCount);
    Irp->AllocationFlags = allocationFlags;
    Irp->IoStatus.Status = Status;
}

// A DPC queued at the end of each processor's queue runs after every DPC queued
// there before it, which is all KeFlushQueuedDpcs promises.
extern "C" VOID NTAPI KorvalKeFlushQueuedDpcs(void)
{
    if (PVOID routine = Lookup(&FlushDpcsRoutine, L"KeFlushQueuedDpcs")) {
        reinterpret_cast<KE_FLUSH_QUEUED_DPCS*>(routine)();
        return;
    }
    for (CCHAR processor = 0; processor < KeNumberProcessors; ++processor) {
        KEVENT flushed;
        KDPC marker;
        KeInitializeEvent(&flushed, NotificationEvent, FALSE);
        KeInitializeDpc(&marker, SignalFlushed, &flushed);
        KeSetTargetProcessorDpc(&marker, processor);
        KeInsertQueueDpc(&marker, nullptr, nullptr);
        KeWaitForSingleObject(&flushed, Executive, KernelMode, FALSE, nullptr);
    }
}
