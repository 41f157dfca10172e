#include "host/kernel/irql.h"
#include "host/kernel/pool.h"
#include "kernel_test_support.h"

#include <thread>

namespace korval::host::testing {
namespace {

// A lower driver that completes at once, pends for a later completion from
// another thread at DISPATCH_LEVEL, or pends with a cancel routine.
enum class LowerMode { CompleteAtOnce, Pend, PendCancellable };

struct LowerDriver {
    DRIVER_OBJECT driver{};
    DEVICE_OBJECT device{};
    LowerMode mode = LowerMode::CompleteAtOnce;
    std::atomic<PIRP> pending{nullptr};
    std::atomic<ULONG> lastIoctl{0};
    std::atomic<PVOID> lastArgument{nullptr};
    LowerDriver();
};

LowerDriver* lower = nullptr;

VOID NTAPI cancelPending(PDEVICE_OBJECT, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    lower->pending = nullptr;
    irp->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS NTAPI lowerDispatch(PDEVICE_OBJECT, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    lower->lastIoctl = stack->Parameters.DeviceIoControl.IoControlCode;
    lower->lastArgument = stack->Parameters.Others.Argument1;
    if (lower->mode == LowerMode::CompleteAtOnce) {
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = 7;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
    IoMarkIrpPending(irp);
    if (lower->mode == LowerMode::PendCancellable) {
        IoSetCancelRoutine(irp, cancelPending);
    }
    lower->pending = irp;
    return STATUS_PENDING;
}

LowerDriver::LowerDriver()
{
    driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = lowerDispatch;
    device.DriverObject = &driver;
    device.StackSize = 1;
    lower = this;
}

struct Completion {
    KEVENT done;
    std::atomic<int> calls{0};
    std::atomic<int> irql{-1};
    std::atomic<BOOLEAN> pendingReturned{FALSE};
    NTSTATUS answer = STATUS_MORE_PROCESSING_REQUIRED;
};

NTSTATUS NTAPI ownerCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    auto* completion = static_cast<Completion*>(context);
    EXPECT_EQ(device, nullptr) << "the owner has no stack location of its own";
    completion->irql = KeGetCurrentIrql();
    completion->pendingReturned = irp->PendingReturned;
    ++completion->calls;
    KeSetEvent(&completion->done, 0, FALSE);
    return completion->answer;
}

class IrpTest : public KernelTest {
protected:
    PIRP prepare(Completion& completion)
    {
        KeInitializeEvent(&completion.done, NotificationEvent, FALSE);
        PIRP irp = IoAllocateIrp(lower_.device.StackSize, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = 0x220003;
        next->Parameters.Others.Argument1 = &completion;
        IoSetCompletionRoutine(irp, ownerCompletion, &completion, TRUE, TRUE, TRUE);
        return irp;
    }
    LowerDriver lower_;
};
using IrpDeathTest = IrpTest;

TEST_F(IrpTest, CompletesAtOnceOnTheCallersThread)
{
    Completion completion;
    PIRP irp = prepare(completion);
    EXPECT_EQ(IoCallDriver(&lower_.device, irp), STATUS_SUCCESS);
    EXPECT_EQ(completion.calls.load(), 1);
    EXPECT_EQ(completion.irql.load(), PASSIVE_LEVEL);
    EXPECT_EQ(lower_.lastIoctl.load(), 0x220003u);
    EXPECT_EQ(lower_.lastArgument.load(), &completion);
    EXPECT_EQ(irp->IoStatus.Information, 7u);
    EXPECT_EQ(irp->CurrentLocation, irp->StackCount + 1) << "back at the owner's level";
    IoFreeIrp(irp);
    checkNoPoolLeaks(0x20707249);
}

TEST_F(IrpTest, CompletesLaterFromAnotherThreadAtDispatchLevel)
{
    lower_.mode = LowerMode::Pend;
    Completion completion;
    PIRP irp = prepare(completion);
    EXPECT_EQ(IoCallDriver(&lower_.device, irp), STATUS_PENDING);
    EXPECT_EQ(completion.calls.load(), 0);
    std::thread bus([&] {
        ScopedIrql atDispatch(DISPATCH_LEVEL);
        PIRP pending = lower_.pending.exchange(nullptr);
        pending->IoStatus.Status = STATUS_UNSUCCESSFUL;
        IoCompleteRequest(pending, IO_NO_INCREMENT);
    });
    KeWaitForSingleObject(&completion.done, Executive, KernelMode, FALSE, nullptr);
    bus.join();
    EXPECT_EQ(completion.irql.load(), DISPATCH_LEVEL);
    EXPECT_TRUE(completion.pendingReturned.load());
    EXPECT_EQ(irp->IoStatus.Status, STATUS_UNSUCCESSFUL);
    IoReuseIrp(irp, STATUS_SUCCESS);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_SUCCESS);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, CancelCallsTheCancelRoutineAndTheFlagStaysUntilReuse)
{
    lower_.mode = LowerMode::PendCancellable;
    Completion completion;
    PIRP irp = prepare(completion);
    EXPECT_EQ(IoCallDriver(&lower_.device, irp), STATUS_PENDING);
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_EQ(completion.calls.load(), 1);
    EXPECT_EQ(irp->IoStatus.Status, STATUS_CANCELLED);
    EXPECT_TRUE(irp->Cancel);
    EXPECT_FALSE(IoCancelIrp(irp)) << "no cancel routine any more";
    EXPECT_TRUE(irp->Cancel);
    IoReuseIrp(irp, STATUS_SUCCESS);
    EXPECT_FALSE(irp->Cancel);
    IoFreeIrp(irp);
}

TEST_F(IrpDeathTest, CompletionRoutineIsSkippedWhenNotAskedForThatOutcome)
{
    Completion completion;
    PIRP irp = prepare(completion);
    IoSetCompletionRoutine(irp, ownerCompletion, &completion, FALSE, TRUE, TRUE);
    EXPECT_DEATH(IoCallDriver(&lower_.device, irp), "completed past its owner");
    IoFreeIrp(irp);
}

TEST_F(IrpDeathTest, VerifierStopsIrpMisuse)
{
    lower_.mode = LowerMode::Pend;
    Completion completion;
    PIRP irp = prepare(completion);
    IoCallDriver(&lower_.device, irp);
    EXPECT_DEATH(IoFreeIrp(irp), "freeing an IRP that is still in flight");
    EXPECT_DEATH(IoReuseIrp(irp, STATUS_SUCCESS), "still in flight");
    EXPECT_DEATH(IoCallDriver(&lower_.device, irp), "NO_MORE_IRP_STACK_LOCATIONS");
    PIRP pending = lower_.pending.exchange(nullptr);
    pending->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(pending, IO_NO_INCREMENT);
    EXPECT_DEATH(IoCompleteRequest(irp, IO_NO_INCREMENT), "MULTIPLE_IRP_COMPLETE_REQUESTS");
    IoFreeIrp(irp);
    EXPECT_DEATH(IoFreeIrp(irp), "freeing it twice");

    Completion answered;
    answered.answer = STATUS_SUCCESS;
    lower_.mode = LowerMode::CompleteAtOnce;
    PIRP second = prepare(answered);
    EXPECT_DEATH(IoCallDriver(&lower_.device, second), "without STATUS_MORE_PROCESSING_REQUIRED");
    IoFreeIrp(second);
}

TEST_F(IrpTest, AllocationFailureYieldsNull)
{
    failPoolAllocation(1);
    EXPECT_EQ(IoAllocateIrp(2, FALSE), nullptr);
}

} // namespace
} // namespace korval::host::testing
