#include "camera/virtual_camera.h"

#include <algorithm>

namespace korval::camera {
namespace {

constexpr std::uint8_t kRequestTypeMask = 0x60;
constexpr std::uint8_t kRequestTypeVendor = 0x40;
constexpr std::uint8_t kButtonReport[2] = {0x01, 0x00};

host::ControlResult stall() { return {host::ControlOutcome::Stall, 0}; }
host::ControlResult ack(std::size_t bytes) { return {host::ControlOutcome::Ack, bytes}; }

} // namespace

VirtualCamera::VirtualCamera(CameraOptions options)
    : options_(options),
      deviceDescriptor_(buildDeviceDescriptor()),
      configurationDescriptor_(buildConfigurationDescriptor(options.descriptors)),
      sensor_(options.sensor),
      video_(sensor_, registers_)
{
    registers_.setOrientation(options.orientation);
    video_.setFifoBytes(options.fifoBytes);
    sensor_.setScene(makeColourChart());
}

std::vector<std::uint8_t> VirtualCamera::descriptor(std::uint8_t type, std::uint8_t index)
{
    std::lock_guard lock(mutex_);
    if (index != 0) {
        return {};
    }
    if (type == 0x01) {
        return deviceDescriptor_;
    }
    if (type == 0x02) {
        return configurationDescriptor_;
    }
    return {};
}

host::ControlResult VirtualCamera::control(const host::SetupPacket& setup, std::uint8_t* data)
{
    std::lock_guard lock(mutex_);
    if ((setup.requestType & kRequestTypeMask) != kRequestTypeVendor) {
        return stall();
    }
    return vendorRequest(setup, data);
}

// Request 0x00 writes Value to register Index; 0x01 writes the data stage to
// the registers from Index on; 0x03 answers register Index in 2 bytes.
host::ControlResult VirtualCamera::vendorRequest(const host::SetupPacket& setup, std::uint8_t* data)
{
    switch (setup.request) {
    case kRequestWriteRegister:
        if (setup.deviceToHost() || !registers_.write(setup.index, setup.value & 0xFF)) {
            return stall();
        }
        return ack(0);
    case kRequestWriteBlock: {
        if (setup.deviceToHost() || setup.length < 2 || setup.length > 8 || data == nullptr) {
            return stall();
        }
        for (unsigned i = 0; i < setup.length; ++i) {
            if (!RegisterFile::writable(setup.index + i)) {
                return stall();
            }
        }
        for (unsigned i = 0; i < setup.length; ++i) {
            registers_.write(setup.index + i, data[i]);
        }
        return ack(setup.length);
    }
    case kRequestReadRegister: {
        std::uint8_t value = 0;
        if (!setup.deviceToHost() || data == nullptr || !registers_.read(setup.index, value)) {
            return stall();
        }
        const std::uint8_t answer[2] = {value, 0x00};
        std::size_t bytes = std::min<std::size_t>(setup.length, shortRead_ ? 1 : 2);
        shortRead_ = false;
        std::copy(answer, answer + bytes, data);
        return ack(bytes);
    }
    default:
        return stall();
    }
}

void VirtualCamera::configured(bool on)
{
    std::lock_guard lock(mutex_);
    configured_ = on;
    alternate_ = 0;
    video_.setPacketSize(0);
}

void VirtualCamera::alternateSelected(std::uint8_t interfaceNumber, std::uint8_t alternate)
{
    std::lock_guard lock(mutex_);
    if (interfaceNumber != 0) {
        return;
    }
    alternate_ = alternate;
    video_.setPacketSize(videoPacketSize(alternate));
}

bool VirtualCamera::streaming() const
{
    return configured_ && videoPacketSize(alternate_) > 0 && registers_.videoEnabled();
}

void VirtualCamera::startOfFrame(std::uint64_t frameNumber)
{
    std::lock_guard lock(mutex_);
    if (!streaming()) {
        if (video_.running()) {
            video_.stop();
        }
        return;
    }
    video_.advance(static_cast<double>(frameNumber) / 1000.0);
}

std::size_t VirtualCamera::isochronousIn(std::uint8_t endpoint, std::uint8_t* buffer,
                                         std::size_t capacity)
{
    std::lock_guard lock(mutex_);
    if (endpoint != kVideoEndpointAddress || !streaming()) {
        return 0;
    }
    const std::size_t packetCapacity = std::min<std::size_t>(capacity, videoPacketSize(alternate_));
    if (garbage_.inventsPacket()) {
        return garbage_.invent(buffer, packetCapacity);
    }
    const std::size_t bytes = video_.takePacket(buffer, packetCapacity);
    return garbage_.spoil(buffer, bytes, packetCapacity);
}

std::optional<std::size_t> VirtualCamera::interruptIn(std::uint8_t endpoint, std::uint8_t* buffer,
                                                      std::size_t capacity)
{
    std::lock_guard lock(mutex_);
    if (endpoint != kStatusEndpointAddress || buttonReports_ == 0 || !configured_) {
        return std::nullopt;
    }
    --buttonReports_;
    const std::size_t bytes = std::min<std::size_t>(capacity, sizeof kButtonReport);
    if (buffer != nullptr) {
        std::copy(kButtonReport, kButtonReport + bytes, buffer);
    }
    return bytes;
}

void VirtualCamera::setScene(std::unique_ptr<Scene> scene)
{
    std::lock_guard lock(mutex_);
    sensor_.setScene(std::move(scene));
}

void VirtualCamera::setSensorOptions(const SensorOptions& options)
{
    std::lock_guard lock(mutex_);
    sensor_.setOptions(options);
}

SensorOptions VirtualCamera::sensorOptions() const
{
    std::lock_guard lock(mutex_);
    return sensor_.options();
}

void VirtualCamera::setOrientation(std::uint8_t value)
{
    std::lock_guard lock(mutex_);
    registers_.setOrientation(value);
}

void VirtualCamera::pressSnapshotButton()
{
    std::lock_guard lock(mutex_);
    ++buttonReports_;
}

int VirtualCamera::pendingButtonReports() const
{
    std::lock_guard lock(mutex_);
    return buttonReports_;
}

void VirtualCamera::spoilNextFrame()
{
    std::lock_guard lock(mutex_);
    video_.spoilNextFrame();
}

void VirtualCamera::corruptNextMarker()
{
    std::lock_guard lock(mutex_);
    video_.corruptNextMarker();
}

void VirtualCamera::setStreamGarbage(StreamGarbage kind, std::uint32_t seed)
{
    std::lock_guard lock(mutex_);
    garbage_.set(kind, seed);
}

void VirtualCamera::shortenNextRegisterRead()
{
    std::lock_guard lock(mutex_);
    shortRead_ = true;
}

std::uint8_t VirtualCamera::writtenRegister(unsigned address) const
{
    std::lock_guard lock(mutex_);
    return registers_.written(address);
}

std::uint8_t VirtualCamera::activeRegister(unsigned address) const
{
    std::lock_guard lock(mutex_);
    return registers_.active(address);
}

SensorSettings VirtualCamera::activeSettings() const
{
    std::lock_guard lock(mutex_);
    return registers_.settings();
}

std::uint32_t VirtualCamera::batchesTaken() const
{
    std::lock_guard lock(mutex_);
    return registers_.batchesTaken();
}

bool VirtualCamera::videoEnabled() const
{
    std::lock_guard lock(mutex_);
    return registers_.videoEnabled();
}

bool VirtualCamera::indicatorOn() const
{
    std::lock_guard lock(mutex_);
    return registers_.indicatorOn();
}

std::uint8_t VirtualCamera::currentAlternate() const
{
    std::lock_guard lock(mutex_);
    return alternate_;
}

std::optional<FrameStats> VirtualCamera::lastFrame() const
{
    std::lock_guard lock(mutex_);
    return video_.lastFrame();
}

std::uint64_t VirtualCamera::framesStarted() const
{
    std::lock_guard lock(mutex_);
    return video_.framesStarted();
}

} // namespace korval::camera
