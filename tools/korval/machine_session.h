// One emulated machine with the driver loaded and the virtual camera plugged
// in and started: what every subcommand that talks to the device needs. The
// machine directory holds registry.reg and the C: drive; without one given, a
// temporary directory is used and removed afterwards.
#pragma once

#include "camera/camera_on_bus.h"
#include "host/kernel/platform.h"
#include "host/streamclass/stream_class.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace korval::tools {

// How much faster than real time the fast clock runs the machine.
constexpr double kFastClockScale = 4.0;

struct SessionOptions {
    std::filesystem::path machine;
    host::ClockMode clock = host::ClockMode::Real;
    camera::CameraOptions camera;
};

class SessionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class MachineSession {
public:
    // Throws SessionError with a message for the user when the machine or the
    // device cannot be brought up.
    explicit MachineSession(const SessionOptions& options);
    ~MachineSession(); // removes the device and unloads the driver
    MachineSession(const MachineSession&) = delete;
    MachineSession& operator=(const MachineSession&) = delete;

    host::Platform& platform() { return *platform_; }
    host::StreamClassDevice& device() { return *device_; }
    camera::VirtualCamera& camera() { return camera_->camera(); }
    const std::filesystem::path& machineDirectory() const { return directory_; }

private:
    void createPlatform(const SessionOptions& options);
    void loadDriverAndStart(const SessionOptions& options);
    void shutDown();

    std::filesystem::path directory_;
    bool temporary_ = false;
    std::unique_ptr<host::Platform> platform_;
    DRIVER_OBJECT driverObject_{};
    UNICODE_STRING registryPath_{};
    bool driverLoaded_ = false;
    std::unique_ptr<camera::CameraOnBus> camera_;
    std::unique_ptr<host::StreamClassDevice> device_;
};

} // namespace korval::tools
