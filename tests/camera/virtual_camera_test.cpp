// The camera's side of the USB contract: descriptors, vendor requests on its
// registers, and the snapshot button on the status endpoint.
#include "camera_harness.h"

#include "platform/Usb.h"

#include <gtest/gtest.h>

#include <cstring>

namespace korval::camera::testing {
namespace {

TEST(CameraDescriptors, NineAlternateSettingsOfSixEndpointsWithGrowingVideoPackets)
{
    VirtualCamera camera;
    const auto device = camera.descriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0);
    ASSERT_EQ(device.size(), sizeof(USB_DEVICE_DESCRIPTOR));
    USB_DEVICE_DESCRIPTOR deviceDescriptor;
    std::memcpy(&deviceDescriptor, device.data(), sizeof deviceDescriptor);
    EXPECT_EQ(deviceDescriptor.bcdUSB, 0x0110);
    EXPECT_EQ(deviceDescriptor.bNumConfigurations, 1);

    const auto config = camera.descriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0);
    ASSERT_GE(config.size(), 9U);
    EXPECT_EQ(config[2] | (config[3] << 8), static_cast<int>(config.size()));
    EXPECT_EQ(config[8], 250); // bMaxPower
    int alternates = 0;
    int lastPacket = -1;
    for (std::size_t at = 9; at < config.size(); at += config[at]) {
        if (config[at + 1] == USB_INTERFACE_DESCRIPTOR_TYPE) {
            EXPECT_EQ(config[at + 3], alternates);
            EXPECT_EQ(config[at + 4], 6);
            ++alternates;
        } else if (config[at + 1] == USB_ENDPOINT_DESCRIPTOR_TYPE && config[at + 2] == kVideoEndpointAddress) {
            const int packet = config[at + 4] | (config[at + 5] << 8);
            EXPECT_GT(packet, lastPacket);
            lastPacket = packet;
        }
    }
    EXPECT_EQ(alternates, 9);
    EXPECT_EQ(lastPacket, 1023);
    EXPECT_EQ(videoPacketSize(0), 0);
    EXPECT_TRUE(camera.descriptor(USB_STRING_DESCRIPTOR_TYPE, 0).empty());

    CameraOptions options;
    options.descriptors.maxPower = 100;
    EXPECT_EQ(VirtualCamera(options).descriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0)[8], 100);
}

TEST(CameraRegisters, ReadAnswersExactlyTwoBytesAndCanBeShortened)
{
    CameraHarness harness;
    ASSERT_TRUE(harness.writeRegister(0x0E, 0x11));
    std::vector<std::uint8_t> answer;
    ASSERT_TRUE(harness.readRegister(0x0E, answer, 8));
    ASSERT_EQ(answer.size(), 2U);
    EXPECT_EQ(answer[0], 0x11);
    harness.camera.shortenNextRegisterRead();
    ASSERT_TRUE(harness.readRegister(0x0E, answer));
    EXPECT_EQ(answer.size(), 1U);
    ASSERT_TRUE(harness.readRegister(0x0E, answer));
    EXPECT_EQ(answer.size(), 2U);
    harness.camera.setOrientation(0xFF);
    ASSERT_TRUE(harness.readRegister(0x00, answer));
    EXPECT_EQ(answer[0], 0xFF);
}

TEST(CameraRegisters, BlockWritesTakeTwoToEightRegistersThatExist)
{
    CameraHarness harness;
    std::uint8_t data[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    auto block = [&](std::uint16_t first, std::uint16_t count) {
        host::SetupPacket setup{0x41, kRequestWriteBlock, 0, first, count};
        return harness.camera.control(setup, data).outcome == host::ControlOutcome::Ack;
    };
    EXPECT_TRUE(block(0x42, 8));
    EXPECT_EQ(harness.camera.writtenRegister(0x49), 8);
    EXPECT_FALSE(block(0x02, 1));
    EXPECT_FALSE(block(0x02, 9));
    EXPECT_FALSE(block(0x1A, 4)); // runs past 0x1B into nothing
    EXPECT_FALSE(block(0x48, 5));
    EXPECT_TRUE(block(0x48, 4));
    EXPECT_FALSE(harness.writeRegister(0x30, 1));
    std::vector<std::uint8_t> answer;
    EXPECT_FALSE(harness.readRegister(0x4C, answer));
    host::SetupPacket standard{0x01, 0x0B, 0, 0, 0};
    EXPECT_EQ(harness.camera.control(standard, nullptr).outcome, host::ControlOutcome::Stall);
}

TEST(CameraStatus, EachButtonPressIsOneReport)
{
    CameraHarness harness;
    std::uint8_t report[8] = {};
    EXPECT_FALSE(harness.camera.interruptIn(kStatusEndpointAddress, report, 2).has_value());
    harness.camera.pressSnapshotButton();
    harness.camera.pressSnapshotButton();
    EXPECT_EQ(harness.camera.interruptIn(kStatusEndpointAddress, report, 2), std::optional<std::size_t>(2));
    EXPECT_EQ(harness.camera.interruptIn(kStatusEndpointAddress, report, 2), std::optional<std::size_t>(2));
    EXPECT_FALSE(harness.camera.interruptIn(kStatusEndpointAddress, report, 2).has_value());
    EXPECT_FALSE(harness.camera.interruptIn(kVideoEndpointAddress, report, 2).has_value());
}

TEST(CameraIndicator, RegisterOneBitOneDrivesIt)
{
    CameraHarness harness;
    harness.writeRegister(0x41, 0x02);
    EXPECT_TRUE(harness.camera.indicatorOn());
    harness.writeRegister(0x41, 0x00);
    EXPECT_FALSE(harness.camera.indicatorOn());
}

} // namespace
} // namespace korval::camera::testing
