// A raw frame file in the camera's place on the bus: the camera's descriptors,
// its registers behind the vendor requests (register 0x00 answers the upright
// orientation), and on the video endpoint the file's frames, each behind the
// frame marker, no closer together than they were taken, so that the driver
// develops them as it developed the camera's stream. The status endpoint
// stays silent: the file holds no button presses.
#pragma once

#include "camera/device/register_file.h"
#include "host/usb/usb_device.h"
#include "tools/korval/raw_frames.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace korval::tools {

class RawFrameCamera final : public host::UsbDevice {
public:
    // `first` is the file's first frame, already read.
    RawFrameCamera(RawFrameReader& reader, RawFrame first);

    std::vector<std::uint8_t> descriptor(std::uint8_t type, std::uint8_t index) override;
    host::ControlResult control(const host::SetupPacket& setup, std::uint8_t* data) override;
    void configured(bool) override {}
    void alternateSelected(std::uint8_t, std::uint8_t) override {}
    void startOfFrame(std::uint64_t frameNumber) override;
    std::size_t isochronousIn(std::uint8_t endpoint, std::uint8_t* buffer, std::size_t capacity) override;
    std::optional<std::size_t> interruptIn(std::uint8_t, std::uint8_t*, std::size_t) override { return std::nullopt; }

    // Every frame of the file has been sent, the last one with its trailer.
    bool finished() const;
    // The header of each frame sent so far, in order.
    std::vector<std::uint8_t> frameHeader(std::size_t index) const;

private:
    bool queueNext();

    mutable std::mutex mutex_;
    RawFrameReader& reader_;
    camera::RegisterFile registers_;
    std::vector<std::uint8_t> deviceDescriptor_, configurationDescriptor_;
    std::vector<std::uint8_t> queue_;
    std::size_t sent_ = 0;
    std::optional<RawFrame> pending_;  // read, not yet queued
    std::optional<RawFrame> previous_; // queued last
    std::vector<std::vector<std::uint8_t>> headers_;
    std::int64_t now_ = 0;             // 100 ns, from the bus frame number
    std::int64_t lastMarker_ = 0;
    bool ended_ = false;
};

} // namespace korval::tools
