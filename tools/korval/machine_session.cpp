#include "tools/korval/machine_session.h"

#include "driver/Driver.h"
#include "host/kernel/registry.h"
#include "tools/korval/registry_defaults.h"

#include <atomic>
#include <cstdio>
#include <system_error>
#include <unistd.h>

namespace korval::tools {
namespace {

std::filesystem::path freshTemporaryDirectory()
{
    static std::atomic<int> counter{0};
    return std::filesystem::temp_directory_path() /
           ("korval-machine-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
}

std::string statusText(NTSTATUS status)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    return text;
}

} // namespace

MachineSession::MachineSession(const SessionOptions& options)
{
    try {
        createPlatform(options);
        loadDriverAndStart(options);
    } catch (...) {
        shutDown();
        throw;
    }
}

MachineSession::~MachineSession()
{
    shutDown();
}

void MachineSession::shutDown()
{
    if (device_) {
        device_->remove();
        device_.reset();
    }
    if (driverLoaded_) {
        host::unloadDriver(&driverObject_);
        driverLoaded_ = false;
    }
    camera_.reset();
    platform_.reset();
    if (temporary_) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
        temporary_ = false;
    }
}

void MachineSession::createPlatform(const SessionOptions& options)
{
    directory_ = options.machine;
    if (directory_.empty()) {
        directory_ = freshTemporaryDirectory();
        temporary_ = true;
    }
    std::error_code failure;
    std::filesystem::create_directories(directory_ / "C", failure);
    if (failure) {
        throw SessionError("cannot use machine directory '" + directory_.string() + "': " + failure.message());
    }
    host::PlatformOptions platformOptions{directory_, options.clock,
                                          options.clock == host::ClockMode::Scaled ? kFastClockScale : 1.0};
    try {
        platform_ = std::make_unique<host::Platform>(platformOptions);
    } catch (const std::exception& error) {
        throw SessionError("registry file '" + (directory_ / host::Platform::kRegistryFileName).string() +
                           "': " + error.what());
    }
    installRegistryDefaults(platform_->registry());
}

void MachineSession::loadDriverAndStart(const SessionOptions& options)
{
    const NTSTATUS loaded = DriverEntry(&driverObject_, &registryPath_);
    if (!NT_SUCCESS(loaded)) {
        throw SessionError("the driver did not load: DriverEntry answered " + statusText(loaded));
    }
    driverLoaded_ = true;
    camera_ = std::make_unique<camera::CameraOnBus>(options.camera);
    device_ = host::StreamClassDevice::add(&driverObject_, camera_->deviceObject());
    const NTSTATUS started = device_->start();
    if (!NT_SUCCESS(started)) {
        throw SessionError("the camera device did not start: " + statusText(started));
    }
}

} // namespace korval::tools
