// The virtual camera on a bus whose frames the test runs, under the minimal
// test driver, on a stepped clock; no pool may be left at the end.
#pragma once

#include "camera/virtual_camera.h"
#include "host/kernel/platform.h"
#include "host/kernel/pool.h"
#include "test_usb_driver.h"

#include <gtest/gtest.h>

#include <memory>

namespace korval::host::testing {

class CameraBusFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform_ = std::make_unique<Platform>(PlatformOptions{{}, ClockMode::Stepped});
        bus_ = std::make_unique<UsbBus>(camera_, BusOptions{1200, false, 0});
        driver_ = std::make_unique<TestUsbDriver>(*bus_);
    }
    void TearDown() override
    {
        driver_.reset();
        bus_.reset();
        platform_.reset();
        checkNoPoolLeaks();
    }

    camera::VirtualCamera camera_;
    std::unique_ptr<Platform> platform_;
    std::unique_ptr<UsbBus> bus_;
    std::unique_ptr<TestUsbDriver> driver_;
};

} // namespace korval::host::testing
