// A loaded driver and one device over the virtual camera on its own emulated
// bus, on the stepped clock, with the snapshot status key that a still-image
// service's installation leaves. The device is added, not started; the tests
// drive its adapter requests through the emulated stream class.
#pragma once

#include "driver/AdapterHandlers.h"
#include "base/DeviceContext.h"
#include "driver/Driver.h"
#include "base/PoolAllocator.h"
#include "usb/CUsbCamera.h"

#include "camera/camera_on_bus.h"
#include "host/kernel/platform.h"
#include "host/kernel/pool.h"
#include "host/streamclass/stream_class.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korval::lifecycle_test {

inline const char* const kStatusKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL";
inline const char* const kParametersKey = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";

class DeviceLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // As the driver's and the still-image service's installations leave them.
        platform_.registry().createKey(kStatusKey);
        platform_.registry().setValue(kParametersKey, "A_64", host::RegistryValue::dword(0x00432105));
        ASSERT_EQ(DriverEntry(&driverObject_, &registryPath_), STATUS_SUCCESS);
        plugIn({});
    }

    void TearDown() override
    {
        if (device_) {
            device_->remove();
            device_.reset();
        }
        host::unloadDriver(&driverObject_);
        platform_.checkNoHandleLeaks();
    }

    // A new device over a camera built with these options (the previous one removed).
    void plugIn(const camera::CameraOptions& options)
    {
        if (device_) {
            device_->remove();
            device_.reset();
        }
        camera_.reset();
        camera_ = std::make_unique<camera::CameraOnBus>(options);
        addDevice();
    }

    void addDevice()
    {
        if (device_) {
            device_->remove();
        }
        device_ = host::StreamClassDevice::add(&driverObject_, camera_->deviceObject());
    }

    DeviceContext& context() { return *static_cast<DeviceContext*>(device_->deviceExtension()); }
    camera::VirtualCamera& camera() { return camera_->camera(); }
    host::UsbBus& bus() { return camera_->bus(); }

    bool statusStarted() { return context().Usb != nullptr && ReadLockedFlag(&context().Usb->StatusStarted) != FALSE; }
    // A snapshot thread counts until it has fully left, a moment after
    // StopStatus saw it end.
    bool systemThreadsGone()
    {
        for (int i = 0; i < 2000 && platform_.runningSystemThreads() != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return platform_.runningSystemThreads() == 0;
    }
    bool snapshotThreadStarted() { return context().SnapshotThread != nullptr; }
    bool stopEventSignaled() { return KeReadStateEvent(&context().DeviceStopEvent) != 0; }

    std::optional<std::uint32_t> statusReport()
    {
        auto value = platform_.registry().value(kStatusKey, "StatusReport");
        return value ? value->asDword() : std::nullopt;
    }

    std::optional<host::RegistryValue> createFileName()
    {
        return platform_.registry().value(platform_.driverKeyPath(camera_->deviceObject()), "CreateFileName");
    }

    // The vendor register writes (request 0x00) the bus saw, as (register, value).
    std::vector<std::pair<int, int>> registerWrites() const
    {
        std::vector<std::pair<int, int>> writes;
        for (const auto& entry : camera_->bus().trace()) {
            if (entry.function == URB_FUNCTION_VENDOR_INTERFACE && entry.request == 0x00) {
                writes.emplace_back(entry.index, entry.value);
            }
        }
        return writes;
    }

    std::vector<std::uint16_t> blockWriteStarts() const
    {
        std::vector<std::uint16_t> starts;
        for (const auto& entry : camera_->bus().trace()) {
            if (entry.function == URB_FUNCTION_VENDOR_INTERFACE && entry.request == 0x01) {
                starts.push_back(entry.index);
            }
        }
        return starts;
    }

    static std::string narrow(const UNICODE_STRING& text)
    {
        std::string result;
        for (USHORT i = 0; i < text.Length / sizeof(WCHAR); ++i) {
            result.push_back(static_cast<char>(text.Buffer[i]));
        }
        return result;
    }

    std::size_t enabledImageInterfaces() const
    {
        std::size_t count = 0;
        for (const auto& entry : platform_.deviceInterfaces()) {
            count += entry.enabled && entry.classGuid == "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}" ? 1 : 0;
        }
        return count;
    }

    host::Platform platform_{host::PlatformOptions{{}, host::ClockMode::Stepped}};
    DRIVER_OBJECT driverObject_{};
    UNICODE_STRING registryPath_{};
    std::unique_ptr<camera::CameraOnBus> camera_;
    std::unique_ptr<host::StreamClassDevice> device_;
};

} // namespace korval::lifecycle_test
