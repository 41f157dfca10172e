#include "host/kernel/clock.h"
#include "host/kernel/dispatcher.h"
#include "host/kernel/irql.h"
#include "kernel_test_support.h"

#include <thread>

namespace korval::host::testing {
namespace {

using ConcurrencyTest = KernelTest;

// The driver's locked flag: one accessor for passive callers and DPCs alike.
struct LockedCounter {
    KSPIN_LOCK lock;
    long value = 0;

    void add()
    {
        if (KeGetCurrentIrql() >= DISPATCH_LEVEL) {
            KefAcquireSpinLockAtDpcLevel(&lock);
            ++value;
            KefReleaseSpinLockFromDpcLevel(&lock);
        } else {
            const KIRQL old = KfAcquireSpinLock(&lock);
            ++value;
            KfReleaseSpinLock(&lock, old);
        }
    }
};

struct CountingDpc {
    KDPC dpc;
    LockedCounter* counter;
    std::atomic<int> left;
    KEVENT done;
};

VOID NTAPI countAndRequeue(PKDPC dpc, PVOID context, PVOID, PVOID)
{
    auto* self = static_cast<CountingDpc*>(context);
    self->counter->add();
    if (--self->left > 0) {
        KeInsertQueueDpc(dpc, nullptr, nullptr);
    } else {
        KeSetEvent(&self->done, 0, FALSE);
    }
}

TEST_F(ConcurrencyTest, LockedAccessorServesAPassiveThreadAndADpcAtOnce)
{
    LockedCounter counter;
    KeInitializeSpinLock(&counter.lock);
    CountingDpc dpc;
    dpc.counter = &counter;
    dpc.left = 5000;
    KeInitializeEvent(&dpc.done, NotificationEvent, FALSE);
    KeInitializeDpc(&dpc.dpc, countAndRequeue, &dpc);
    KeInsertQueueDpc(&dpc.dpc, nullptr, nullptr);
    for (int i = 0; i < 5000; ++i) {
        counter.add();
    }
    KeWaitForSingleObject(&dpc.done, Executive, KernelMode, FALSE, nullptr);
    const KIRQL old = KfAcquireSpinLock(&counter.lock);
    EXPECT_EQ(counter.value, 10000);
    KfReleaseSpinLock(&counter.lock, old);
}

struct Snapshot {
    KEVENT stop;
    KEVENT status;
    KEVENT ended;
    std::atomic<int> presses{0};
    std::atomic<int> timeouts{0};
};

// The snapshot thread's loop: wait for stop or a press with a 0.6 s time-out.
VOID NTAPI snapshotLoop(PVOID context)
{
    auto* snapshot = static_cast<Snapshot*>(context);
    PVOID objects[] = {&snapshot->stop, &snapshot->status};
    for (;;) {
        LARGE_INTEGER timeout = relativeTimeout(6'000'000);
        const NTSTATUS status =
            KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, &timeout, nullptr);
        if (status == STATUS_TIMEOUT) {
            ++snapshot->timeouts;
        } else if (status == STATUS_WAIT_0 + 1) {
            ++snapshot->presses;
        } else {
            break;
        }
    }
    KeSetEvent(&snapshot->ended, 0, FALSE);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

TEST_F(ConcurrencyTest, ThreadLoopSeesPressesTimeOutsAndStopInSteppedTime)
{
    Snapshot snapshot;
    KeInitializeEvent(&snapshot.stop, NotificationEvent, FALSE);
    KeInitializeEvent(&snapshot.status, SynchronizationEvent, FALSE);
    KeInitializeEvent(&snapshot.ended, NotificationEvent, FALSE);
    HANDLE handle;
    ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, snapshotLoop, &snapshot),
              STATUS_SUCCESS);
    PVOID thread;
    ASSERT_EQ(ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &thread, nullptr),
              STATUS_SUCCESS);
    ZwClose(handle);

    awaitKernelWaiters(1);
    systemClock().advance(6'000'000);
    while (snapshot.timeouts.load() == 0) {
        std::this_thread::yield();
    }
    awaitKernelWaiters(1);
    KeSetEvent(&snapshot.status, 0, FALSE);
    while (snapshot.presses.load() == 0) {
        std::this_thread::yield();
    }
    awaitKernelWaiters(1);
    KeSetEvent(&snapshot.stop, 0, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    ObDereferenceObject(thread);
    EXPECT_EQ(snapshot.timeouts.load(), 1);
    EXPECT_EQ(snapshot.presses.load(), 1);
    EXPECT_EQ(KeReadStateEvent(&snapshot.ended), 1);
}

TEST_F(ConcurrencyTest, DelayExecutionWaitsForTheSteppedClock)
{
    std::atomic<bool> done{false};
    std::thread sleeper([&] {
        LARGE_INTEGER interval = relativeTimeout(10'000);
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
        done = true;
    });
    awaitKernelWaiters(1);
    systemClock().advance(9'999);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(done.load());
    systemClock().advance(1);
    sleeper.join();
    EXPECT_TRUE(done.load());
}

} // namespace
} // namespace korval::host::testing
