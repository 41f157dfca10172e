#include "tools/korval/machine_session.h"

#include "host/kernel/registry.h"
#include "tools/korval/cli.h"
#include "tools/korval/frame_pacer.h"
#include "tools/korval/machine_lock.h"
#include "tools/korval/registry_defaults.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <sstream>
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

// The registry file is replaced through a new file beside it: the directory
// itself must take new files (a root user passes permission checks, not this).
void requireWritableDirectory(const std::filesystem::path& directory)
{
    const std::filesystem::path probe = directory / (".korval-probe-" + std::to_string(::getpid()));
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw SessionError("cannot use machine directory '" + directory.string() +
                               "': no new file can be made in it: " + std::strerror(errno),
                           kExitFile);
    }
    ::close(fd);
    ::unlink(probe.c_str());
}

std::string readWhole(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    if (!in.good() && !in.eof()) {
        throw SessionError("cannot read registry file '" + file.string() + "'", kExitFile);
    }
    return content.str();
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
    if (pacer_ != nullptr) {
        pacer_->setLockstep(false); // the driver's stop and removal need the clock to run freely
    }
    if (device_) {
        device_->remove();
        device_.reset();
    }
    if (driverLoaded_) {
        host::unloadDriver(&driverObject_);
        driverLoaded_ = false;
    }
    if (pacer_ != nullptr) {
        pacer_->stop();
        pacer_ = nullptr;
    }
    if (camera_ || bus_) {
        for (host::BusTap* tap : taps_) {
            bus().removeTap(tap);
        }
        taps_.clear();
    }
    camera_.reset();
    bus_.reset();
    replacement_.reset();
    platform_.reset();
    lock_.reset();
    if (temporary_) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
        temporary_ = false;
    }
}

void MachineSession::createPlatform(const SessionOptions& options)
{
    if (options.readOnly) {
        createReadOnlyPlatform(options);
        return;
    }
    directory_ = options.machine;
    if (directory_.empty()) {
        directory_ = freshTemporaryDirectory();
        temporary_ = true;
    }
    std::error_code failure;
    std::filesystem::create_directories(directory_ / "C", failure);
    if (failure) {
        throw SessionError("cannot use machine directory '" + directory_.string() + "': " + failure.message(),
                           kExitFile);
    }
    requireWritableDirectory(directory_);
    lock_ = std::make_unique<MachineLock>(directory_, MachineLock::Mode::Exclusive, options.wait, options.messages);
    const host::ClockMode clock = options.pacer != nullptr ? host::ClockMode::Stepped : options.clock;
    host::PlatformOptions platformOptions{directory_, clock, clock == host::ClockMode::Scaled ? kFastClockScale : 1.0};
    try {
        platform_ = std::make_unique<host::Platform>(platformOptions);
        installRegistryDefaults(platform_->registry());
    } catch (const std::exception& error) {
        throw SessionError("registry file '" + registryFile().string() + "': " + error.what(), kExitFile);
    }
    warnAboutTuning(options);
}

// The registry file is imported into a registry of the session's own, so the
// driver's writes (device start, status values) stay in memory.
void MachineSession::createReadOnlyPlatform(const SessionOptions& options)
{
    directory_ = options.machine;
    if (!directory_.empty() && std::filesystem::is_directory(directory_)) {
        lock_ = std::make_unique<MachineLock>(directory_, MachineLock::Mode::Shared, options.wait, options.messages);
    }
    const host::ClockMode clock = options.pacer != nullptr ? host::ClockMode::Stepped : options.clock;
    platform_ = std::make_unique<host::Platform>(host::PlatformOptions{{}, clock, 1.0});
    if (!directory_.empty() && std::filesystem::exists(registryFile())) {
        try {
            platform_->registry().importText(readWhole(registryFile()), registryFile().string());
        } catch (const host::RegistryFormatError& error) {
            throw SessionError(std::string("registry file: ") + error.what(), kExitFile);
        }
    }
    installRegistryDefaults(platform_->registry());
    warnAboutTuning(options);
}

void MachineSession::warnAboutTuning(const SessionOptions& options)
{
    const auto problem = tuningTableProblem(platform_->registry());
    if (!problem || options.messages == nullptr) {
        return;
    }
    *options.messages << "korval: warning: the tuning table \"A_0\" ... \"A_51\" in '" << registryFile().string()
                      << "' is not valid: " << *problem
                      << ".\n  The driver ignores it and the stored settings with it: brightness, contrast, hue, "
                         "saturation, sharpness, gamma, mirror, flip, white balance and exposure do not reach the "
                         "picture.\n  'korval settings-checksum "
                      << registryFile().string() << " --write' makes the table valid.\n";
}

// The device on its bus, with the listeners and the pacer in place before the
// driver sends its first request.
void MachineSession::plugIn(const SessionOptions& options)
{
    if (options.device) {
        replacement_ = options.device();
        bus_ = std::make_unique<host::UsbBus>(*replacement_);
    } else {
        camera_ = std::make_unique<camera::CameraOnBus>(options.camera);
    }
    taps_ = options.taps;
    if (options.pacer != nullptr) {
        taps_.push_back(options.pacer);
    }
    for (host::BusTap* tap : taps_) {
        bus().addTap(tap);
    }
    if (options.pacer != nullptr) {
        pacer_ = options.pacer;
        pacer_->start(bus());
    }
}

void MachineSession::loadDriverAndStart(const SessionOptions& options)
{
    const NTSTATUS loaded = driver_.load(&driverObject_, &registryPath_);
    if (!NT_SUCCESS(loaded)) {
        throw SessionError("the driver did not load: its entry point answered " + statusName(loaded));
    }
    driverLoaded_ = true;
    plugIn(options);
    device_ = host::StreamClassDevice::add(&driverObject_, bus().deviceObject());
    const NTSTATUS started = device_->start();
    if (!NT_SUCCESS(started)) {
        throw SessionError("the camera device did not start: " + statusName(started));
    }
}

} // namespace korval::tools
