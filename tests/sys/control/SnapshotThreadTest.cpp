#include "control/I420ToBgr.h"
#include "control/SnapshotThread.h"

#include "SnapshotMachine.h"

#include "host/kernel/clock.h"
#include "host/kernel/dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using namespace korval::snapshot_test;

// Real-time bound for things that happen at once; only a broken thread waits it out.
constexpr auto kPatience = std::chrono::seconds(20);

template <class Condition>
bool eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

class SnapshotThreadTest : public SnapshotMachine {
protected:
    void TearDown() override
    {
        if (thread_ != nullptr) {
            KeSetEvent(&device_->Usb->ThreadStop, 0, FALSE);
            joinThread();
        }
        SnapshotMachine::TearDown();
    }

    // As StartStatus starts it: a system thread with the device as context,
    // kept by a reference to its object.
    void startThread()
    {
        HANDLE handle = nullptr;
        ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, SnapshotThread,
                                       device_.get()),
                  STATUS_SUCCESS);
        ASSERT_EQ(ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &thread_, nullptr),
                  STATUS_SUCCESS);
        ZwClose(handle);
    }

    // Starts the thread and returns once it waits for work.
    void startWaitingThread()
    {
        startThread();
        awaitKernelWaiters(1);
    }

    bool threadEnded()
    {
        LARGE_INTEGER poll = {};
        return KeWaitForSingleObject(thread_, Executive, KernelMode, FALSE, &poll) == STATUS_SUCCESS;
    }

    void joinThread()
    {
        ASSERT_TRUE(eventually([&] { return threadEnded(); })) << "the snapshot thread did not end";
        ObDereferenceObject(thread_);
        thread_ = nullptr;
        EXPECT_FALSE(GetSnapshotThreadRunning(device_.get()));
        EXPECT_NE(KeReadStateEvent(&device_->SnapshotThreadDone), 0);
        EXPECT_TRUE(eventually([&] { return platform_->runningSystemThreads() == 0; }));
    }

    void press() { KeSetEvent(&device_->Usb->StatusEvent, 0, FALSE); }

    bool copyBecomes(std::uint32_t value)
    {
        return eventually([&] { return statusCopy() == value; });
    }

    PVOID thread_ = nullptr;
};

TEST_F(SnapshotThreadTest, RunsUntilThreadStopAndLeavesNothingBehind)
{
    startWaitingThread();
    EXPECT_TRUE(GetSnapshotThreadRunning(device_.get()));
    EXPECT_EQ(KeReadStateEvent(&device_->SnapshotThreadDone), 0);
    KeSetEvent(&device_->Usb->ThreadStop, 0, FALSE);
    joinThread();
    EXPECT_FALSE(status().has_value()) << "an idle thread writes nothing";
    EXPECT_FALSE(statusCopy().has_value());
}

TEST_F(SnapshotThreadTest, EndsWhenTheDeviceStopsOrHasNothingToServe)
{
    startWaitingThread();
    KeSetEvent(&device_->DeviceStopEvent, 0, FALSE); // power-down: still present
    joinThread();
    KeClearEvent(&device_->DeviceStopEvent);
    startWaitingThread();
    SetDevicePresent(device_.get(), FALSE); // surprise removal
    joinThread();
    // Gone, unconfigured or without a running status transfer: it ends without waiting.
    tagLockedFlag* flags[] = {&device_->DevicePresent, &device_->UsbConfigured, &device_->Usb->StatusRunning};
    KeClearEvent(&device_->DeviceStopEvent);
    for (tagLockedFlag* flag : flags) {
        WriteLockedFlag(&device_->DevicePresent, TRUE);
        WriteLockedFlag(&device_->UsbConfigured, TRUE);
        WriteLockedFlag(&device_->Usb->StatusRunning, TRUE);
        WriteLockedFlag(flag, FALSE);
        startThread();
        joinThread();
    }
}

