#include "host/kernel/irql.h"
#include "kernel_test_support.h"

#include <thread>

namespace korval::host::testing {
namespace {

using ThreadDpcTest = KernelTest;
using ThreadDpcDeathTest = KernelTest;

struct DpcProbe {
    KDPC dpc;
    KEVENT ran;
    std::atomic<int> runs{0};
    std::atomic<int> irql{-1};
    std::atomic<PVOID> argument{nullptr};
};

VOID NTAPI probeRoutine(PKDPC, PVOID context, PVOID argument1, PVOID)
{
    auto* probe = static_cast<DpcProbe*>(context);
    probe->irql = KeGetCurrentIrql();
    probe->argument = argument1;
    ++probe->runs;
    KeSetEvent(&probe->ran, 0, FALSE);
}

TEST_F(ThreadDpcTest, DpcRunsOnItsOwnThreadAtDispatchLevel)
{
    DpcProbe probe;
    KeInitializeEvent(&probe.ran, SynchronizationEvent, FALSE);
    KeInitializeDpc(&probe.dpc, probeRoutine, &probe);
    int marker = 0;
    EXPECT_TRUE(KeInsertQueueDpc(&probe.dpc, &marker, nullptr));
    EXPECT_EQ(KeWaitForSingleObject(&probe.ran, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(probe.irql.load(), DISPATCH_LEVEL);
    EXPECT_EQ(probe.argument.load(), &marker);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

struct BlockingDpc {
    KDPC dpc;
    KEVENT entered;
    std::atomic<bool> release{false};
};

VOID NTAPI blockingRoutine(PKDPC, PVOID context, PVOID, PVOID)
{
    auto* blocker = static_cast<BlockingDpc*>(context);
    KeSetEvent(&blocker->entered, 0, FALSE);
    while (!blocker->release) {
        std::this_thread::yield();
    }
}

TEST_F(ThreadDpcTest, AQueuedDpcIsNotQueuedTwiceButMayBeQueuedWhileItRuns)
{
    BlockingDpc blocker;
    KeInitializeEvent(&blocker.entered, NotificationEvent, FALSE);
    KeInitializeDpc(&blocker.dpc, blockingRoutine, &blocker);
    DpcProbe probe;
    KeInitializeEvent(&probe.ran, NotificationEvent, FALSE);
    KeInitializeDpc(&probe.dpc, probeRoutine, &probe);

    EXPECT_TRUE(KeInsertQueueDpc(&blocker.dpc, nullptr, nullptr));
    KeWaitForSingleObject(&blocker.entered, Executive, KernelMode, FALSE, nullptr);
    EXPECT_TRUE(KeInsertQueueDpc(&probe.dpc, nullptr, nullptr));
    EXPECT_FALSE(KeInsertQueueDpc(&probe.dpc, nullptr, nullptr)) << "already queued";
    EXPECT_TRUE(KeInsertQueueDpc(&blocker.dpc, nullptr, nullptr)) << "running, no longer queued";
    EXPECT_TRUE(KeRemoveQueueDpc(&blocker.dpc));
    blocker.release = true;
    KeFlushQueuedDpcs();
    EXPECT_EQ(probe.runs.load(), 1);
}

struct ThreadProbe {
    KEVENT go;
    std::atomic<int> irql{-1};
    std::atomic<bool> afterTerminate{false};
};

VOID NTAPI threadRoutine(PVOID context)
{
    auto* probe = static_cast<ThreadProbe*>(context);
    probe->irql = KeGetCurrentIrql();
    KeWaitForSingleObject(&probe->go, Executive, KernelMode, FALSE, nullptr);
    PsTerminateSystemThread(STATUS_SUCCESS);
    probe->afterTerminate = true;
}

TEST_F(ThreadDpcTest, SystemThreadRunsAtPassiveAndItsObjectSignalsItsEnd)
{
    ThreadProbe probe;
    KeInitializeEvent(&probe.go, NotificationEvent, FALSE);
    HANDLE handle = nullptr;
    ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, threadRoutine, &probe),
              STATUS_SUCCESS);
    PVOID thread = nullptr;
    ASSERT_EQ(ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &thread, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    EXPECT_EQ(platform_->openHandleCount(), 0u);

    LARGE_INTEGER poll = relativeTimeout(0);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &poll), STATUS_TIMEOUT);
    KeSetEvent(&probe.go, 0, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &poll), STATUS_SUCCESS) << "stays signalled";
    EXPECT_EQ(probe.irql.load(), PASSIVE_LEVEL);
    EXPECT_FALSE(probe.afterTerminate.load()) << "PsTerminateSystemThread does not return";
    ObDereferenceObject(thread);
}

TEST_F(ThreadDpcTest, HandleOfAnotherTypeIsNotAThread)
{
    HANDLE key = nullptr;
    DEVICE_OBJECT device{};
    ASSERT_EQ(IoOpenDeviceRegistryKey(&device, PLUGPLAY_REGKEY_DRIVER, KEY_WRITE, &key), STATUS_SUCCESS);
    PVOID object = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(key, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &object, nullptr),
              STATUS_OBJECT_TYPE_MISMATCH);
    ZwClose(key);
    EXPECT_EQ(ObReferenceObjectByHandle(key, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &object, nullptr),
              STATUS_INVALID_HANDLE);
}

TEST_F(ThreadDpcTest, WdmVersionAnswersUpToTheChosenLevel)
{
    EXPECT_TRUE(IoIsWdmVersionAvailable(1, 0x20));
    EXPECT_FALSE(IoIsWdmVersionAvailable(1, 0x30));
    platform_->setWdmVersion(1, 0x10);
    EXPECT_FALSE(IoIsWdmVersionAvailable(1, 0x20));
    EXPECT_TRUE(IoIsWdmVersionAvailable(1, 0x10));
    EXPECT_TRUE(IoIsWdmVersionAvailable(1, 0x05));
    platform_->setWdmVersion(0, 0);
    EXPECT_FALSE(IoIsWdmVersionAvailable(1, 0x00));
}

VOID NTAPI lockLeakingRoutine(PKDPC, PVOID context, PVOID, PVOID)
{
    KefAcquireSpinLockAtDpcLevel(static_cast<PKSPIN_LOCK>(context));
}

VOID NTAPI waitingThread(PVOID)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KfAcquireSpinLock(&lock);
}

TEST_F(ThreadDpcDeathTest, VerifierStopsDpcsAndThreadsThatEndHoldingALock)
{
    EXPECT_DEATH(
        {
            KSPIN_LOCK lock;
            KeInitializeSpinLock(&lock);
            KDPC dpc;
            KeInitializeDpc(&dpc, lockLeakingRoutine, &lock);
            KeInsertQueueDpc(&dpc, nullptr, nullptr);
            KeFlushQueuedDpcs();
        },
        "DPC routine returned holding a spin lock");
    EXPECT_DEATH(
        {
            HANDLE handle;
            PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, waitingThread, nullptr);
            platform_.reset();
        },
        "system thread ended at an IRQL above PASSIVE_LEVEL");
    EXPECT_DEATH(PsTerminateSystemThread(STATUS_SUCCESS), "not a system thread");
    EXPECT_DEATH(ZwClose(reinterpret_cast<HANDLE>(0x4242)), "INVALID_KERNEL_HANDLE");
}

} // namespace
} // namespace korval::host::testing
