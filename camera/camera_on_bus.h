// The virtual camera plugged into its own emulated bus: what the tool and the
// driver's tests hand to the driver as its physical and lower device object.
#pragma once

#include "camera/virtual_camera.h"
#include "host/usb/usb_bus.h"

#include <memory>

namespace korval::camera {

class CameraOnBus {
public:
    explicit CameraOnBus(CameraOptions camera = {}, host::BusOptions bus = {})
        : camera_(std::make_unique<VirtualCamera>(camera)), bus_(std::make_unique<host::UsbBus>(*camera_, bus))
    {
    }
    ~CameraOnBus()
    {
        bus_.reset(); // completes what is pending before the camera goes
    }
    CameraOnBus(const CameraOnBus&) = delete;
    CameraOnBus& operator=(const CameraOnBus&) = delete;

    PDEVICE_OBJECT deviceObject() { return bus_->deviceObject(); }
    VirtualCamera& camera() { return *camera_; }
    host::UsbBus& bus() { return *bus_; }

private:
    std::unique_ptr<VirtualCamera> camera_;
    std::unique_ptr<host::UsbBus> bus_;
};

} // namespace korval::camera
