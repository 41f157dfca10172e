// Master clocks and StreamClassQueryMasterClockSync.
#include "host/kernel/bug_check.h"
#include "host/kernel/clock.h"
#include "host/kernel/irql.h"
#include "host/streamclass/class_state.h"

namespace korval::host {

std::int64_t MasterClockState::streamTime() const
{
    std::lock_guard lock(mutex);
    return following ? base + (systemClock().now() - origin) : base;
}

MasterClock::MasterClock() : state_(std::make_shared<MasterClockState>())
{
    state_->origin = systemClock().now();
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    book.clocks[handle()] = state_;
}

std::shared_ptr<MasterClock> MasterClock::create()
{
    return std::shared_ptr<MasterClock>(new MasterClock());
}

MasterClock::~MasterClock()
{
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    book.clocks.erase(handle());
}

HANDLE MasterClock::handle() const
{
    return state_.get();
}

std::int64_t MasterClock::streamTime() const
{
    return state_->streamTime();
}

void MasterClock::restart()
{
    std::lock_guard lock(state_->mutex);
    state_->following = true;
    state_->base = 0;
    state_->origin = systemClock().now();
}

void MasterClock::setTime(std::int64_t streamTime)
{
    std::lock_guard lock(state_->mutex);
    state_->following = false;
    state_->base = streamTime;
}

void MasterClock::advance(std::int64_t ticks)
{
    std::lock_guard lock(state_->mutex);
    state_->base += ticks;
}

void MasterClock::follow()
{
    const std::int64_t now = streamTime();
    std::lock_guard lock(state_->mutex);
    state_->following = true;
    state_->base = now;
    state_->origin = systemClock().now();
}

std::uint64_t MasterClock::queries() const
{
    std::lock_guard lock(state_->mutex);
    return state_->queries;
}

} // namespace korval::host

using namespace korval::host;

extern "C" VOID STREAMAPI StreamClassQueryMasterClockSync(HANDLE MasterClockHandle, PHW_TIME_CONTEXT TimeContext)
{
    const unsigned irql = currentIrql();
    if (irql > DISPATCH_LEVEL) {
        bugCheck("stream class: StreamClassQueryMasterClockSync at IRQL " + std::to_string(irql));
    }
    if (TimeContext == nullptr) {
        bugCheck("stream class: StreamClassQueryMasterClockSync with a null time context");
    }
    std::shared_ptr<MasterClockState> clock;
    {
        ClassBook& book = classBook();
        std::lock_guard lock(book.mutex);
        auto found = book.clocks.find(MasterClockHandle);
        clock = found == book.clocks.end() ? nullptr : found->second.lock();
    }
    if (!clock) {
        bugCheck("stream class: StreamClassQueryMasterClockSync with master clock handle " +
                 pointerText(MasterClockHandle) + ", which is no clock");
    }
    TimeContext->Time = static_cast<ULONGLONG>(clock->streamTime());
    TimeContext->SystemTime = static_cast<ULONGLONG>(systemClock().now());
    std::lock_guard lock(clock->mutex);
    ++clock->queries;
}
