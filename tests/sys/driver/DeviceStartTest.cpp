// Device initialization and initialization complete through the stream class,
// with the virtual camera: every step's effect, each allocation failure, a
// camera the driver cannot configure, and failures of the driver key and the
// still-image interface.
#include "DeviceLifecycleFixture.h"

#include "stream/StreamContext.h"
#include "usb/CCameraRegisters.h"

namespace korval::lifecycle_test {
namespace {

TEST_F(DeviceLifecycleTest, StartCreatesObjectsConfiguresTheCameraAndRegistersTheStillInterface)
{
    platform_.registry().setValue(kStatusKey, "StatusReport", host::RegistryValue::dword(0x403));
    ASSERT_EQ(device_->start(), STATUS_SUCCESS);
    DeviceContext& device = context();

    EXPECT_EQ(device.PhysicalDeviceObject, camera_->deviceObject());
    EXPECT_EQ(device.RealPhysicalDeviceObject, camera_->deviceObject());
    EXPECT_EQ(device.ClassDeviceObject, device_->classDeviceObject());
    EXPECT_EQ(device_->streamHeader().NumberOfStreams, 1u); // the class read the descriptor of the size set
    ASSERT_NE(device.Usb, nullptr);
    ASSERT_NE(device.Camera, nullptr);
    ASSERT_NE(device.Stream, nullptr);
    ASSERT_NE(device.StillImageBuffer, nullptr);
    ASSERT_NE(device.StillBgrBuffer, nullptr);

    EXPECT_EQ(GetDevicePowerState(&device), ULONG(PowerDeviceD0));
    EXPECT_TRUE(GetDevicePresent(&device));
    EXPECT_FALSE(stopEventSignaled());
    EXPECT_FALSE(GetCaptureOpen(&device));
    EXPECT_EQ(device.SettingKvdsn, 0xFFFFFFFFu);

    EXPECT_EQ(statusReport(), 0u);

    // Configured at alternate setting 0, registers bound, idle programming.
    EXPECT_TRUE(GetUsbConfigured(&device));
    EXPECT_TRUE(GetRegistersReady(&device));
    EXPECT_TRUE(bus().configured());
    EXPECT_EQ(bus().currentAlternate(), 0);
    EXPECT_EQ(device.Usb->CurrentAlternate, 0);
    const std::vector<std::pair<int, int>> idle = {{0x41, 0x00}, {0x0F, 0x00}, {0x11, 0x30}};
    EXPECT_EQ(registerWrites(), idle); // bus power 250: the indicator bit stays clear when closed
    EXPECT_EQ(device.Camera->RegisterImage[0x0F], 0x00);
    EXPECT_EQ(device.Camera->RegisterImage[0x11], 0x30);
    EXPECT_EQ(device.Camera->Field[26], 0u); // decoded from the new 0x11
    EXPECT_EQ(device.Camera->Field[27], 1u);

    // Status channel and snapshot thread.
    EXPECT_TRUE(statusStarted());
    EXPECT_TRUE(snapshotThreadStarted());

    // "CreateFileName" = "USB 1.1" with its terminator.
    const auto name = createFileName();
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(name->type, std::uint32_t(REG_SZ));
    const std::vector<std::uint8_t> usb11 = {'U', 0, 'S', 0, 'B', 0, ' ', 0, '1', 0, '.', 0, '1', 0, 0, 0};
    EXPECT_EQ(name->data, usb11);

    // The image interface, registered on the physical device and enabled.
    ASSERT_NE(device.InterfaceName.Buffer, nullptr);
    const auto interfaces = platform_.deviceInterfaces();
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_EQ(interfaces[0].classGuid, "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}");
    EXPECT_EQ(interfaces[0].physicalDeviceObject, camera_->deviceObject());
    EXPECT_TRUE(interfaces[0].enabled);
    EXPECT_EQ(interfaces[0].symbolicLink, narrow(device.InterfaceName));
}

TEST_F(DeviceLifecycleTest, EachAllocationFailureInInitializationLeavesNothingAndTheNextStartWorks)
{
    int failures = 0;
    for (std::uint64_t nth = 1;; ++nth) {
        addDevice();
        host::failPoolAllocation(nth);
        const NTSTATUS status = device_->start();
        host::failPoolAllocation(0);
        if (status != STATUS_INSUFFICIENT_RESOURCES) {
            break;
        }
        ++failures;
        const DeviceContext& device = context();
        EXPECT_EQ(device.Usb, nullptr) << nth;
        EXPECT_EQ(device.Camera, nullptr) << nth;
        EXPECT_EQ(device.Stream, nullptr) << nth;
        EXPECT_EQ(device.StillImageBuffer, nullptr) << nth;
        EXPECT_EQ(device.StillBgrBuffer, nullptr) << nth;
        EXPECT_EQ(host::poolCounters(KORVAL_POOL_TAG).outstandingBlocks, 0u) << nth;
        EXPECT_FALSE(bus().configured()) << nth;
        // The same device starts once pool is there again.
        EXPECT_EQ(device_->start(), STATUS_SUCCESS) << nth;
        EXPECT_TRUE(statusStarted()) << nth;
    }
    EXPECT_EQ(failures, 5); // the three objects and the two still buffers
}

TEST_F(DeviceLifecycleTest, CameraWithoutAlternateSettingEightFailsAndEverythingIsUndone)
{
    camera::CameraOptions options;
    options.descriptors.alternateSettings = 8;
    plugIn(options);
    EXPECT_EQ(device_->start(), STATUS_IO_DEVICE_ERROR);
    DeviceContext& device = context();
    EXPECT_FALSE(GetUsbConfigured(&device));
    EXPECT_FALSE(GetRegistersReady(&device));
    EXPECT_FALSE(statusStarted());
    EXPECT_TRUE(systemThreadsGone());
    EXPECT_FALSE(bus().configured());
    EXPECT_TRUE(registerWrites().empty());
    EXPECT_FALSE(createFileName().has_value());
    EXPECT_EQ(device.InterfaceName.Buffer, nullptr);
    EXPECT_TRUE(platform_.deviceInterfaces().empty());
    // Only the device-lifetime objects remain for uninitialization to free.
    EXPECT_NE(device.Usb, nullptr);
    EXPECT_NE(device.Stream, nullptr);
}

TEST_F(DeviceLifecycleTest, FailingDriverKeyOpenStopsTheStatusChannelAndClosesTheCamera)
{
    platform_.failNextCalls("IoOpenDeviceRegistryKey", STATUS_ACCESS_DENIED);
    EXPECT_EQ(device_->start(), STATUS_ACCESS_DENIED);
    DeviceContext& device = context();
    EXPECT_FALSE(statusStarted());
    EXPECT_TRUE(systemThreadsGone());
    EXPECT_FALSE(GetRegistersReady(&device));
    EXPECT_FALSE(GetUsbConfigured(&device));
    EXPECT_FALSE(bus().configured());
    EXPECT_EQ(device.InterfaceName.Buffer, nullptr);
    EXPECT_EQ(host::poolCounters(KORVAL_POOL_TAG).outstandingBlocks, 5u); // objects and buffers only
}

// Without its still-image interface the camera still captures video, so the
// device keeps running and says so.
TEST_F(DeviceLifecycleTest, StillInterfaceFailuresLeaveAWorkingDeviceWithoutTheInterface)
{
    for (const char* call : {"IoRegisterDeviceInterface", "IoSetDeviceInterfaceState"}) {
        addDevice();
        platform_.failNextCalls(call, STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_EQ(device_->start(), STATUS_SUCCESS) << call;
        DeviceContext& device = context();
        EXPECT_TRUE(GetUsbConfigured(&device)) << call;
        EXPECT_TRUE(GetRegistersReady(&device)) << call;
        EXPECT_TRUE(statusStarted()) << call;
        EXPECT_TRUE(createFileName().has_value()) << call;
        EXPECT_EQ(device.InterfaceName.Buffer, nullptr) << call;
        EXPECT_EQ(enabledImageInterfaces(), 0u) << call;
    }
}

// A repeated initialize would orphan the running objects, a repeated
// initialization complete would tear the working configuration down.
TEST_F(DeviceLifecycleTest, RepeatedStartRequestsLeaveTheStartedDeviceRunning)
{
    ASSERT_EQ(device_->start(), STATUS_SUCCESS);
    CUsbCamera* usb = context().Usb;
    const auto pool = host::poolCounters(KORVAL_POOL_TAG);
    PORT_CONFIGURATION_INFORMATION config{};
    config.PhysicalDeviceObject = camera_->deviceObject();
    auto initialize = device_->sendAdapterSrb(
        SRB_INITIALIZE_DEVICE, [&](HW_STREAM_REQUEST_BLOCK& srb) { srb.CommandData.ConfigInfo = &config; });
    EXPECT_EQ(initialize.status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(context().Usb, usb);
    EXPECT_EQ(host::poolCounters(KORVAL_POOL_TAG).allocations, pool.allocations);
    auto withoutConfig = device_->sendAdapterSrb(SRB_INITIALIZE_DEVICE, [](HW_STREAM_REQUEST_BLOCK&) {});
    EXPECT_EQ(withoutConfig.status, STATUS_INVALID_PARAMETER);

    auto again = device_->sendAdapterSrb(SRB_INITIALIZATION_COMPLETE, [](HW_STREAM_REQUEST_BLOCK&) {});
    EXPECT_EQ(again.status, STATUS_IO_DEVICE_ERROR);
    EXPECT_TRUE(GetUsbConfigured(&context()));
    EXPECT_TRUE(statusStarted());
    EXPECT_EQ(enabledImageInterfaces(), 1u);
}

} // namespace
} // namespace korval::lifecycle_test
