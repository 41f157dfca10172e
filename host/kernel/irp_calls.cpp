// IRPs: allocation, the stack walk of IofCallDriver and IoCompleteRequest,
// cancellation, and the verifier's tracking of which IRPs are in flight.
#include "host/kernel/bug_check.h"
#include "host/kernel/irql.h"
#include "host/kernel/kernel_internal.h"

#include <map>
#include <mutex>
#include <string>

namespace korval::host {
namespace {

constexpr ULONG kIrpTag = 0x20707249; // "Irp "
constexpr CSHORT kIoTypeIrp = 6;

struct IrpTable {
    std::mutex mutex;
    std::map<PIRP, bool> inFlight; // every IRP allocated and not freed
};

IrpTable& irps()
{
    static auto* table = new IrpTable;
    return *table;
}

KSPIN_LOCK cancelSpinLock = 0;

void initializeIrp(PIRP irp, USHORT packetSize, CCHAR stackSize)
{
    memset(irp, 0, packetSize);
    irp->Type = kIoTypeIrp;
    irp->Size = packetSize;
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CCHAR>(stackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stackSize;
}

// Marks the IRP sent (true) or back with its owner (false); bug check for an unknown IRP.
bool exchangeInFlight(PIRP irp, bool inFlight, const char* action)
{
    std::lock_guard lock(irps().mutex);
    const auto found = irps().inFlight.find(irp);
    if (found == irps().inFlight.end()) {
        bugCheck(std::string(action) + " an IRP that was not allocated with IoAllocateIrp, or was freed");
    }
    const bool previous = found->second;
    found->second = inFlight;
    return previous;
}

bool routineWanted(PIRP irp, UCHAR control)
{
    const NTSTATUS status = irp->IoStatus.Status;
    return (NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
           (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
           (__atomic_load_n(&irp->Cancel, __ATOMIC_ACQUIRE) && (control & SL_INVOKE_ON_CANCEL));
}

void checkCompletable(PIRP irp)
{
    requireIrqlAtMost(DISPATCH_LEVEL, "IoCompleteRequest");
    if (irp->IoStatus.Status == STATUS_PENDING) {
        bugCheck("completing an IRP with STATUS_PENDING");
    }
    if (IoSetCancelRoutine(irp, nullptr) != nullptr) {
        bugCheck("CANCEL_STATE_IN_COMPLETED_IRP: completing an IRP whose cancel routine is still set");
    }
    std::lock_guard lock(irps().mutex);
    const auto found = irps().inFlight.find(irp);
    if (found == irps().inFlight.end() || !found->second) {
        bugCheck("MULTIPLE_IRP_COMPLETE_REQUESTS: completing an IRP that is not in flight");
    }
}

} // namespace
} // namespace korval::host

using namespace korval::host;

extern "C" PIRP NTAPI IoAllocateIrp(CCHAR StackSize, BOOLEAN)
{
    requireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateIrp");
    if (StackSize < 1) {
        return nullptr;
    }
    const USHORT size = IoSizeOfIrp(StackSize);
    auto irp = static_cast<PIRP>(ExAllocatePoolWithTag(NonPagedPool, size, kIrpTag));
    if (irp == nullptr) {
        return nullptr;
    }
    initializeIrp(irp, size, StackSize);
    std::lock_guard lock(irps().mutex);
    irps().inFlight[irp] = false;
    return irp;
}

extern "C" VOID NTAPI IoInitializeIrp(PIRP Irp, USHORT PacketSize, CCHAR StackSize)
{
    initializeIrp(Irp, PacketSize, StackSize);
}

extern "C" VOID NTAPI IoFreeIrp(PIRP Irp)
{
    requireIrqlAtMost(DISPATCH_LEVEL, "IoFreeIrp");
    {
        std::lock_guard lock(irps().mutex);
        const auto found = irps().inFlight.find(Irp);
        if (found == irps().inFlight.end()) {
            bugCheck("freeing an IRP that was not allocated with IoAllocateIrp, or freeing it twice");
        }
        if (found->second) {
            bugCheck("freeing an IRP that is still in flight");
        }
        irps().inFlight.erase(found);
    }
    ExFreePoolWithTag(Irp, kIrpTag);
}

extern "C" VOID NTAPI IoReuseIrp(PIRP Irp, NTSTATUS Iostatus)
{
    if (exchangeInFlight(Irp, false, "reusing")) {
        bugCheck("reusing an IRP that is still in flight");
    }
    const UCHAR allocationFlags = Irp->AllocationFlags;
    initializeIrp(Irp, Irp->Size, Irp->StackCount);
    Irp->AllocationFlags = allocationFlags;
    Irp->IoStatus.Status = Iostatus;
}

extern "C" NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    requireIrqlAtMost(DISPATCH_LEVEL, "IofCallDriver");
    if (DeviceObject == nullptr || DeviceObject->DriverObject == nullptr) {
        bugCheck("IofCallDriver given no device object, or one without a driver");
    }
    if (Irp->CurrentLocation == Irp->StackCount + 1 && exchangeInFlight(Irp, true, "sending")) {
        bugCheck("sending an IRP that is already in flight");
    }
    if (--Irp->CurrentLocation <= 0) {
        bugCheck("NO_MORE_IRP_STACK_LOCATIONS: the IRP has no stack location left for the lower driver");
    }
    PIO_STACK_LOCATION stack = --Irp->Tail.Overlay.CurrentStackLocation;
    stack->DeviceObject = DeviceObject;
    if (stack->MajorFunction > IRP_MJ_MAXIMUM_FUNCTION) {
        bugCheck("IofCallDriver with an invalid major function code");
    }
    PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[stack->MajorFunction];
    if (dispatch == nullptr) {
        bugCheck("IofCallDriver to a driver without a dispatch routine for the major function");
    }
    return dispatch(DeviceObject, Irp);
}

extern "C" VOID FASTCALL IofCompleteRequest(PIRP Irp, CCHAR)
{
    checkCompletable(Irp);
    while (Irp->CurrentLocation <= Irp->StackCount) {
        PIO_STACK_LOCATION stack = Irp->Tail.Overlay.CurrentStackLocation;
        Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) ? TRUE : FALSE;
        const PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        const bool wanted = routine != nullptr && routineWanted(Irp, stack->Control);
        memset(stack, 0, sizeof(*stack));
        ++Irp->CurrentLocation;
        ++Irp->Tail.Overlay.CurrentStackLocation;
        const bool atOwner = Irp->CurrentLocation > Irp->StackCount;
        if (wanted) {
            // Back with its owner before the owner's routine runs: it may free or reuse it at once.
            if (atOwner) {
                exchangeInFlight(Irp, false, "completing");
            }
            PDEVICE_OBJECT device = atOwner ? nullptr : Irp->Tail.Overlay.CurrentStackLocation->DeviceObject;
            if (routine(device, Irp, context) == STATUS_MORE_PROCESSING_REQUIRED) {
                return;
            }
        } else if (Irp->PendingReturned && !atOwner) {
            IoMarkIrpPending(Irp);
        }
    }
    bugCheck("an IRP allocated with IoAllocateIrp completed past its owner without STATUS_MORE_PROCESSING_REQUIRED");
}

extern "C" VOID NTAPI IoAcquireCancelSpinLock(PKIRQL Irql)
{
    *Irql = KfAcquireSpinLock(&cancelSpinLock);
}

extern "C" VOID NTAPI IoReleaseCancelSpinLock(KIRQL Irql)
{
    KfReleaseSpinLock(&cancelSpinLock, Irql);
}

extern "C" BOOLEAN NTAPI IoCancelIrp(PIRP Irp)
{
    requireIrqlAtMost(DISPATCH_LEVEL, "IoCancelIrp");
    {
        std::lock_guard lock(irps().mutex);
        if (irps().inFlight.count(Irp) == 0) {
            bugCheck("cancelling an IRP that was not allocated with IoAllocateIrp, or was freed");
        }
    }
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    __atomic_store_n(&Irp->Cancel, TRUE, __ATOMIC_RELEASE);
    const PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    Irp->CancelIrql = irql;
    PDEVICE_OBJECT device =
        Irp->CurrentLocation <= Irp->StackCount ? Irp->Tail.Overlay.CurrentStackLocation->DeviceObject : nullptr;
    routine(device, Irp); // releases the cancel spin lock
    return TRUE;
}
