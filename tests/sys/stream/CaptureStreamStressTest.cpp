// Adapter and stream requests at the same time, as the unsynchronized class
// sends them: one client opens, runs, reads, stops and closes the stream over
// and over, another changes its state while it is open, and the device goes
// to D3 and back meanwhile. The verifier stops the test on a double free of
// the snapshot thread's reference, an IRP reused in flight or a double
// completion; ThreadSanitizer sees the same run for data races.
#include "CaptureStreamHarness.h"

#include <atomic>
#include <mutex>

namespace korval::stream_test {
namespace {

constexpr auto kStressDuration = 2000ms;
constexpr int kMaxCycles = 200;

TEST_F(CaptureStreamTest, CloseOpenStateAndPowerFromSeveralThreads)
{
    start();
    const FormatBytes cif = format(176, true);
    std::mutex streamMutex; // the stream object itself is one client's
    std::unique_ptr<StreamClassStream> shared;
    std::atomic<bool> done{false};
    std::atomic<int> cycles{0}, opens{0}, powerCycles{0}, stateChanges{0};

    std::thread client([&] {
        const auto until = std::chrono::steady_clock::now() + kStressDuration;
        while (std::chrono::steady_clock::now() < until && cycles < kMaxCycles) {
            NTSTATUS status = STATUS_UNSUCCESSFUL;
            auto opened = device_->openStream(0, cif, &status);
            ++cycles;
            if (!NT_SUCCESS(status) || !opened) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            ++opens;
            opened->setState(KSSTATE_PAUSE);
            opened->setState(KSSTATE_RUN);
            auto read = opened->submitRead(38016);
            {
                std::lock_guard lock(streamMutex);
                shared = std::move(opened);
            }
            read->waitFor(std::chrono::milliseconds(cycles % 3 == 0 ? 40 : 0));
            std::lock_guard lock(streamMutex);
            shared->setState(KSSTATE_STOP);
            shared->close();
            shared.reset();
        }
        done = true;
    });
    std::thread states([&] {
        const KSSTATE order[] = {KSSTATE_STOP, KSSTATE_PAUSE, KSSTATE_RUN, KSSTATE_ACQUIRE, KSSTATE_RUN};
        for (int i = 0; !done; ++i) {
            {
                std::lock_guard lock(streamMutex);
                if (shared) {
                    shared->setState(order[i % 5]);
                    ++stateChanges;
                }
            }
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread power([&] {
        while (!done) {
            EXPECT_EQ(device_->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
            std::this_thread::sleep_for(1ms);
            EXPECT_EQ(device_->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
            ++powerCycles;
            std::this_thread::sleep_for(4ms);
        }
    });
    client.join();
    states.join();
    power.join();
    RecordProperty("cycles", cycles.load());
    RecordProperty("opens", opens.load());
    RecordProperty("powerCycles", powerCycles.load());
    RecordProperty("stateChanges", stateChanges.load());
    EXPECT_GT(opens.load(), 0);
    EXPECT_GT(powerCycles.load(), 0);

    // The device is whole afterwards: the stream opens, streams and closes.
    ASSERT_EQ(GetDevicePowerState(context_), ULONG(PowerDeviceD0));
    EXPECT_FALSE(GetCaptureOpen(context_));
    EXPECT_TRUE(ReadLockedFlag(&usb().StatusStarted));
    open(176, true);
    ASSERT_EQ(stream_->setState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(readDelivered()->header().DataUsed, frameSize());
    ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
}

} // namespace
} // namespace korval::stream_test
