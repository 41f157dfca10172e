#include "tools/korval/frame_pacer.h"

#include "host/kernel/clock.h"
#include "host/usb/usb_bus.h"
#include "tools/korval/stop_signals.h"

#include <algorithm>

namespace korval::tools {

FramePacer::FramePacer(FrameHandler frames)
    : frames_(std::move(frames)), assembler_([this](std::vector<std::uint8_t>&& frame) { frameCompleted(std::move(frame)); })
{
}

FramePacer::~FramePacer()
{
    stop();
}

void FramePacer::start(host::UsbBus& bus)
{
    bus_ = &bus;
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

void FramePacer::stop()
{
    if (thread_.joinable()) {
        thread_.request_stop();
        changed_.notify_all();
        thread_.join();
    }
}

void FramePacer::setLockstep(bool on)
{
    {
        std::lock_guard lock(mutex_);
        lockstep_ = on;
        holding_ = holding_ && on;
    }
    changed_.notify_all();
}

void FramePacer::setVideoExpected(bool expected)
{
    std::unique_lock lock(mutex_);
    videoExpected_ = expected;
    changed_.wait(lock, [this] { return !stepping_; });
}

bool FramePacer::readCompleted()
{
    bool took = false;
    {
        std::lock_guard lock(mutex_);
        took = holding_;
        holding_ = false;
    }
    changed_.notify_all();
    return took;
}

std::uint64_t FramePacer::framesCompleted() const
{
    std::lock_guard lock(mutex_);
    return completed_;
}

std::uint64_t FramePacer::holdsAbandoned() const
{
    std::lock_guard lock(mutex_);
    return abandoned_;
}

void FramePacer::transfer(const host::TransferEvent& event)
{
    const bool clearsHalt = event.setup && event.setup->requestType == 0x02 && event.setup->request == 0x01;
    if (clearsHalt && event.setup->index == videoEndpoint_) {
        // The driver resets the video pipe whenever it starts video, and its collector with it.
        assembler_.reset();
        return;
    }
    if (event.type != host::TransferType::Isochronous || (event.endpoint & 0x80) == 0) {
        return;
    }
    videoEndpoint_ = event.endpoint;
    videoTransfer(event);
    if (!event.completion) {
        return;
    }
    if (event.status < 0) {
        // The driver drops a failed transfer and collects the ones still in
        // flight as before; its collector starts again only when it restarts
        // video, with the pipe reset seen above.
        return;
    }
    for (const host::IsoPacketEvent& packet : event.packets) {
        if (packet.offset < event.data.size()) {
            // The driver trims a packet that runs past the data to what is there.
            const std::size_t length = std::min<std::size_t>(packet.length, event.data.size() - packet.offset);
            assembler_.feed(event.data.subspan(packet.offset, length));
        }
    }
    assembler_.endOfTransfer();
}

void FramePacer::videoTransfer(const host::TransferEvent& event)
{
    {
        std::lock_guard lock(mutex_);
        if (!event.completion) {
            ++videoPending_;
            videoFailed_ = false;
        } else {
            videoPending_ -= videoPending_ != 0 ? 1 : 0;
            videoFailed_ = videoFailed_ || event.status < 0;
        }
    }
    changed_.notify_all();
}

void FramePacer::frameCompleted(std::vector<std::uint8_t>&& frame)
{
    {
        std::lock_guard lock(mutex_);
        ++completed_;
        holding_ = lockstep_ && !stopRequested();
    }
    if (frames_) {
        frames_(std::move(frame));
    }
}

void FramePacer::run(std::stop_token stop)
{
    auto& clock = host::systemClock();
    while (!stop.stop_requested()) {
        if (!waitWhileBlocked(stop)) {
            return;
        }
        const std::uint64_t next = bus_->frameNumber() + 1;
        clock.advanceTo(static_cast<std::int64_t>(next) * host::Clock::kTicksPerMillisecond);
        bus_->waitForFrame(next, std::chrono::seconds(10));
        {
            std::lock_guard lock(mutex_);
            stepping_ = false;
        }
        changed_.notify_all();
    }
}

// False when the pacer stops. The wait looks for a stop signal every tenth of
// a second: the application's read may be what the signal has to end.
bool FramePacer::waitWhileBlocked(const std::stop_token& stop)
{
    constexpr auto kSignalCheck = std::chrono::milliseconds(100);
    const auto giveUp = std::chrono::steady_clock::now() + longestHold_;
    std::unique_lock lock(mutex_);
    while (blocked()) {
        const auto until = std::min(giveUp, std::chrono::steady_clock::now() + kSignalCheck);
        if (changed_.wait_until(lock, stop, until, [this] { return !blocked(); })) {
            break;
        }
        if (stop.stop_requested()) {
            return false;
        }
        if (stopRequested()) {
            holding_ = false;
            videoExpected_ = false;
        } else if (std::chrono::steady_clock::now() >= giveUp) {
            giveUpBlock();
        }
    }
    stepping_ = true;
    return true;
}

// Called with the lock held: the clock runs on without the read or the
// transfer, for good where no transfer came (the stream could not start).
void FramePacer::giveUpBlock()
{
    holding_ = false;
    videoExpected_ = false;
    ++abandoned_;
}

} // namespace korval::tools
