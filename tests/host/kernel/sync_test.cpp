#include "host/kernel/clock.h"
#include "host/kernel/dispatcher.h"
#include "host/kernel/irql.h"
#include "kernel_test_support.h"

#include <thread>

namespace korval::host::testing {
namespace {

using SyncTest = KernelTest;
using SyncDeathTest = KernelTest;

TEST_F(SyncTest, ZeroTimeoutPollsAndResetsASignalledSynchronizationEvent)
{
    KEVENT synchronization;
    KEVENT notification;
    KeInitializeEvent(&synchronization, SynchronizationEvent, TRUE);
    KeInitializeEvent(&notification, NotificationEvent, TRUE);
    LARGE_INTEGER poll = relativeTimeout(0);
    EXPECT_EQ(KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, &poll), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&synchronization), 0);
    EXPECT_EQ(KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, &poll), STATUS_TIMEOUT);
    EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, &poll), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&notification), 1);
    EXPECT_EQ(KeSetEvent(&notification, 0, FALSE), 1);
    EXPECT_EQ(KeResetEvent(&notification), 1);
    EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, &poll), STATUS_TIMEOUT);
}

TEST_F(SyncTest, SteppedClockTimesOutAThreeSecondWaitWithoutSleeping)
{
    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    std::atomic<NTSTATUS> result{STATUS_PENDING};
    std::thread waiter([&] {
        LARGE_INTEGER timeout = relativeTimeout(30'000'000);
        result = KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, &timeout);
    });
    const auto started = std::chrono::steady_clock::now();
    awaitKernelWaiters(1);
    systemClock().advance(29'999'999);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(result.load(), STATUS_PENDING) << "woke before its time-out";
    systemClock().advance(1);
    waiter.join();
    EXPECT_EQ(result.load(), STATUS_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(SyncTest, NullTimeoutWaitsUntilSignalledWhateverTheClockDoes)
{
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    std::atomic<NTSTATUS> result{STATUS_PENDING};
    std::thread waiter([&] { result = KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr); });
    awaitKernelWaiters(1);
    systemClock().advance(3'600LL * Clock::kTicksPerSecond);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(result.load(), STATUS_PENDING);
    KeSetEvent(&event, 0, FALSE);
    waiter.join();
    EXPECT_EQ(result.load(), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&event), 0) << "the satisfied wait resets a synchronization event";
}

TEST_F(SyncTest, WaitAnyTakesTheLowestSignalledObjectAndResetsOnlyIt)
{
    KEVENT stop;
    KEVENT status;
    KEVENT thread;
    KeInitializeEvent(&stop, NotificationEvent, FALSE);
    KeInitializeEvent(&status, SynchronizationEvent, TRUE);
    KeInitializeEvent(&thread, SynchronizationEvent, TRUE);
    PVOID objects[] = {&stop, &status, &thread};
    LARGE_INTEGER timeout = relativeTimeout(6'000'000);
    EXPECT_EQ(KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, &timeout, nullptr),
              STATUS_WAIT_0 + 1);
    EXPECT_EQ(KeReadStateEvent(&status), 0);
    EXPECT_EQ(KeReadStateEvent(&thread), 1) << "only the satisfying object is reset";
    KeSetEvent(&stop, 0, FALSE);
    EXPECT_EQ(KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, &timeout, nullptr),
              STATUS_WAIT_0);
    EXPECT_EQ(KeReadStateEvent(&stop), 1) << "notification events stay signalled";
    KeClearEvent(&stop);
    KeClearEvent(&thread);
    std::thread stepper([] {
        awaitKernelWaiters(1);
        systemClock().advance(6'000'000);
    });
    EXPECT_EQ(KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, &timeout, nullptr),
              STATUS_TIMEOUT);
    stepper.join();
}

