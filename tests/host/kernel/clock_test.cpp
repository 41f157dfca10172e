#include "host/kernel/clock.h"
#include "host/kernel/dispatcher.h"
#include "kernel_test_support.h"

#include <thread>

namespace korval::host::testing {
namespace {

using ClockTest = KernelTest;

TEST_F(ClockTest, SteppedClockMovesOnlyWhenStepped)
{
    Clock& clock = systemClock();
    EXPECT_EQ(clock.mode(), ClockMode::Stepped);
    EXPECT_EQ(clock.now(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(clock.now(), 0);
    clock.advance(Clock::kTicksPerMillisecond);
    EXPECT_EQ(clock.now(), 10'000);
    clock.advanceTo(5);
    EXPECT_EQ(clock.now(), 10'000) << "time never runs backwards";
    EXPECT_EQ(KeQueryInterruptTime(), 10'000u);
}

TEST_F(ClockTest, SleepersWakeInDeadlineOrderAsTheClockIsStepped)
{
    Clock& clock = systemClock();
    std::atomic<int> woken{0};
    std::thread first([&] {
        clock.sleepUntil(10'000);
        woken += 1;
    });
    std::thread second([&] {
        clock.sleepUntil(20'000);
        woken += 10;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(woken.load(), 0);
    clock.advance(10'000);
    first.join();
    EXPECT_EQ(woken.load(), 1);
    clock.advance(10'000);
    second.join();
    EXPECT_EQ(woken.load(), 11);
}

TEST_F(ClockTest, StopTokenEndsASleepEarly)
{
    std::stop_source stop;
    std::atomic<bool> result{true};
    std::thread sleeper([&] { result = systemClock().sleepUntil(1'000'000'000, stop.get_token()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop.request_stop();
    sleeper.join();
    EXPECT_FALSE(result.load());
}

TEST_F(ClockTest, ScaledClockRunsFasterThanRealTime)
{
    systemClock().reset(ClockMode::Scaled, 1000.0);
    const auto started = std::chrono::steady_clock::now();
    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    LARGE_INTEGER timeout = relativeTimeout(Clock::kTicksPerSecond); // 1 ms of real time
    EXPECT_EQ(KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, &timeout), STATUS_TIMEOUT);
    EXPECT_GE(systemClock().now(), Clock::kTicksPerSecond);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

TEST_F(ClockTest, AbsoluteTimeoutIsMeasuredInSystemTime)
{
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    LARGE_INTEGER past = now;
    past.QuadPart -= 1;
    EXPECT_EQ(KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, &past), STATUS_TIMEOUT);
    LARGE_INTEGER soon = now;
    soon.QuadPart += 500;
    std::thread stepper([] {
        awaitKernelWaiters(1);
        systemClock().advance(500);
    });
    EXPECT_EQ(KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, &soon), STATUS_TIMEOUT);
    stepper.join();
}

} // namespace
} // namespace korval::host::testing
