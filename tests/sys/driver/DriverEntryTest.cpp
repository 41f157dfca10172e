#include "driver/AdapterHandlers.h"
#include "base/DeviceContext.h"
#include "driver/Driver.h"
#include "stream/SrbQueue.h"

#include "host/kernel/platform.h"
#include "host/streamclass/stream_class.h"

#include <gtest/gtest.h>

namespace {

using korval::host::Platform;

class DriverEntryTest : public ::testing::Test {
protected:
    NTSTATUS load()
    {
        return DriverEntry(&driverObject_, &registryPath_);
    }

    void TearDown() override
    {
        korval::host::unloadDriver(&driverObject_);
    }

    Platform platform_;
    DRIVER_OBJECT driverObject_{};
    UNICODE_STRING registryPath_{};
};

TEST_F(DriverEntryTest, RegistersTheAdapterRecord)
{
    ASSERT_EQ(load(), STATUS_SUCCESS);
    const HW_INITIALIZATION_DATA* record = korval::host::registeredAdapter(&driverObject_);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->HwInitializationDataSize, sizeof(HW_INITIALIZATION_DATA));
    EXPECT_EQ(record->HwInterrupt, nullptr);
    EXPECT_EQ(record->HwReceivePacket, AdapterReceivePacket);
    EXPECT_EQ(record->HwCancelPacket, AdapterIgnorePacket);
    EXPECT_EQ(record->HwRequestTimeoutHandler, AdapterIgnorePacket);
    EXPECT_EQ(record->DeviceExtensionSize, sizeof(DeviceContext));
    EXPECT_EQ(record->PerRequestExtensionSize, 3 * sizeof(void*)); // list link + owning SRB
    EXPECT_EQ(record->PerStreamExtensionSize, 1u);
    EXPECT_EQ(record->FilterInstanceExtensionSize, 0u);
    EXPECT_FALSE(record->BusMasterDMA);
    EXPECT_FALSE(record->Dma24BitAddresses);
    EXPECT_EQ(record->BufferAlignment, 3u);
    EXPECT_TRUE(record->TurnOffSynchronization);
    EXPECT_EQ(record->DmaBufferSize, 0u);
    EXPECT_EQ(record->NumNameExtensions, 0u);
}

TEST_F(DriverEntryTest, ReturnsTheRegistrationFailureUnchanged)
{
    korval::host::failNextAdapterRegistration(STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(load(), STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(DriverEntryTest, ProbesTheHighestAvailableWdmLevel)
{
    struct Case {
        std::uint8_t major, minor;
        ULONG level;
    };
    for (const Case& c : {Case{1, 0x20, 4}, Case{1, 0x10, 3}, Case{1, 0x05, 2}, Case{1, 0x00, 1},
                          Case{0, 0x00, 0}}) {
        platform_.setWdmVersion(c.major, c.minor);
        ASSERT_EQ(load(), STATUS_SUCCESS);
        EXPECT_EQ(WdmLevel, c.level) << "WDM " << int(c.major) << "." << std::hex << int(c.minor);
        korval::host::unloadDriver(&driverObject_);
    }
}

// The adapter's answer to commands it has no handler for, through the class.
class AdapterDispatchTest : public DriverEntryTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(load(), STATUS_SUCCESS);
        device_ = korval::host::StreamClassDevice::add(&driverObject_, &physicalDevice_);
    }

    void TearDown() override
    {
        device_.reset();
        DriverEntryTest::TearDown();
    }

    DEVICE_OBJECT physicalDevice_{};
    std::unique_ptr<korval::host::StreamClassDevice> device_;
};

TEST_F(AdapterDispatchTest, CommandsWithoutHandlerAreNotImplementedAndPagingOutSucceeds)
{
    for (ULONG command : {0x00u, 0x03u, 0xFFu, 0x103u, 0x104u, 0x10Au, 0x10Fu, 0x110u}) {
        auto result = device_->sendAdapterSrb(static_cast<SRB_COMMAND>(command), [](HW_STREAM_REQUEST_BLOCK&) {});
        EXPECT_EQ(result.status, STATUS_NOT_IMPLEMENTED) << "command 0x" << std::hex << command;
    }
    auto paging = device_->sendAdapterSrb(SRB_PAGING_OUT_DRIVER, [](HW_STREAM_REQUEST_BLOCK&) {});
    EXPECT_EQ(paging.status, STATUS_SUCCESS);
}

TEST_F(AdapterDispatchTest, SurpriseRemovalSignalsAndMarksTheDeviceAbsent)
{
    auto* device = static_cast<DeviceContext*>(device_->deviceExtension());
    InitializeDeviceState(device);
    ASSERT_EQ(KeReadStateEvent(&device->DeviceStopEvent), 0);
    device_->surpriseRemove();
    EXPECT_FALSE(GetDevicePresent(device));
    EXPECT_NE(KeReadStateEvent(&device->DeviceStopEvent), 0);
}

TEST(SurpriseRemoval, WithoutDeviceExtensionSucceedsAndTouchesNothing)
{
    EXPECT_EQ(SurpriseRemoval(nullptr), STATUS_SUCCESS);
    HW_STREAM_REQUEST_BLOCK srb{};
    srb.Status = STATUS_PENDING;
    EXPECT_EQ(SurpriseRemoval(&srb), STATUS_SUCCESS);
    EXPECT_EQ(srb.Status, STATUS_PENDING);
}

} // namespace
