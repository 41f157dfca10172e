// Uninitialization: everything the device made is freed once, after a plain
// start, after surprise removal, while powered down, and again with nothing
// left to free.
#include "DeviceLifecycleFixture.h"

namespace korval::lifecycle_test {
namespace {

class DeviceUninitializeTest : public DeviceLifecycleTest {
protected:
    host::SrbResult uninitialize()
    {
        return device_->sendAdapterSrb(SRB_UNINITIALIZE_DEVICE, [](HW_STREAM_REQUEST_BLOCK&) {});
    }

    void expectEverythingReleased()
    {
        DeviceContext& device = context();
        EXPECT_EQ(device.Usb, nullptr);
        EXPECT_EQ(device.Camera, nullptr);
        EXPECT_EQ(device.Stream, nullptr);
        EXPECT_EQ(device.StillImageBuffer, nullptr);
        EXPECT_EQ(device.StillBgrBuffer, nullptr);
        EXPECT_EQ(device.InterfaceName.Buffer, nullptr);
        EXPECT_FALSE(GetDevicePresent(&device));
        EXPECT_FALSE(GetCaptureOpen(&device));
        EXPECT_TRUE(stopEventSignaled());
        EXPECT_EQ(enabledImageInterfaces(), 0u);
        EXPECT_TRUE(systemThreadsGone());
        EXPECT_FALSE(bus().configured());
        host::checkNoPoolLeaks(KORVAL_POOL_TAG);
        host::checkNoPoolLeaks();
    }
};

TEST_F(DeviceUninitializeTest, StartedDeviceReleasesEverything)
{
    ASSERT_EQ(device_->start(), STATUS_SUCCESS);
    EXPECT_EQ(uninitialize().status, STATUS_SUCCESS);
    expectEverythingReleased();
    EXPECT_EQ(bus().pendingRequests(), 0u);
}

TEST_F(DeviceUninitializeTest, AfterSurpriseRemovalFreesOnceAndASecondFindsNothing)
{
    ASSERT_EQ(device_->start(), STATUS_SUCCESS);
    bus().unplug();
    device_->surpriseRemove();
    DeviceContext& device = context();
    EXPECT_FALSE(GetDevicePresent(&device));
    EXPECT_TRUE(stopEventSignaled());
    EXPECT_NE(device.Usb, nullptr); // removal only signals; the objects stay until uninitialize
    EXPECT_EQ(uninitialize().status, STATUS_SUCCESS);
    expectEverythingReleased();
    const auto before = host::poolCounters();
    EXPECT_EQ(uninitialize().status, STATUS_SUCCESS);
    EXPECT_EQ(host::poolCounters().frees, before.frees);
}

TEST_F(DeviceUninitializeTest, UnplugWhileStreamingThenRemovalReleasesEverything)
{
    platform_.registry().setValue(kParametersKey, "A_111", host::RegistryValue::dword(1));
    ASSERT_EQ(device_->start(), STATUS_SUCCESS);
    const auto formats = device_->streamFormats(0);
    ASSERT_FALSE(formats.empty());
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto stream = device_->openStream(0, device_->dataIntersection(0, formats.back()).format, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        ASSERT_EQ(stream->setState(state), STATUS_SUCCESS);
    }
    ASSERT_TRUE(ReadLockedFlag(&context().Usb->VideoStarted));
    bus().unplug();
    device_->surpriseRemove();
    EXPECT_NE(context().Stream, nullptr);
    device_->remove(); // closes the stream, then uninitializes
    expectEverythingReleased();
}

TEST_F(DeviceUninitializeTest, WhilePoweredDownReleasesEverything)
{
    ASSERT_EQ(device_->start(), STATUS_SUCCESS);
    ASSERT_EQ(device_->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(uninitialize().status, STATUS_SUCCESS);
    expectEverythingReleased();
}

TEST_F(DeviceUninitializeTest, AfterAFailedStartReleasesTheObjects)
{
    platform_.failNextCalls("IoOpenDeviceRegistryKey", STATUS_ACCESS_DENIED);
    ASSERT_EQ(device_->start(), STATUS_ACCESS_DENIED);
    EXPECT_EQ(uninitialize().status, STATUS_SUCCESS);
    expectEverythingReleased();
}

TEST_F(DeviceUninitializeTest, StopAndStartAgainGivesAWorkingDevice)
{
    ASSERT_EQ(device_->start(), STATUS_SUCCESS);
    ASSERT_EQ(device_->stop(), STATUS_SUCCESS);
    expectEverythingReleased();
    ASSERT_EQ(device_->start(), STATUS_SUCCESS);
    EXPECT_TRUE(GetUsbConfigured(&context()));
    EXPECT_TRUE(statusStarted());
    EXPECT_EQ(enabledImageInterfaces(), 1u);
    EXPECT_EQ(platform_.deviceInterfaces().size(), 1u); // registered again under the same link
}

TEST(DeviceUninitialize, WithoutDeviceExtensionSucceedsAndTouchesNothing)
{
    HW_STREAM_REQUEST_BLOCK srb{};
    EXPECT_EQ(UninitializeDevice(nullptr), STATUS_SUCCESS);
    EXPECT_EQ(UninitializeDevice(&srb), STATUS_SUCCESS);
}

} // namespace
} // namespace korval::lifecycle_test
