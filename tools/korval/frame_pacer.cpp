#include "tools/korval/frame_pacer.h"

#include "host/kernel/clock.h"
#include "host/usb/usb_bus.h"

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
    if (!event.completion) {
        return;
    }
    if (event.status < 0) {
        // The driver restarts video after a failed transfer: its collector starts again.
        assembler_.reset();
        return;
    }
    for (const host::IsoPacketEvent& packet : event.packets) {
        if (packet.length != 0 && std::uint64_t{packet.offset} + packet.length <= event.data.size()) {
            assembler_.feed(event.data.subspan(packet.offset, packet.length));
        }
    }
    assembler_.endOfTransfer();
}

void FramePacer::frameCompleted(std::vector<std::uint8_t>&& frame)
{
    {
        std::lock_guard lock(mutex_);
        ++completed_;
        holding_ = lockstep_;
    }
    if (frames_) {
        frames_(std::move(frame));
    }
}

void FramePacer::run(std::stop_token stop)
{
    auto& clock = host::systemClock();
    while (!stop.stop_requested()) {
        {
            std::unique_lock lock(mutex_);
            if (!changed_.wait(lock, stop, [this] { return !holding_; })) {
                return;
            }
        }
        const std::uint64_t next = bus_->frameNumber() + 1;
        clock.advanceTo(static_cast<std::int64_t>(next) * host::Clock::kTicksPerMillisecond);
        bus_->waitForFrame(next, std::chrono::seconds(10));
    }
}

} // namespace korval::tools
