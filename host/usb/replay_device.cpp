#include "host/usb/replay_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace korval::host {
namespace {

ControlResult stall()
{
    return {ControlOutcome::Stall, 0};
}

bool sameSetup(const SetupPacket& a, const SetupPacket& b)
{
    return a.requestType == b.requestType && a.request == b.request && a.value == b.value && a.index == b.index &&
           a.length == b.length;
}

// A write to the same place of the same length: the device took the request.
bool sameWrite(const SetupPacket& a, const SetupPacket& b)
{
    return !a.deviceToHost() && a.requestType == b.requestType && a.request == b.request && a.index == b.index &&
           a.length == b.length;
}

std::string describe(const SetupPacket& setup)
{
    char text[112];
    std::snprintf(text, sizeof(text), "bmRequestType 0x%02X bRequest 0x%02X wValue 0x%04X wIndex 0x%04X wLength %u",
                  setup.requestType, setup.request, setup.value, setup.index, setup.length);
    return text;
}

} // namespace

ReplayDevice::ReplayDevice(ReplayScript script, std::shared_ptr<ReplayJournal> journal,
                           std::map<std::uint16_t, std::vector<std::uint8_t>> fallback)
    : script_(std::move(script)), journal_(std::move(journal)), fallback_(std::move(fallback))
{
}

std::string ReplayDevice::point() const
{
    return "at bus frame " + std::to_string(frame_) + ", after " + std::to_string(played_) + " of " +
           std::to_string(script_.packetCount) + " recorded isochronous packets";
}

void ReplayDevice::unanswered(const std::string& what)
{
    std::lock_guard lock(journal_->mutex);
    if (journal_->unanswered.size() < ReplayJournal::kNotesKept) {
        journal_->unanswered.push_back(what + ", " + point());
    }
    ++journal_->unansweredCount;
}

std::vector<std::uint8_t> ReplayDevice::descriptor(std::uint8_t type, std::uint8_t index)
{
    std::lock_guard lock(mutex_);
    const auto key = static_cast<std::uint16_t>(type << 8 | index);
    if (const auto it = script_.descriptors.find(key); it != script_.descriptors.end()) {
        return it->second;
    }
    if (const auto it = fallback_.find(key); it != fallback_.end()) {
        return it->second;
    }
    unanswered("GET_DESCRIPTOR of type " + std::to_string(type) + " index " + std::to_string(index));
    return {};
}

// The next recorded request with this set-up packet, else an earlier one,
// else (for a write) one to the same place with other values.
const ReplayScript::Control* ReplayDevice::match(const SetupPacket& setup)
{
    const auto& controls = script_.controls;
    auto answered = [&](const ReplayScript::Control& control) {
        return control.answered && sameSetup(control.setup, setup);
    };
    auto it = std::find_if(controls.begin() + static_cast<std::ptrdiff_t>(nextControl_), controls.end(), answered);
    if (it != controls.end()) {
        nextControl_ = static_cast<std::size_t>(it - controls.begin()) + 1;
        return &*it;
    }
    it = std::find_if(controls.begin(), controls.end(), answered);
    if (it != controls.end()) {
        return &*it;
    }
    it = std::find_if(controls.begin(), controls.end(), [&](const ReplayScript::Control& control) {
        return control.answered && control.ok && sameWrite(control.setup, setup);
    });
    if (it != controls.end()) {
        std::lock_guard lock(journal_->mutex);
        ++journal_->looseWrites;
        return &*it;
    }
    return nullptr;
}

ControlResult ReplayDevice::control(const SetupPacket& setup, std::uint8_t* data)
{
    std::lock_guard lock(mutex_);
    const ReplayScript::Control* recorded = match(setup);
    if (recorded == nullptr) {
        unanswered("the request " + describe(setup));
        return stall();
    }
    if (!recorded->ok) {
        return stall(); // as the device answered it
    }
    if (!setup.deviceToHost()) {
        return {ControlOutcome::Ack, setup.length};
    }
    const std::size_t bytes = std::min<std::size_t>(recorded->answer.size(), setup.length);
    if (bytes != 0 && data != nullptr) {
        std::memcpy(data, recorded->answer.data(), bytes);
    }
    return {ControlOutcome::Ack, data != nullptr ? bytes : 0};
}

void ReplayDevice::startOfFrame(std::uint64_t frameNumber)
{
    std::lock_guard lock(mutex_);
    frame_ = frameNumber;
}

std::size_t ReplayDevice::isochronousIn(std::uint8_t endpoint, std::uint8_t* buffer, std::size_t capacity)
{
    std::lock_guard lock(mutex_);
    const auto queue = script_.packets.find(endpoint);
    // Without a waiting transfer the packet stays for the next frame: a recording loses nothing.
    if (buffer == nullptr || queue == script_.packets.end() || nextPacket_[endpoint] == queue->second.size()) {
        return 0;
    }
    const std::vector<std::uint8_t>& packet = queue->second[nextPacket_[endpoint]++];
    if (packet.size() > capacity) {
        unanswered("a transfer on endpoint " + std::to_string(endpoint & 0x0F) + " IN with room for " +
                   std::to_string(capacity) + " bytes (the recorded packet has " + std::to_string(packet.size()) +
                   "; another alternate setting?)");
    }
    const std::size_t bytes = std::min(packet.size(), capacity);
    if (bytes != 0) {
        std::memcpy(buffer, packet.data(), bytes);
    }
    if (++played_ == script_.packetCount) {
        endFrame_ = frame_;
    }
    return bytes;
}

std::optional<std::size_t> ReplayDevice::interruptIn(std::uint8_t endpoint, std::uint8_t* buffer,
                                                     std::size_t capacity)
{
    std::lock_guard lock(mutex_);
    const auto reports = script_.reports.find(endpoint);
    if (reports == script_.reports.end() || nextReport_[endpoint] == reports->second.size()) {
        return std::nullopt;
    }
    const ReplayScript::Report& report = reports->second[nextReport_[endpoint]];
    if (played_ < report.afterPackets || buffer == nullptr) {
        return std::nullopt;
    }
    ++nextReport_[endpoint];
    const std::size_t bytes = std::min(report.bytes.size(), capacity);
    std::memcpy(buffer, report.bytes.data(), bytes);
    return bytes;
}

bool ReplayDevice::finished() const
{
    std::lock_guard lock(mutex_);
    return played_ == script_.packetCount && endFrame_ != 0 && frame_ >= endFrame_ + kFramesAfterEnd;
}

std::size_t ReplayDevice::packetsPlayed() const
{
    std::lock_guard lock(mutex_);
    return played_;
}

} // namespace korval::host