TEST_F(SyncTest, WaitAllNeedsEveryObjectAndConsumesThemTogether)
{
    KEVENT first;
    KSEMAPHORE second;
    KeInitializeEvent(&first, SynchronizationEvent, TRUE);
    KeInitializeSemaphore(&second, 0, 2);
    PVOID objects[] = {&first, &second};
    LARGE_INTEGER poll = relativeTimeout(0);
    EXPECT_EQ(KeWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, FALSE, &poll, nullptr),
              STATUS_TIMEOUT);
    EXPECT_EQ(KeReadStateEvent(&first), 1) << "an unsatisfied wait-all takes nothing";
    EXPECT_EQ(KeReleaseSemaphore(&second, 0, 2, FALSE), 0);
    EXPECT_EQ(KeWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, FALSE, &poll, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&first), 0);
    EXPECT_EQ(KeReadStateSemaphore(&second), 1);
}

TEST_F(SyncTest, SemaphoreSerializesWaitersAndCountsReleases)
{
    KSEMAPHORE semaphore;
    KeInitializeSemaphore(&semaphore, 1, 1);
    LARGE_INTEGER poll = relativeTimeout(0);
    EXPECT_EQ(KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, &poll), STATUS_TIMEOUT);
    EXPECT_EQ(KeReleaseSemaphore(&semaphore, 0, 1, FALSE), 0);
    EXPECT_EQ(KeReadStateSemaphore(&semaphore), 1);
}

TEST_F(SyncTest, SpinLockRaisesToDispatchAndRestoresTheCallersLevel)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    const KIRQL old = KfAcquireSpinLock(&lock);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KfReleaseSpinLock(&lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    {
        ScopedIrql atDispatch(DISPATCH_LEVEL);
        KefAcquireSpinLockAtDpcLevel(&lock);
        EXPECT_EQ(spinLocksHeld(), 1);
        KefReleaseSpinLockFromDpcLevel(&lock);
    }
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(SyncTest, SpinLockExcludesAcrossThreads)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    long counter = 0; // guarded only by the spin lock: TSan checks the exclusion
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            const KIRQL old = KfAcquireSpinLock(&lock);
            ++counter;
            KfReleaseSpinLock(&lock, old);
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(counter, 40000);
}

TEST_F(SyncDeathTest, VerifierStopsSpinLockAndIrqlViolations)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    EXPECT_DEATH(KfReleaseSpinLock(&lock, PASSIVE_LEVEL), "at an IRQL other than DISPATCH_LEVEL");
    EXPECT_DEATH(
        {
            ScopedIrql atDispatch(DISPATCH_LEVEL);
            KefReleaseSpinLockFromDpcLevel(&lock);
        },
        "does not hold");
    EXPECT_DEATH(
        {
            KfAcquireSpinLock(&lock);
            KfAcquireSpinLock(&lock);
        },
        "already holds");
    EXPECT_DEATH(KefAcquireSpinLockAtDpcLevel(&lock), "below DISPATCH_LEVEL");
    EXPECT_DEATH(
        {
            KfAcquireSpinLock(&lock);
            KfLowerIrql(PASSIVE_LEVEL);
        },
        "holding a spin lock");
    EXPECT_DEATH(
        {
            ScopedIrql atDispatch(DISPATCH_LEVEL);
            KfRaiseIrql(PASSIVE_LEVEL);
        },
        "IRQL_NOT_GREATER_OR_EQUAL");
}

TEST_F(SyncDeathTest, VerifierStopsWaitsAtDispatchLevel)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    EXPECT_DEATH(
        {
            ScopedIrql atDispatch(DISPATCH_LEVEL);
            LARGE_INTEGER timeout = relativeTimeout(5'000'000);
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout);
        },
        "waiting with a non-zero time-out at DISPATCH_LEVEL");
    EXPECT_DEATH(
        {
            ScopedIrql atDispatch(DISPATCH_LEVEL);
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        },
        "waiting with a non-zero time-out at DISPATCH_LEVEL");
    ScopedIrql atDispatch(DISPATCH_LEVEL);
    LARGE_INTEGER poll = relativeTimeout(0);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll), STATUS_TIMEOUT)
        << "a poll is allowed at DISPATCH_LEVEL";
}

TEST_F(SyncDeathTest, VerifierStopsASemaphoreReleasedBeyondItsLimit)
{
    KSEMAPHORE semaphore;
    KeInitializeSemaphore(&semaphore, 1, 1);
    EXPECT_DEATH(KeReleaseSemaphore(&semaphore, 0, 1, FALSE), "beyond its limit");
}

} // namespace
} // namespace korval::host::testing
