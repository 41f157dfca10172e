// One emulated machine with the driver loaded and the virtual camera plugged
// in and started: what every subcommand that talks to the device needs. The
// machine directory holds registry.reg and the C: drive; without one given, a
// temporary directory is used and removed afterwards.
#pragma once

#include "camera/camera_on_bus.h"
#include "host/kernel/platform.h"
#include "host/streamclass/stream_class.h"
#include "tools/korval/driver_choice.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

namespace korval::tools {

class FramePacer;

// How much faster than real time the fast clock runs the machine.
constexpr double kFastClockScale = 4.0;

struct SessionOptions {
    std::filesystem::path machine;
    host::ClockMode clock = host::ClockMode::Real;
    camera::CameraOptions camera;
    // The registry file is read and never written (listings); the machine
    // directory is then neither created nor changed.
    bool readOnly = false;
    // Wait while another korval uses the machine directory, or refuse at once.
    bool wait = true;
    // Warnings (an invalid tuning table) and the notice of a wait; none when null.
    std::ostream* messages = nullptr;
    // A device plugged in instead of the virtual camera (a recording played
    // back in its place); null: the virtual camera.
    std::function<std::unique_ptr<host::UsbDevice>()> device = {};
    // Listeners on the bus from the moment the device is plugged in.
    std::vector<host::BusTap*> taps = {};
    // Set: the clock is stepped by this pacer (`clock` is then not used).
    FramePacer* pacer = nullptr;
};

class SessionError : public std::runtime_error {
public:
    explicit SessionError(const std::string& message, int exitCode = 1)
        : std::runtime_error(message), exitCode_(exitCode)
    {
    }
    int exitCode() const { return exitCode_; } // one of ExitCode (cli.h)

private:
    int exitCode_;
};

class MachineLock;

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
    const DriverLoader& driver() const { return driver_; }
    // The virtual camera; only in a session without a replacement device.
    camera::VirtualCamera& camera() { return camera_->camera(); }
    camera::VirtualCamera* virtualCamera() { return camera_ ? &camera_->camera() : nullptr; }
    host::UsbBus& bus() { return camera_ ? camera_->bus() : *bus_; }
    const std::filesystem::path& machineDirectory() const { return directory_; }
    std::filesystem::path registryFile() const { return directory_ / host::Platform::kRegistryFileName; }

private:
    void createPlatform(const SessionOptions& options);
    void createReadOnlyPlatform(const SessionOptions& options);
    void warnAboutTuning(const SessionOptions& options);
    void loadDriverAndStart(const SessionOptions& options);
    void plugIn(const SessionOptions& options);
    void shutDown();

    std::filesystem::path directory_;
    bool temporary_ = false;
    std::unique_ptr<MachineLock> lock_;
    std::unique_ptr<host::Platform> platform_;
    DriverLoader driver_; // outlives the driver object: an image stays mapped until unloaded
    DRIVER_OBJECT driverObject_{};
    UNICODE_STRING registryPath_{};
    bool driverLoaded_ = false;
    std::unique_ptr<camera::CameraOnBus> camera_;
    std::unique_ptr<host::UsbDevice> replacement_; // on bus_, when not the virtual camera
    std::unique_ptr<host::UsbBus> bus_;
    std::vector<host::BusTap*> taps_;
    FramePacer* pacer_ = nullptr;
    std::unique_ptr<host::StreamClassDevice> device_;
};

} // namespace korval::tools
