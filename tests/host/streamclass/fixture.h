// The common set-up of the stream class tests: a platform with a stepped
// clock, the test minidriver registered, and helpers for a started device and
// an open stream.
#pragma once

#include "host/kernel/platform.h"
#include "host/streamclass/stream_class.h"
#include "test_minidriver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace korval::test {

using host::FormatBytes;
using host::StreamClassDevice;
using host::StreamClassStream;

class StreamClassTest : public ::testing::Test {
protected:
    StreamClassTest() : platform_(steppedPlatform()) {}

    static host::PlatformOptions steppedPlatform()
    {
        host::PlatformOptions platformOptions;
        platformOptions.clockMode = host::ClockMode::Stepped;
        return platformOptions;
    }

    void SetUp() override
    {
        testDriverSettings() = {};
        ASSERT_EQ(TestDriverEntry(testDriverObject()), STATUS_SUCCESS);
    }
    void TearDown() override { testDriverSettings() = {}; }

    static host::DeviceOptions options()
    {
        host::DeviceOptions options;
        options.leakCheckTag = kTestPoolTag;
        options.patience = std::chrono::seconds(20);
        return options;
    }

    std::unique_ptr<StreamClassDevice> addDevice(host::DeviceOptions deviceOptions = options())
    {
        return StreamClassDevice::add(testDriverObject(), &pdo_, nullptr, deviceOptions);
    }

    std::unique_ptr<StreamClassDevice> startedDevice(host::DeviceOptions deviceOptions = options())
    {
        auto device = addDevice(deviceOptions);
        EXPECT_EQ(device->start(), STATUS_SUCCESS);
        return device;
    }

    static FormatBytes rgbFormat(StreamClassDevice& device)
    {
        auto answer = device.dataIntersection(0, FormatBytes::of(testRgbRange()));
        EXPECT_EQ(answer.status, STATUS_SUCCESS);
        return answer.format;
    }

    static std::unique_ptr<StreamClassStream> openRgb(StreamClassDevice& device)
    {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto stream = device.openStream(0, rgbFormat(device), &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        return stream;
    }

    static TestDevice& driverState(StreamClassDevice& device)
    {
        return *testExtension(device.deviceExtension())->Device;
    }

    // Waits (real time) until the test driver holds `count` reads.
    static bool waitForHeldReads(StreamClassDevice& device, std::size_t count)
    {
        for (int i = 0; i < 2000; ++i) {
            if (TestDriverHeldReads(device.deviceExtension()) >= count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    host::Platform platform_;
    DEVICE_OBJECT pdo_{};
    DEVICE_OBJECT realPdo_{};
};

} // namespace korval::test
