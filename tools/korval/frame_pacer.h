// Runs the emulated machine's stepped clock one USB frame at a time and, in
// lockstep, holds it still after each frame the camera completes on the bus
// until the application's read request has come back: while the clock stands
// still no newer frame can arrive and no time-out can run, so the driver
// develops every frame the camera sends, in order, however slowly the host
// runs. Nor does the clock run on, while the application runs the stream,
// with no video transfer waiting on the bus: the driver sends them from its
// start request and from a deferred call after each completion, either of
// which a busy host may run late, and the camera's packets in such a gap would
// be lost. (After a failed or cancelled transfer the clock runs until the
// driver sends one again: its restart may wait on a time-out.) That makes a capture reproducible from the scene and the settings.
// Should a read never come back for a held frame, the clock runs on after a
// bound in real time no working read comes near, and at once after a stop
// signal, so that a capture cannot hang for good.
#pragma once

#include "host/usb/bus_tap.h"
#include "host/wire/wire_frames.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace korval::host {
class UsbBus;
}

namespace korval::tools {

class FramePacer final : public host::BusTap {
public:
    using FrameHandler = std::function<void(std::vector<std::uint8_t>&& frame)>;

    // `frames` sees every frame completed on the bus (called with the bus's lock held).
    explicit FramePacer(FrameHandler frames = {});
    ~FramePacer() override;
    FramePacer(const FramePacer&) = delete;
    FramePacer& operator=(const FramePacer&) = delete;

    // Set before start().
    void onFrame(FrameHandler frames) { frames_ = std::move(frames); }
    void setMarkerSkip(std::uint32_t bytes) { assembler_.setMarkerSkip(bytes); }
    void setLongestHold(std::chrono::milliseconds longest) { longestHold_ = longest; }
    void start(host::UsbBus& bus);
    void stop();

    // Off: the clock runs on without waiting for reads.
    void setLockstep(bool on);
    // Set before the application sets the stream running, cleared before it
    // stops it: until then, in lockstep, the clock waits for a video transfer.
    // Returns once a step of the clock under way has ended, so that not one
    // frame of the bus runs between the camera's start and the driver's first
    // transfer.
    void setVideoExpected(bool expected);
    // A read request came back; true when it took the frame the clock was held for.
    bool readCompleted();
    std::uint64_t framesCompleted() const;
    // Held frames whose read did not come back within the longest hold, and
    // waits for a video transfer that none ended within it.
    std::uint64_t holdsAbandoned() const;

    void transfer(const host::TransferEvent& event) override;

private:
    void run(std::stop_token stop);
    void frameCompleted(std::vector<std::uint8_t>&& frame);
    void videoTransfer(const host::TransferEvent& event);
    bool blocked() const
    {
        return holding_ || (lockstep_ && videoExpected_ && !videoFailed_ && videoPending_ == 0);
    }
    bool waitWhileBlocked(const std::stop_token& stop);
    void giveUpBlock();

    FrameHandler frames_;
    host::WireFrameAssembler assembler_;
    std::uint8_t videoEndpoint_ = 0x85;
    host::UsbBus* bus_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    bool lockstep_ = true;
    bool holding_ = false;
    bool videoExpected_ = false;
    bool stepping_ = false; // the clock is being moved on one frame of the bus
    std::uint32_t videoPending_ = 0; // video transfers submitted and not completed
    // A video transfer failed or was cancelled: the driver sends the next one
    // once it has restarted video, which may wait for the clock.
    bool videoFailed_ = false;
    std::uint64_t completed_ = 0;
    std::uint64_t abandoned_ = 0;
    std::chrono::milliseconds longestHold_ = std::chrono::seconds(10);
    std::jthread thread_;
};

} // namespace korval::tools
