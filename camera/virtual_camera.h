// The virtual camera on the emulated USB bus: descriptors, the register file
// behind the vendor requests, the sensor and its video stream on the
// isochronous endpoint, and the snapshot button on the status endpoint.
// Tests and the tool drive it (scenes, button, injected faults) from their own
// threads while the bus calls it from the bus thread: one lock guards it all.
#pragma once

#include "camera/device/descriptors.h"
#include "camera/device/register_file.h"
#include "camera/device/stream_garbage.h"
#include "camera/device/video_stream.h"
#include "camera/sensor/sensor.h"
#include "host/usb/usb_device.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace korval::camera {

// Vendor requests to interface 0.
constexpr std::uint8_t kRequestWriteRegister = 0x00;
constexpr std::uint8_t kRequestWriteBlock = 0x01;
constexpr std::uint8_t kRequestReadRegister = 0x03;

struct CameraOptions {
    DescriptorOptions descriptors;
    SensorOptions sensor;
    std::size_t fifoBytes = kDefaultFifoBytes;
    std::uint8_t orientation = 0x00; // 0xFF: mounted upside down
};

class VirtualCamera final : public host::UsbDevice {
public:
    explicit VirtualCamera(CameraOptions options = {});

    // host::UsbDevice
    std::vector<std::uint8_t> descriptor(std::uint8_t type, std::uint8_t index) override;
    host::ControlResult control(const host::SetupPacket& setup, std::uint8_t* data) override;
    void configured(bool on) override;
    void alternateSelected(std::uint8_t interfaceNumber, std::uint8_t alternate) override;
    void startOfFrame(std::uint64_t frameNumber) override;
    std::size_t isochronousIn(std::uint8_t endpoint, std::uint8_t* buffer,
                              std::size_t capacity) override;
    std::optional<std::size_t> interruptIn(std::uint8_t endpoint, std::uint8_t* buffer,
                                           std::size_t capacity) override;

    // Scene and sensor
    void setScene(std::unique_ptr<Scene> scene);
    void setSensorOptions(const SensorOptions& options);
    SensorOptions sensorOptions() const;
    void setOrientation(std::uint8_t value);

    // The snapshot button: each press is one 2-byte report on the status pipe.
    void pressSnapshotButton();
    int pendingButtonReports() const;

    // Injected faults, each for the next occurrence.
    void spoilNextFrame();
    void corruptNextMarker();
    void shortenNextRegisterRead(); // answers 1 byte instead of 2
    // Garbage in the isochronous stream until set back to None.
    void setStreamGarbage(StreamGarbage kind, std::uint32_t seed = 1);

    // Observation
    std::uint8_t writtenRegister(unsigned address) const;
    std::uint8_t activeRegister(unsigned address) const;
    SensorSettings activeSettings() const;
    std::uint32_t batchesTaken() const;
    bool videoEnabled() const;
    bool indicatorOn() const;
    std::uint8_t currentAlternate() const;
    std::optional<FrameStats> lastFrame() const;
    std::uint64_t framesStarted() const;

private:
    host::ControlResult vendorRequest(const host::SetupPacket& setup, std::uint8_t* data);
    bool streaming() const;

    mutable std::mutex mutex_;
    CameraOptions options_;
    std::vector<std::uint8_t> deviceDescriptor_;
    std::vector<std::uint8_t> configurationDescriptor_;
    RegisterFile registers_;
    Sensor sensor_;
    VideoStream video_;
    bool configured_ = false;
    std::uint8_t alternate_ = 0;
    int buttonReports_ = 0;
    bool shortRead_ = false;
    GarbageInjector garbage_;
};

} // namespace korval::camera
