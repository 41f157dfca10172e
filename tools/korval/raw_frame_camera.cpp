#include "tools/korval/raw_frame_camera.h"

#include "camera/device/descriptors.h"
#include "camera/virtual_camera.h"
#include "host/wire/wire_frames.h"

#include <algorithm>
#include <cstring>

namespace korval::tools {
namespace {

constexpr std::int64_t kTicksPerBusFrame = 10'000;
constexpr std::uint64_t kLongestPause = 10'000'000; // 1 s: a longer gap in the file is not kept

host::ControlResult stall() { return {host::ControlOutcome::Stall, 0}; }

// Ticks from one frame's time to the next, without overflow for any stamps.
std::int64_t gap(std::int64_t from, std::int64_t to)
{
    if (to <= from) {
        return 0;
    }
    const std::uint64_t difference = static_cast<std::uint64_t>(to) - static_cast<std::uint64_t>(from);
    return static_cast<std::int64_t>(std::min(difference, kLongestPause));
}

} // namespace

RawFrameCamera::RawFrameCamera(RawFrameReader& reader, RawFrame first)
    : reader_(reader),
      deviceDescriptor_(camera::buildDeviceDescriptor()),
      configurationDescriptor_(camera::buildConfigurationDescriptor({})),
      pending_(std::move(first))
{
}

std::vector<std::uint8_t> RawFrameCamera::descriptor(std::uint8_t type, std::uint8_t index)
{
    if (index != 0) {
        return {};
    }
    return type == 0x01 ? deviceDescriptor_ : type == 0x02 ? configurationDescriptor_ : std::vector<std::uint8_t>{};
}

host::ControlResult RawFrameCamera::control(const host::SetupPacket& setup, std::uint8_t* data)
{
    std::lock_guard lock(mutex_);
    if ((setup.requestType & 0x60) != 0x40) {
        return stall();
    }
    if (setup.request == camera::kRequestWriteRegister && !setup.deviceToHost()) {
        return registers_.write(setup.index, setup.value & 0xFF) ? host::ControlResult{} : stall();
    }
    if (setup.request == camera::kRequestWriteBlock && !setup.deviceToHost() && data != nullptr) {
        for (unsigned i = 0; i < setup.length; ++i) {
            registers_.write(setup.index + i, data[i]);
        }
        return {host::ControlOutcome::Ack, setup.length};
    }
    std::uint8_t value = 0;
    if (setup.request == camera::kRequestReadRegister && setup.deviceToHost() && data != nullptr &&
        registers_.read(setup.index, value)) {
        const std::uint8_t answer[2] = {value, 0x00};
        const std::size_t bytes = std::min<std::size_t>(setup.length, 2);
        std::copy(answer, answer + bytes, data);
        return {host::ControlOutcome::Ack, bytes};
    }
    return stall();
}

void RawFrameCamera::startOfFrame(std::uint64_t frameNumber)
{
    std::lock_guard lock(mutex_);
    now_ = static_cast<std::int64_t>(frameNumber) * kTicksPerBusFrame;
}

// Queues the next frame behind its marker once its time has come; after the
// last one, the marker and the last trailer that complete it.
bool RawFrameCamera::queueNext()
{
    if (!pending_ && !ended_) {
        pending_ = reader_.next();
        ended_ = !pending_;
        if (ended_ && previous_) {
            const auto& bytes = previous_->bytes;
            queue_.insert(queue_.end(), std::begin(host::kWireFrameMarker), std::end(host::kWireFrameMarker));
            queue_.insert(queue_.end(), bytes.end() - host::kWireHeaderBytes, bytes.end());
            return true;
        }
    }
    if (!pending_ || (previous_ && now_ < lastMarker_ + gap(previous_->time, pending_->time))) {
        return false;
    }
    // The next frame's header is this one's trailer: the recorded trailer is not sent.
    const auto& bytes = pending_->bytes;
    queue_.insert(queue_.end(), std::begin(host::kWireFrameMarker), std::end(host::kWireFrameMarker));
    queue_.insert(queue_.end(), bytes.begin(), bytes.end() - host::kWireHeaderBytes);
    headers_.emplace_back(bytes.begin(), bytes.begin() + host::kWireHeaderBytes);
    lastMarker_ = now_;
    previous_ = std::move(pending_);
    pending_.reset();
    return true;
}

std::size_t RawFrameCamera::isochronousIn(std::uint8_t endpoint, std::uint8_t* buffer, std::size_t capacity)
{
    std::lock_guard lock(mutex_);
    // Without a waiting transfer the bytes stay queued: a file loses nothing.
    if (endpoint != camera::kVideoEndpointAddress || !registers_.videoEnabled() || buffer == nullptr) {
        return 0;
    }
    if (sent_ == queue_.size()) {
        queue_.clear();
        sent_ = 0;
        if (!queueNext()) {
            return 0;
        }
    }
    const std::size_t bytes = std::min(capacity, queue_.size() - sent_);
    std::memcpy(buffer, queue_.data() + sent_, bytes);
    sent_ += bytes;
    return bytes;
}

bool RawFrameCamera::finished() const
{
    std::lock_guard lock(mutex_);
    return ended_ && sent_ == queue_.size();
}

std::vector<std::uint8_t> RawFrameCamera::frameHeader(std::size_t index) const
{
    std::lock_guard lock(mutex_);
    return index < headers_.size() ? headers_[index] : std::vector<std::uint8_t>{};
}

} // namespace korval::tools
