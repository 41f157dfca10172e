#include "base/DeviceContext.h"
#include "driver/Driver.h"

#include "host/kernel/irql.h"
#include "host/kernel/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

using korval::host::Platform;

class DeviceContextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_ = std::make_unique<DeviceContext>();
        InitializeDeviceState(device_.get());
    }

    Platform platform_;
    std::unique_ptr<DeviceContext> device_;
};

TEST_F(DeviceContextTest, FreshStateIsPoweredPresentAndManual)
{
    DeviceContext& d = *device_;
    EXPECT_EQ(GetDevicePowerState(&d), static_cast<ULONG>(PowerDeviceD0));
    EXPECT_TRUE(GetDevicePresent(&d));
    EXPECT_EQ(KeReadStateEvent(&d.DeviceStopEvent), 0);
    EXPECT_NE(KeReadStateEvent(&d.SnapshotThreadDone), 0);
    EXPECT_FALSE(GetUsbConfigured(&d) || GetRegistersReady(&d) || GetCaptureOpen(&d));
    EXPECT_TRUE(d.DataQueue.bInitialized && d.ControlQueue.bInitialized);
    EXPECT_EQ(d.SettingKvdsn, 0xFFFFFFFFu);
    for (ULONG flags : {d.CurBrightnessFlags, d.CurContrastFlags, d.CurHueFlags, d.CurSharpnessFlags,
                        d.CurGammaFlags, d.CurColorEnableFlags, d.CurWhiteBalanceFlags, d.CurBacklightFlags}) {
        EXPECT_EQ(flags, 2u);
    }
    EXPECT_EQ(d.CurSaturationFlags, 0u);
    EXPECT_EQ(d.CurExposureFlags, 0u);
    EXPECT_EQ(d.CurBrightness, 0u);
}

TEST_F(DeviceContextTest, DevicePresentDrivesTheStopEvent)
{
    SetDevicePresent(device_.get(), FALSE);
    EXPECT_NE(KeReadStateEvent(&device_->DeviceStopEvent), 0);
    SetDevicePresent(device_.get(), TRUE);
    EXPECT_EQ(KeReadStateEvent(&device_->DeviceStopEvent), 0);
}

TEST_F(DeviceContextTest, EventEnableCountFollowsEnableAndDisableWithoutCheck)
{
    HW_EVENT_DESCRIPTOR event{};
    event.DeviceExtension = reinterpret_cast<struct _HW_DEVICE_EXTENSION*>(device_.get());
    event.Enable = TRUE;
    EXPECT_EQ(AdapterDeviceEvent(&event), STATUS_SUCCESS);
    EXPECT_EQ(AdapterDeviceEvent(&event), STATUS_SUCCESS);
    event.Enable = FALSE;
    EXPECT_EQ(AdapterDeviceEvent(&event), STATUS_SUCCESS);
    EXPECT_EQ(device_->EventEnableCount, 1);
    AdapterDeviceEvent(&event);
    AdapterDeviceEvent(&event);
    EXPECT_EQ(device_->EventEnableCount, -1);
}

TEST_F(DeviceContextTest, EventEnableCountIsExactUnderConcurrentCalls)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            HW_EVENT_DESCRIPTOR event{};
            event.DeviceExtension = reinterpret_cast<struct _HW_DEVICE_EXTENSION*>(device_.get());
            event.Enable = t % 2 == 0 ? TRUE : FALSE;
            for (int i = 0; i < 5000; ++i) {
                AdapterDeviceEvent(&event);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(device_->EventEnableCount, 0);
}

struct DpcWork {
    DeviceContext* device;
    std::atomic<int> runs{0};
    std::atomic<bool> sawWrongIrql{false};
};

VOID NTAPI flipFlagsAtDispatch(PKDPC, PVOID context, PVOID, PVOID)
{
    auto* work = static_cast<DpcWork*>(context);
    if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
        work->sawWrongIrql = true;
    }
    SetUsbConfigured(work->device, !GetUsbConfigured(work->device));
    SetDevicePowerState(work->device, GetDevicePowerState(work->device));
    work->runs.fetch_add(1);
}

// The same accessors from a passive thread, a DPC and a thread raised to
// DISPATCH_LEVEL at once: the verifier would stop the test on a lock misuse.
TEST_F(DeviceContextTest, LockedAccessorsServePassiveAndDispatchCallersAtOnce)
{
    DpcWork work{device_.get()};
    KDPC dpc;
    KeInitializeDpc(&dpc, flipFlagsAtDispatch, &work);
    std::atomic<bool> stop{false};
    std::thread raised([&] {
        while (!stop) {
            korval::host::runAtIrql(DISPATCH_LEVEL, [&] {
                SetCaptureOpen(device_.get(), !GetCaptureOpen(device_.get()));
                (void)GetDevicePresent(device_.get());
            });
        }
    });
    for (int i = 0; i < 3000; ++i) {
        KeInsertQueueDpc(&dpc, nullptr, nullptr);
        SetUsbConfigured(device_.get(), GetUsbConfigured(device_.get()));
        SetRegistersReady(device_.get(), i % 2);
        EXPECT_EQ(GetRegistersReady(device_.get()), i % 2);
        EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    }
    while (work.runs == 0) {
        std::this_thread::yield();
    }
    stop = true;
    raised.join();
    KeFlushQueuedDpcs();
    EXPECT_FALSE(work.sawWrongIrql);
    EXPECT_EQ(korval::host::spinLocksHeld(), 0);
}

TEST(SyncRequestComplete, SignalsTheWaiterAndKeepsTheIrp)
{
    Platform platform;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    EXPECT_EQ(SyncRequestComplete(nullptr, nullptr, &done), STATUS_MORE_PROCESSING_REQUIRED);
    EXPECT_NE(KeReadStateEvent(&done), 0);
}

} // namespace
