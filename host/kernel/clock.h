// The platform's one clock, in 100 ns units since the platform started. It
// runs in real time (the tool), scaled real time, or only when a test steps
// it; every time-out in the emulated kernel, the stream class's master clock
// and the USB bus's 1 ms frames are measured on it, so stepping it wakes
// exactly the waiters whose time has come, without anyone sleeping for real.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <utility>
#include <vector>

namespace korval::host {

enum class ClockMode { Real, Scaled, Stepped };

class Clock {
public:
    static constexpr std::int64_t kTicksPerSecond = 10'000'000;
    static constexpr std::int64_t kTicksPerMillisecond = 10'000;

    // Back to `mode` at time 0 (scale 1 unless given): each new Platform does this.
    void reset(ClockMode mode, double scale = 1.0);
    ClockMode mode() const;

    std::int64_t now() const; // 100 ns ticks since the reset

    // Stepped mode: moves time forward and wakes every waiter whose deadline passed.
    void advance(std::int64_t ticks);
    void advanceTo(std::int64_t time);

    // Blocks until now() >= deadline; false when the stop token fired first.
    bool sleepUntil(std::int64_t deadline, std::stop_token stop = {});
    bool sleepFor(std::int64_t ticks, std::stop_token stop = {});

    // Waits on `cv` (with `lock` held) until `ready()` or the deadline; returns
    // ready(). The owner of `cv` must have registered a waker that notifies it,
    // so that stepping the clock re-evaluates the wait. A deadline < 0 waits for ever.
    template <class Ready>
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable_any& cv, std::int64_t deadline,
                   Ready ready)
    {
        while (!ready()) {
            if (deadline >= 0 && now() >= deadline) {
                return false;
            }
            waitOnce(lock, cv, deadline);
        }
        return true;
    }

    // A waker is called after every step and mode change; it must lock the
    // mutex that its waiters hold while testing their condition, then notify.
    using WakerId = std::uint64_t;
    WakerId addWaker(std::function<void()> waker);
    void removeWaker(WakerId id);

    // The steady-clock instant at which the clock reads `deadline` (real and scaled modes).
    std::chrono::steady_clock::time_point realDeadline(std::int64_t deadline) const;

private:
    friend Clock& systemClock();
    void waitOnce(std::unique_lock<std::mutex>& lock, std::condition_variable_any& cv, std::int64_t deadline);
    void wakeAll();
    std::uint64_t generation() const;

    mutable std::mutex mutex_;
    ClockMode mode_ = ClockMode::Real;
    double scale_ = 1.0;
    std::chrono::steady_clock::time_point realStart_ = std::chrono::steady_clock::now();
    std::int64_t steppedNow_ = 0;
    std::uint64_t generation_ = 0; // changes with every reset
    std::mutex wakersMutex_;
    std::vector<std::pair<WakerId, std::function<void()>>> wakers_;
    WakerId nextWaker_ = 1;
    std::mutex sleepMutex_;
    std::condition_variable_any sleepCv_;
    WakerId sleepWaker_ = 0;
};

// The process-wide clock used by the kernel, the stream class and the USB bus.
Clock& systemClock();

// Registers a waker for the life of the object.
class ScopedWaker {
public:
    explicit ScopedWaker(std::function<void()> waker) : id_(systemClock().addWaker(std::move(waker))) {}
    ~ScopedWaker() { systemClock().removeWaker(id_); }
    ScopedWaker(const ScopedWaker&) = delete;
    ScopedWaker& operator=(const ScopedWaker&) = delete;

private:
    Clock::WakerId id_;
};

} // namespace korval::host
