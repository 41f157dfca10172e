// The emulated machine a test or the tool runs the driver on: one object per
// test, owning the registry, the C: drive inside a machine directory, the
// handle table, device interfaces, the DPC processor and system threads.
// The kernel's C entry points act on the current instance.
#pragma once

#include "host/kernel/clock.h"
#include "host/kernel/registry.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korval::host {

struct DeviceInterface {
    std::string symbolicLink;  // "\??\ROOT#IMAGE#0000#{6bdd1fc6-810f-11d0-bec7-08002be2092f}"
    std::string classGuid;     // "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"
    std::string referenceString;
    const void* physicalDeviceObject = nullptr;
    bool enabled = false;
};

struct PlatformOptions {
    // Empty: a registry in memory only, and every file access refused.
    std::filesystem::path machineDirectory;
    ClockMode clockMode = ClockMode::Real;
    double clockScale = 1.0;
};

class Platform {
public:
    static constexpr const char* kRegistryFileName = "registry.reg";

    explicit Platform(PlatformOptions options = {}); // throws RegistryFormatError on a bad registry file
    ~Platform();                                     // flushes DPCs, waits for system threads
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    // The instance the kernel calls act on; one is created on first use when
    // none exists (in memory, real-time clock).
    static Platform& current();

    Registry& registry() { return registry_; }
    const std::filesystem::path& machineDirectory() const { return options_.machineDirectory; }

    // Where a Windows path ("C:\StiImg.dat", "\DosDevices\C:\x") lives on the host;
    // empty when the path is outside the machine's drives or malformed.
    std::filesystem::path hostPath(std::string_view windowsPath) const;

    // IoIsWdmVersionAvailable answers true up to this version (default 1.20;
    // major 0 makes no 1.x version available).
    void setWdmVersion(std::uint8_t major, std::uint8_t minor);

    // Plug and Play identity of a physical device object: its instance id
    // names the device key, the driver key and its interface links.
    void setDeviceInstance(const void* physicalDeviceObject, std::string instanceId);
    std::string driverKeyPath(const void* physicalDeviceObject);
    std::string deviceKeyPath(const void* physicalDeviceObject);
    std::vector<DeviceInterface> deviceInterfaces() const;

    // Makes the next `count` calls of a kernel function (by its Windows name:
    // "IoOpenDeviceRegistryKey", "IoRegisterDeviceInterface", "ZwCreateFile",
    // "PsCreateSystemThread", "RtlWriteRegistryValue" ...) fail with `status`.
    void failNextCalls(std::string_view function, std::int32_t status, int count = 1);

    std::size_t openHandleCount() const;
    void checkNoHandleLeaks() const; // bug check naming the open handles
    std::size_t runningSystemThreads() const; // a thread counts until it has fully left, after its object is signalled

    // Internal state of the emulated kernel (defined in the implementation).
    struct State;
    State& state() { return *state_; }

private:
    PlatformOptions options_;
    Registry registry_;
    std::unique_ptr<State> state_;
    Platform* previous_ = nullptr; // the current instance before this one
};

} // namespace korval::host
