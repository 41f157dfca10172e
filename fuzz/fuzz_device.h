// One started camera device for a whole fuzzing run: the driver loaded on an
// emulated machine (stepped clock, so no frames flow unless asked), the
// virtual camera on its bus, every frame size offered.
#pragma once

#include "driver/Driver.h"

#include "camera/camera_on_bus.h"
#include "host/kernel/platform.h"
#include "host/streamclass/stream_class.h"

#include <cstdlib>
#include <memory>

namespace korval::fuzz {

inline const char* const kParameters = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";

struct FuzzDevice {
    host::Platform platform{host::PlatformOptions{{}, host::ClockMode::Stepped}};
    DRIVER_OBJECT driverObject{};
    UNICODE_STRING registryPath{};
    camera::CameraOnBus camera;
    std::unique_ptr<host::StreamClassDevice> device;

    FuzzDevice()
    {
        platform.registry().setValue(kParameters, "A_64", host::RegistryValue::dword(0x00432105));
        platform.registry().createKey(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL");
        host::DeviceOptions options;
        options.leakCheckTag = std::nullopt;
        if (DriverEntry(&driverObject, &registryPath) != STATUS_SUCCESS) {
            std::abort();
        }
        device = host::StreamClassDevice::add(&driverObject, camera.deviceObject(), nullptr, options);
        if (device->start() != STATUS_SUCCESS) {
            std::abort();
        }
    }
};

// Kept for the process's life.
inline FuzzDevice& fuzzDevice()
{
    static FuzzDevice* device = new FuzzDevice;
    return *device;
}

} // namespace korval::fuzz
