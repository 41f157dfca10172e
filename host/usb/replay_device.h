// A recorded device in the camera's place on the bus. Control requests are
// answered by the recorded request with the same set-up packet (the next one
// in recorded order, else an earlier one; a write the recording holds only
// with other values is accepted and counted); descriptors by the longest
// recorded answer; the isochronous IN endpoints play their recorded packets
// in order, one per bus frame with a transfer waiting (a frame without one
// loses nothing); the interrupt IN endpoints send each recorded report once
// the isochronous packets recorded before it have been played. What the
// recording cannot answer stalls and is noted with the point of the replay.
#pragma once

#include "host/usb/replay_script.h"
#include "host/usb/usb_device.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace korval::host {

// What the replay met, readable once the device is gone.
struct ReplayJournal {
    static constexpr std::size_t kNotesKept = 20;
    std::mutex mutex;
    std::vector<std::string> unanswered; // the first kNotesKept
    std::size_t unansweredCount = 0;
    std::size_t looseWrites = 0;         // writes answered by one with other values
};

class ReplayDevice final : public UsbDevice {
public:
    // Bus frames played after the last recorded packet, so that every transfer
    // holding recorded data has come back to the driver.
    static constexpr std::uint64_t kFramesAfterEnd = 64;

    // `fallback` answers descriptors the recording lacks (by type << 8 | index).
    ReplayDevice(ReplayScript script, std::shared_ptr<ReplayJournal> journal,
                 std::map<std::uint16_t, std::vector<std::uint8_t>> fallback = {});

    std::vector<std::uint8_t> descriptor(std::uint8_t type, std::uint8_t index) override;
    ControlResult control(const SetupPacket& setup, std::uint8_t* data) override;
    void configured(bool) override {}
    void alternateSelected(std::uint8_t, std::uint8_t) override {}
    void startOfFrame(std::uint64_t frameNumber) override;
    std::size_t isochronousIn(std::uint8_t endpoint, std::uint8_t* buffer, std::size_t capacity) override;
    std::optional<std::size_t> interruptIn(std::uint8_t endpoint, std::uint8_t* buffer, std::size_t capacity) override;

    // Every recorded packet has been played and has had time to reach the driver.
    bool finished() const;
    std::size_t packetsPlayed() const;

private:
    const ReplayScript::Control* match(const SetupPacket& setup);
    void unanswered(const std::string& what);
    std::string point() const;

    mutable std::mutex mutex_;
    ReplayScript script_;
    std::shared_ptr<ReplayJournal> journal_;
    std::map<std::uint16_t, std::vector<std::uint8_t>> fallback_;
    std::size_t nextControl_ = 0;
    std::map<std::uint8_t, std::size_t> nextPacket_, nextReport_;
    std::size_t played_ = 0;
    std::uint64_t frame_ = 0;
    std::uint64_t endFrame_ = 0; // the bus frame of the last recorded packet; 0 before
};

} // namespace korval::host