TEST_F(SnapshotThreadTest, StopOutranksAPressSignalledWithIt)
{
    press();
    KeSetEvent(&device_->DeviceStopEvent, 0, FALSE);
    startThread();
    joinThread();
    EXPECT_FALSE(statusCopy().has_value());
}

TEST_F(SnapshotThreadTest, PressesWithAndWithoutStream)
{
    presetStatus(0x00000002);
    startWaitingThread();
    press();
    ASSERT_TRUE(copyBecomes(0x00000001));
    EXPECT_EQ(status(), 0x00000001u);
    EXPECT_FALSE(stillFile().has_value());

    // With a stream: the newest frame, and no allocation for it.
    platform_->registry().deleteValue(kStatusKey, "StatusReport");
    const Bytes frame = randomBytes(I420FrameBytes(176, 144), 31);
    openStream(176, 144, true, frame);
    awaitKernelWaiters(1);
    resetPoolCounters();
    press();
    ASSERT_TRUE(copyBecomes(0x00000002)) << "from the thread's copy 0x1 when no word is stored";
    EXPECT_EQ(status(), 0x00000002u);
    Bytes pixels(176 * 144 * 3);
    ASSERT_TRUE(I420ToBgrBottomUpReference(frame.data(), pixels.data(), 176, 144));
    EXPECT_TRUE(stillFile() == concat(header(176, 144), pixels));
    EXPECT_EQ(poolCounters(KORVAL_POOL_TAG).allocations, 0u);
}

TEST_F(SnapshotThreadTest, StillRequestIsServedWithinOnePollInterval)
{
    const Bytes frame = randomBytes(352 * 288 * 3, 33);
    openStream(352, 288, false, frame);
    presetStatus(0x00000401);
    startWaitingThread();
    systemClock().advance(-SNAPSHOT_POLL_INTERVAL);
    ASSERT_TRUE(copyBecomes(0x00000002));
    EXPECT_EQ(status(), 0x00000002u);
    EXPECT_TRUE(stillFile() == concat(header(352, 288), frame));

    // Closed stream: the request is answered without a file.
    SetCaptureOpen(device_.get(), FALSE);
    std::filesystem::remove(stillPath());
    presetStatus(0x00000400);
    awaitKernelWaiters(1);
    systemClock().advance(-SNAPSHOT_POLL_INTERVAL);
    ASSERT_TRUE(copyBecomes(0x00000000));
    EXPECT_EQ(status(), 0x00000000u);
    EXPECT_FALSE(stillFile().has_value());
}

TEST_F(SnapshotThreadTest, StillIsNeverTornByTheFramePipeline)
{
    // The pipeline keeps replacing the frame under StillImageLock with a
    // uniform one; every still must hold one whole frame.
    constexpr std::size_t kBytes = 160 * 120 * 3;
    openStream(160, 120, false, Bytes(kBytes, 0));
    std::atomic<bool> stop{false};
    std::thread pipeline([&] {
        for (unsigned frame = 1; !stop.load(); ++frame) {
            KIRQL oldIrql;
            KeAcquireSpinLock(&device_->StillImageLock, &oldIrql);
            std::memset(device_->StillImageBuffer, static_cast<int>(frame & 0xFF), kBytes);
            KeReleaseSpinLock(&device_->StillImageLock, oldIrql);
        }
    });
    startThread();
    for (int still = 0; still < 20; ++still) {
        presetStatus(0x00000001);
        awaitKernelWaiters(1);
        press();
        ASSERT_TRUE(eventually([&] { return status() == 0x00000002u; }));
        const auto file = stillFile();
        ASSERT_TRUE(file.has_value());
        ASSERT_EQ(file->size(), 32 + kBytes);
        const std::uint8_t first = (*file)[32];
        EXPECT_TRUE(std::all_of(file->begin() + 32, file->end(), [&](std::uint8_t b) { return b == first; }))
            << "still " << still;
    }
    stop = true;
    pipeline.join();
}

} // namespace
