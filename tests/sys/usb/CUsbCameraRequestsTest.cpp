// Synchronous requests: the vendor request, refusal while the device is gone
// or powered down, a lower driver that answers late or never (on the stepped
// clock, without real sleeping), and requests from several threads at once.
#include "UsbCameraHarness.h"

#include "host/kernel/irql.h"

#include <atomic>
#include <thread>
#include <vector>

namespace korval::testing {
namespace {

constexpr ULONG kIn = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
constexpr std::int64_t kThreeSeconds = 3 * host::Clock::kTicksPerSecond;

bool readRegister(CUsbCamera& usb, UCHAR address, UCHAR* answer, PULONG transferred)
{
    return usb.VendorRequest(URB_FUNCTION_VENDOR_INTERFACE, kIn, 0, camera::kRequestReadRegister, 0, address,
                             answer, 2, transferred);
}

bool writeRegister(CUsbCamera& usb, UCHAR address, UCHAR value)
{
    ULONG transferred = 0;
    return usb.VendorRequest(URB_FUNCTION_VENDOR_INTERFACE, 0, 0, camera::kRequestWriteRegister, value, address,
                             nullptr, 0, &transferred);
}

TEST_F(UsbCameraTest, VendorRequestsReachTheRegistersAndReportTheBytesMoved)
{
    UCHAR answer[2] = {0xAA, 0xAA};
    ULONG transferred = 77;
    EXPECT_FALSE(readRegister(*usb_, 0x00, answer, &transferred)); // not configured
    ASSERT_TRUE(openCif());
    const std::size_t blocks = host::poolCounters().outstandingBlocks;
    ASSERT_TRUE(writeRegister(*usb_, 0x4A, 0x3C));
    EXPECT_EQ(camera().writtenRegister(0x4A), 0x3C);
    ASSERT_TRUE(readRegister(*usb_, 0x4A, answer, &transferred));
    EXPECT_EQ(transferred, 2u);
    EXPECT_EQ(answer[0], 0x3C);

    const auto seen = spy_->seen().back();
    EXPECT_EQ(seen.function, URB_FUNCTION_VENDOR_INTERFACE);
    EXPECT_EQ(seen.length, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST));
    const auto trace = bus().trace().back();
    EXPECT_EQ(trace.request, camera::kRequestReadRegister);
    EXPECT_EQ(trace.index, 0x4A);
    EXPECT_EQ(trace.requestedLength, 2u);

    camera().shortenNextRegisterRead();
    ASSERT_TRUE(readRegister(*usb_, 0x4A, answer, &transferred));
    EXPECT_EQ(transferred, 1u);

    transferred = 77;
    EXPECT_FALSE(readRegister(*usb_, 0x30, answer, &transferred)); // no such register: stall
    EXPECT_EQ(transferred, 0u);
    EXPECT_FALSE(readRegister(*usb_, 0x4A, answer, nullptr));
    EXPECT_FALSE(usb_->VendorRequest(URB_FUNCTION_VENDOR_INTERFACE, kIn, 0, camera::kRequestReadRegister, 0, 0x4A,
                                     nullptr, 2, &transferred));
    EXPECT_EQ(host::poolCounters().outstandingBlocks, blocks); // every URB was freed
}

TEST_F(UsbCameraTest, TheUsualRequestsAreRefusedWithoutSendingWhileTheDeviceIsGoneOrAsleep)
{
    ASSERT_TRUE(openCif());
    const std::size_t urbs = bus().trace().size();
    UCHAR answer[2] = {};
    ULONG transferred = 0;

    SetDevicePowerState(device_.get(), PowerDeviceD3);
    EXPECT_FALSE(readRegister(*usb_, 0x00, answer, &transferred));
    EXPECT_FALSE(usb_->ResetVideoPipe());
    EXPECT_FALSE(usb_->SelectAlternateSetting(1));
    EXPECT_EQ(bus().trace().size(), urbs);
    SetDevicePowerState(device_.get(), PowerDeviceD0);

    SetDevicePresent(device_.get(), FALSE);
    EXPECT_FALSE(readRegister(*usb_, 0x00, answer, &transferred));
    EXPECT_FALSE(usb_->AbortVideoPipe());
    EXPECT_EQ(bus().trace().size(), urbs);
    // Stopping the status channel must still reach the stack.
    EXPECT_TRUE(usb_->AbortStatusPipe());
    EXPECT_EQ(bus().trace().size(), urbs + 1);

    SetDevicePresent(device_.get(), TRUE);
    EXPECT_TRUE(readRegister(*usb_, 0x00, answer, &transferred));
    EXPECT_FALSE(usb_->SubmitUrbWait(nullptr, IOCTL_INTERNAL_USB_SUBMIT_URB));
    EXPECT_FALSE(usb_->SubmitUrbWaitOwnIrp(nullptr, IOCTL_INTERNAL_USB_SUBMIT_URB));
    EXPECT_EQ(KeReadStateSemaphore(&usb_->RequestLock), 1);
}

TEST_F(UsbCameraTest, AnUnpluggedCameraFailsTheRequestThroughItsStatus)
{
    ASSERT_TRUE(openCif());
    bus().unplug();
    UCHAR answer[2] = {};
    ULONG transferred = 0;
    EXPECT_FALSE(readRegister(*usb_, 0x00, answer, &transferred));
    EXPECT_EQ(bus().trace().back().status, USBD_STATUS_DEVICE_GONE);
    EXPECT_TRUE(usb_->Close());
}

class SilentLowerDeviceTest : public UsbCameraTest {
protected:
    // Runs the request on its own thread, as a request handler would, and
    // waits until it blocks on the completion event with its deadline fixed.
    void startRead(UCHAR address)
    {
        done_ = false;
        worker_ = std::thread([this, address] {
            result_ = readRegister(*usb_, address, answer_, &transferred_);
            done_ = true;
        });
        while (host::kernelWaiters() == 0 && !done_) {
            std::this_thread::yield();
        }
    }
    void finishRead()
    {
        worker_.join();
    }

