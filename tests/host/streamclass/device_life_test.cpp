// A device's life as Plug and Play and the class drive it, seen by the test minidriver.
#include "fixture.h"

#include "host/kernel/pool.h"

namespace korval::test {
namespace {

using host::DeviceOptions;

TEST_F(StreamClassTest, StartInitializesDescribesAndCompletesAtPassiveLevel)
{
    auto device = startedDevice();
    TestDeviceExtension* extension = testExtension(device->deviceExtension());
    EXPECT_TRUE(extension->WasZeroAtInitialize);
    EXPECT_EQ(extension->ClassDeviceObject, device->classDeviceObject());
    EXPECT_EQ(extension->PhysicalDeviceObject, &pdo_);
    EXPECT_EQ(extension->RealPhysicalDeviceObject, &pdo_); // falls back to the physical one
    EXPECT_EQ(device->classDeviceObject()->DeviceExtension, device->deviceExtension());

    TestDevice& driver = driverState(*device);
    EXPECT_EQ(driver.commands, (std::vector<ULONG>{SRB_INITIALIZE_DEVICE, SRB_GET_STREAM_INFO,
                                                   SRB_INITIALIZATION_COMPLETE}));
    EXPECT_EQ(driver.streamInfoBufferSize, sizeof(HW_STREAM_HEADER) + sizeof(HW_STREAM_INFORMATION));
    EXPECT_EQ(driver.highestIrql.load(), PASSIVE_LEVEL);
    EXPECT_TRUE(device->started());
    EXPECT_EQ(device->streamHeader().NumberOfStreams, 1u);
    EXPECT_EQ(device->streamInformation(0).DataFlow, KSPIN_DATAFLOW_OUT);
}

TEST_F(StreamClassTest, RealPhysicalDeviceObjectIsPassedWhenGiven)
{
    auto device = StreamClassDevice::add(testDriverObject(), &pdo_, &realPdo_, options());
    ASSERT_EQ(device->start(), STATUS_SUCCESS);
    EXPECT_EQ(testExtension(device->deviceExtension())->PhysicalDeviceObject, &pdo_);
    EXPECT_EQ(testExtension(device->deviceExtension())->RealPhysicalDeviceObject, &realPdo_);
}

TEST_F(StreamClassTest, FailedStartsStopWhereTheRealClassStops)
{
    testDriverSettings().initializeStatus = STATUS_INSUFFICIENT_RESOURCES;
    auto refused = addDevice();
    EXPECT_EQ(refused->start(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(refused->started());
    refused->remove(); // nothing was initialized: no SRB goes to the driver
    EXPECT_EQ(testExtension(refused->deviceExtension())->Device, nullptr);

    testDriverSettings() = {};
    testDriverSettings().streamInfoStatus = STATUS_IO_DEVICE_ERROR;
    auto undescribed = addDevice();
    EXPECT_EQ(undescribed->start(), STATUS_IO_DEVICE_ERROR);
    EXPECT_FALSE(undescribed->started());
    EXPECT_EQ(testDriverFinishedCommands(),
              (std::vector<ULONG>{SRB_INITIALIZE_DEVICE, SRB_GET_STREAM_INFO, SRB_UNINITIALIZE_DEVICE}));

    testDriverSettings() = {};
    testDriverSettings().initializationCompleteStatus = STATUS_IO_DEVICE_ERROR;
    auto incomplete = addDevice();
    EXPECT_EQ(incomplete->start(), STATUS_IO_DEVICE_ERROR);
    EXPECT_TRUE(incomplete->started());
    EXPECT_EQ(incomplete->initializationCompleteStatus(), STATUS_IO_DEVICE_ERROR);
}

TEST_F(StreamClassTest, PowerChangesReachTheDriver)
{
    auto device = startedDevice();
    EXPECT_EQ(device->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(driverState(*device).power, PowerDeviceD3);
    EXPECT_EQ(device->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
    EXPECT_EQ(driverState(*device).power, PowerDeviceD0);
}

TEST_F(StreamClassTest, RemovalIsSurpriseRemovalThenCloseThenUninitialize)
{
    host::resetPoolCounters();
    auto device = startedDevice();
    auto stream = openRgb(*device);
    ASSERT_EQ(stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
    auto first = stream->submitRead(kRgbFrameBytes);
    auto second = stream->submitRead(kRgbFrameBytes);
    ASSERT_TRUE(waitForHeldReads(*device, 2));

    device->surpriseRemove();
    EXPECT_TRUE(driverState(*device).surpriseRemoved);
    EXPECT_TRUE(stream->isOpen());
    EXPECT_FALSE(first->completed());

    device->remove(); // the reads in flight are cancelled through HwCancelPacket
    EXPECT_FALSE(stream->isOpen());
    EXPECT_EQ(first->status(), STATUS_CANCELLED);
    EXPECT_EQ(second->status(), STATUS_CANCELLED);
    EXPECT_EQ(second->header().DataUsed, 0u);
    const auto commands = testDriverFinishedCommands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ((std::vector<ULONG>(commands.end() - 3, commands.end())),
              (std::vector<ULONG>{SRB_SURPRISE_REMOVAL, SRB_CLOSE_STREAM, SRB_UNINITIALIZE_DEVICE}));
    EXPECT_EQ(host::poolCounters(kTestPoolTag).outstandingBlocks, 0u);
    EXPECT_EQ(host::poolCounters(kTestPoolTag).allocations, 1u);
}

TEST_F(StreamClassTest, StopUninitializesAndStartInitializesAgain)
{
    auto device = startedDevice();
    EXPECT_EQ(device->stop(), STATUS_SUCCESS);
    EXPECT_FALSE(device->started());
    EXPECT_EQ(testExtension(device->deviceExtension())->Device, nullptr);
    EXPECT_EQ(testDriverFinishedCommands().back(), static_cast<ULONG>(SRB_UNINITIALIZE_DEVICE));
    EXPECT_EQ(device->start(), STATUS_SUCCESS);
    EXPECT_TRUE(device->started());
    EXPECT_FALSE(testExtension(device->deviceExtension())->WasZeroAtInitialize); // the extension is kept
}

TEST_F(StreamClassTest, AdapterCommandsWithoutHandlersAreTheDriversToAnswer)
{
    auto device = startedDevice();
    EXPECT_EQ(device->sendAdapterSrb(SRB_OPEN_DEVICE_INSTANCE, [](HW_STREAM_REQUEST_BLOCK&) {}).status,
              STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(device->sendAdapterSrb(SRB_PAGING_OUT_DRIVER, [](HW_STREAM_REQUEST_BLOCK&) {}).status, STATUS_SUCCESS);
    EXPECT_EQ(device->sendAdapterSrb(static_cast<SRB_COMMAND>(0x10F), [](HW_STREAM_REQUEST_BLOCK&) {}).status,
              STATUS_NOT_IMPLEMENTED);
}

TEST_F(StreamClassTest, RegistrationChecksTheRecordAndCanBeMadeToFail)
{
    host::failNextAdapterRegistration(STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(TestDriverEntry(testDriverObject()), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(TestDriverEntry(testDriverObject()), STATUS_SUCCESS);

    HW_INITIALIZATION_DATA old = *host::registeredAdapter(testDriverObject());
    old.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA) - 8; // a smaller, older record
    DRIVER_OBJECT other{};
    EXPECT_EQ(StreamClassRegisterAdapter(&other, nullptr, &old), STATUS_REVISION_MISMATCH);
    EXPECT_EQ(host::registeredAdapter(&other), nullptr);

    old.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA);
    old.TurnOffSynchronization = FALSE; // the serializing class is not emulated
    EXPECT_EQ(StreamClassRegisterAdapter(&other, nullptr, &old), STATUS_NOT_SUPPORTED);
    old.TurnOffSynchronization = TRUE;
    ASSERT_EQ(StreamClassRegisterAdapter(&other, nullptr, &old), STATUS_SUCCESS);
    EXPECT_EQ(host::registeredAdapter(&other)->DeviceExtensionSize, sizeof(TestDeviceExtension));
    EXPECT_TRUE(host::registeredAdapter(&other)->TurnOffSynchronization);
    host::unloadDriver(&other);
    EXPECT_EQ(host::registeredAdapter(&other), nullptr);
}

} // namespace
} // namespace korval::test

namespace korval::test {
namespace {

// One device from plug-in to removal, the way a capture application uses it.
TEST_F(StreamClassTest, WholeLifeThroughTheClientSide)
{
    host::resetPoolCounters();
    auto device = startedDevice();
    auto event = device->enableEvent(KSEVENTSETID_VIDCAPTOSTI, KSEVENT_VIDCAPTOSTI_EXT_TRIGGER);
    ASSERT_NE(event, nullptr);
    const auto formats = device->streamFormats(0);
    ASSERT_EQ(formats.size(), 2u);
    const auto format = device->dataIntersection(0, formats[1]);
    ASSERT_EQ(format.status, STATUS_SUCCESS);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto stream = device->openStream(0, format.format, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    auto clock = host::MasterClock::create();
    ASSERT_EQ(stream->setMasterClock(clock), STATUS_SUCCESS);
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        ASSERT_EQ(stream->setState(state), STATUS_SUCCESS);
    }
    const ULONG i420Bytes = kFrameWidth * kFrameHeight * 12 / 8;
    auto first = stream->submitRead(i420Bytes);
    auto second = stream->submitRead(i420Bytes);
    ASSERT_TRUE(waitForHeldReads(*device, 2));
    clock->setTime(1000);
    ASSERT_TRUE(TestDriverDeliverFrame(device->deviceExtension(), 0x80));
    EXPECT_EQ(first->header().PresentationTime.Time, 1000);
    EXPECT_EQ(first->header().DataUsed, i420Bytes);
    TestDriverPressButton(device->deviceExtension());
    EXPECT_EQ(event->signals(), 1u);

    ASSERT_EQ(device->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(device->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
    device->surpriseRemove();
    EXPECT_FALSE(second->completed()); // still the driver's until the stream closes
    device->remove();
    EXPECT_EQ(second->status(), STATUS_CANCELLED);
    EXPECT_EQ(testExtension(device->deviceExtension())->EventEnableCount, 0);
    EXPECT_EQ(host::poolCounters(kTestPoolTag).outstandingBlocks, 0u);
    const auto commands = testDriverFinishedCommands();
    EXPECT_EQ(commands.front(), static_cast<ULONG>(SRB_INITIALIZE_DEVICE));
    EXPECT_EQ(commands.back(), static_cast<ULONG>(SRB_UNINITIALIZE_DEVICE));
}

} // namespace
} // namespace korval::test
