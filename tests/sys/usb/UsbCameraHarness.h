// A device as device initialization leaves it for the USB transport: a
// platform on the stepped clock, the virtual camera on a bus paced by the
// test, a URB spy as the lower device, a DeviceContext in its fresh state and
// a CUsbCamera from the pool.
#pragma once

#include "control/SnapshotThread.h"
#include "usb/CUsbCamera.h"

#include "UrbSpy.h"
#include "camera/camera_on_bus.h"
#include "host/kernel/clock.h"
#include "host/kernel/dispatcher.h"
#include "host/kernel/platform.h"
#include "host/kernel/pool.h"

#include <gtest/gtest.h>

#include <memory>

namespace korval::testing {

constexpr LONGLONG kHalfSecond = 5000000;

class UsbCameraTest : public ::testing::Test {
protected:
    void SetUp() override { plugIn({}); }

    void TearDown() override
    {
        delete usb_;
        usb_ = nullptr;
        host::checkNoPoolLeaks(KORVAL_POOL_TAG);
        host::checkNoPoolLeaks();
    }

    // Replaces the camera (and the objects on it) by one built with these options.
    void plugIn(const camera::CameraOptions& options, std::uint32_t controlDelayFrames = 0)
    {
        delete usb_;
        usb_ = nullptr;
        spy_.reset();
        camera_.reset();
        camera_ = std::make_unique<camera::CameraOnBus>(options, host::BusOptions{1200, false, controlDelayFrames});
        spy_ = std::make_unique<UrbSpy>(camera_->deviceObject());
        device_ = std::make_unique<DeviceContext>();
        InitializeDeviceState(device_.get());
        device_->PhysicalDeviceObject = spy_->deviceObject();
        device_->RealPhysicalDeviceObject = camera_->deviceObject();
        usb_ = new CUsbCamera;
        ASSERT_NE(usb_, nullptr);
        usb_->SnapshotRoutine = SnapshotThread;
        device_->Usb = usb_;
    }

    bool openCif() { return usb_->Open(352, 288, 8, kHalfSecond, device_.get()); }

    host::UsbBus& bus() { return camera_->bus(); }
    camera::VirtualCamera& camera() { return camera_->camera(); }

    std::vector<host::UrbTraceEntry> traceOf(std::uint16_t function) const
    {
        std::vector<host::UrbTraceEntry> found;
        for (const auto& entry : camera_->bus().trace()) {
            if (entry.function == function) {
                found.push_back(entry);
            }
        }
        return found;
    }

    host::Platform platform_{host::PlatformOptions{{}, host::ClockMode::Stepped}};
    std::unique_ptr<camera::CameraOnBus> camera_;
    std::unique_ptr<UrbSpy> spy_;
    std::unique_ptr<DeviceContext> device_;
    CUsbCamera* usb_ = nullptr;
};

} // namespace korval::testing