    // Runs the call on its own thread and bus frames here while it has a request pending.
    template <class Call>
    bool whileBusRuns(Call call)
    {
        bool result = false;
        std::atomic<bool> finished{false};
        std::thread caller([&] {
            result = call();
            finished = true;
        });
        while (!finished) {
            if (bus().pendingRequests() > 0) {
                bus().runFrames(1);
            } else {
                std::this_thread::yield();
            }
        }
        caller.join();
        return result;
    }

    std::thread worker_;
    std::atomic<bool> done_{false};
    bool result_ = true;
    UCHAR answer_[2] = {};
    ULONG transferred_ = 99;
};

TEST_F(SilentLowerDeviceTest, ARequestNotAnsweredInThreeSecondsIsCancelledAndFails)
{
    ASSERT_TRUE(openCif());
    host::UrbFault silent;
    silent.function = URB_FUNCTION_VENDOR_INTERFACE;
    silent.effect = host::UrbFault::Effect::NoAnswer;
    silent.times = 2;
    bus().addFault(silent);

    // Twice: the IRP comes back cancelled from the first time-out, and the
    // second request on it must still get its full three seconds.
    for (int round = 0; round < 2; ++round) {
        startRead(0x4A);
        host::systemClock().advance(kThreeSeconds - 1);
        EXPECT_EQ(host::kernelWaiters(), 1u);
        EXPECT_FALSE(done_);
        host::systemClock().advance(1);
        finishRead();
        EXPECT_FALSE(result_);
        EXPECT_EQ(transferred_, 0u);
        const auto trace = bus().trace().back();
        EXPECT_TRUE(trace.completed);
        EXPECT_EQ(trace.status, USBD_STATUS_CANCELED);
        EXPECT_EQ(bus().pendingRequests(), 0u);
    }

    UCHAR answer[2] = {};
    ULONG transferred = 0;
    ASSERT_TRUE(readRegister(*usb_, 0x4A, answer, &transferred));
    EXPECT_EQ(transferred, 2u);
}

TEST_F(SilentLowerDeviceTest, ARequestAnsweredLateButInTimeSucceeds)
{
    plugIn({}, 5); // the stack answers every control request five frames later
    ASSERT_TRUE(whileBusRuns([this] { return openCif(); }));

    startRead(0x00);
    host::systemClock().advance(kThreeSeconds / 2); // inside the time-out
    EXPECT_FALSE(done_);
    bus().runFrames(5);
    finishRead();
    EXPECT_TRUE(result_);
    EXPECT_EQ(transferred_, 2u);
    EXPECT_FALSE(bus().trace().back().completedAtOnce);
    EXPECT_TRUE(whileBusRuns([this] { return usb_->Close(); }));
}

TEST_F(UsbCameraTest, RequestsFromSeveralThreadsGoThroughOneAtATime)
{
    ASSERT_TRUE(openCif());
    constexpr int kThreads = 4;
    constexpr int kRequests = 60;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto address = static_cast<UCHAR>(0x42 + t);
            for (int i = 0; i < kRequests; ++i) {
                UCHAR answer[2] = {};
                ULONG transferred = 0;
                const auto value = static_cast<UCHAR>(i + t);
                if (!writeRegister(*usb_, address, value) || !readRegister(*usb_, address, answer, &transferred) ||
                    transferred != 2 || answer[0] != value) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(KeReadStateSemaphore(&usb_->RequestLock), 1);
}

TEST_F(UsbCameraTest, CloseWhileOtherThreadsSendRequestsNeverUsesAFreedIrp)
{
    ASSERT_TRUE(openCif());
    std::atomic<bool> stop{false};
    std::atomic<int> succeeded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            while (!stop) {
                UCHAR answer[2] = {};
                ULONG transferred = 0;
                if (readRegister(*usb_, 0x00, answer, &transferred)) {
                    ++succeeded;
                }
            }
        });
    }
    while (succeeded < 30) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(usb_->Close());
    UCHAR answer[2] = {};
    ULONG transferred = 0;
    EXPECT_FALSE(readRegister(*usb_, 0x00, answer, &transferred));
    stop = true;
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(usb_->RequestIrp, nullptr);
}

} // namespace
} // namespace korval::testing
