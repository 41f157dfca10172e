#include "host/kernel/clock.h"

namespace korval::host {

Clock& systemClock()
{
    static Clock* clock = [] {
        auto* created = new Clock; // outlives every static destructor and thread
        created->sleepWaker_ = created->addWaker([created] {
            std::lock_guard lock(created->sleepMutex_);
            created->sleepCv_.notify_all();
        });
        return created;
    }();
    return *clock;
}

void Clock::reset(ClockMode mode, double scale)
{
    {
        std::lock_guard lock(mutex_);
        mode_ = mode;
        scale_ = scale > 0.0 ? scale : 1.0;
        realStart_ = std::chrono::steady_clock::now();
        steppedNow_ = 0;
        ++generation_;
    }
    wakeAll();
}

ClockMode Clock::mode() const
{
    std::lock_guard lock(mutex_);
    return mode_;
}

std::int64_t Clock::now() const
{
    std::lock_guard lock(mutex_);
    if (mode_ == ClockMode::Stepped) {
        return steppedNow_;
    }
    const auto elapsed = std::chrono::steady_clock::now() - realStart_;
    const auto ticks = std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>>(elapsed);
    return mode_ == ClockMode::Real ? ticks.count() : static_cast<std::int64_t>(static_cast<double>(ticks.count()) * scale_);
}

void Clock::advance(std::int64_t ticks)
{
    {
        std::lock_guard lock(mutex_);
        if (mode_ != ClockMode::Stepped || ticks <= 0) {
            return;
        }
        steppedNow_ += ticks;
    }
    wakeAll();
}

void Clock::advanceTo(std::int64_t time)
{
    advance(time - now());
}

std::uint64_t Clock::generation() const
{
    std::lock_guard lock(mutex_);
    return generation_;
}

std::chrono::steady_clock::time_point Clock::realDeadline(std::int64_t deadline) const
{
    std::lock_guard lock(mutex_);
    const double realTicks = static_cast<double>(deadline) / (mode_ == ClockMode::Scaled ? scale_ : 1.0);
    return realStart_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double, std::ratio<1, 10'000'000>>(realTicks));
}

void Clock::waitOnce(std::unique_lock<std::mutex>& lock, std::condition_variable_any& cv, std::int64_t deadline)
{
    if (deadline < 0 || mode() == ClockMode::Stepped) {
        cv.wait(lock);
    } else {
        cv.wait_until(lock, realDeadline(deadline));
    }
}

bool Clock::sleepUntil(std::int64_t deadline, std::stop_token stop)
{
    std::unique_lock lock(sleepMutex_);
    while (now() < deadline) {
        if (stop.stop_requested()) {
            return false;
        }
        const std::uint64_t seen = generation();
        auto woken = [&] { return now() >= deadline || generation() != seen; };
        if (mode() == ClockMode::Stepped) {
            sleepCv_.wait(lock, stop, woken);
        } else {
            sleepCv_.wait_until(lock, stop, realDeadline(deadline), woken);
        }
    }
    return true;
}

bool Clock::sleepFor(std::int64_t ticks, std::stop_token stop)
{
    return sleepUntil(now() + ticks, stop);
}

Clock::WakerId Clock::addWaker(std::function<void()> waker)
{
    std::lock_guard lock(wakersMutex_);
    const WakerId id = nextWaker_++;
    wakers_.emplace_back(id, std::move(waker));
    return id;
}

void Clock::removeWaker(WakerId id)
{
    std::lock_guard lock(wakersMutex_);
    std::erase_if(wakers_, [id](const auto& entry) { return entry.first == id; });
}

void Clock::wakeAll()
{
    std::lock_guard lock(wakersMutex_);
    for (const auto& [id, waker] : wakers_) {
        waker();
    }
}

} // namespace korval::host
