#include "UsbCameraHarness.h"

#include "host/streamclass/stream_class.h"

#include <chrono>
#include <thread>

namespace korval::testing {
namespace {

// A minidriver that only answers adapter requests, so that a device extension
// exists for the status channel's stream-class notifications.
VOID STREAMAPI AnswerAdapterRequest(PHW_STREAM_REQUEST_BLOCK Srb)
{
    Srb->Status = STATUS_SUCCESS;
    StreamClassDeviceNotification(DeviceRequestComplete, Srb->HwDeviceExtension, Srb);
}

PVOID statusTestDriver()
{
    static DRIVER_OBJECT driverObject{};
    if (host::registeredAdapter(&driverObject) == nullptr) {
        HW_INITIALIZATION_DATA registration{};
        registration.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA);
        registration.HwReceivePacket = AnswerAdapterRequest;
        registration.DeviceExtensionSize = sizeof(DeviceContext);
        registration.TurnOffSynchronization = TRUE;
        EXPECT_EQ(StreamClassRegisterAdapter(&driverObject, nullptr, &registration), STATUS_SUCCESS);
    }
    return &driverObject;
}

class IsochStatusTest : public UsbCameraTest {
protected:
    void SetUp() override
    {
        UsbCameraTest::SetUp();
        host::DeviceOptions options;
        options.leakCheckTag = std::nullopt;
        classDevice_ = host::StreamClassDevice::add(statusTestDriver(), camera_->deviceObject(), nullptr, options);
        device = static_cast<DeviceContext*>(classDevice_->deviceExtension());
        InitializeDeviceState(device);
        device->PhysicalDeviceObject = spy_->deviceObject();
        device->RealPhysicalDeviceObject = camera_->deviceObject();
        device->Usb = usb_;
        ASSERT_TRUE(usb_->Open(352, 288, 8, kHalfSecond, device));
    }

    void TearDown() override
    {
        // The transport goes before the extension it points to.
        delete usb_;
        usb_ = nullptr;
        classDevice_->remove();
        classDevice_.reset();
        UsbCameraTest::TearDown();
    }

    void pump(int frames)
    {
        for (int i = 0; i < frames; ++i) {
            bus().runFrames(1);
            KeFlushQueuedDpcs();
        }
    }

    // One press, and the bus run until the status endpoint has been polled.
    void press()
    {
        camera().pressSnapshotButton();
        pump(camera::kStatusInterval);
    }

    std::size_t statusTransfers() const { return traceOf(URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER).size(); }

    std::unique_ptr<host::StreamClassDevice> classDevice_;
    DeviceContext* device = nullptr;
};

TEST_F(IsochStatusTest, EachPressSignalsBothEventsAndTheStillImageEventAndTheTransferGoesOn)
{
    platform_.failNextCalls("PsCreateSystemThread", STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_TRUE(usb_->StartStatus()); // runs without its thread
    EXPECT_EQ(device->SnapshotThread, nullptr);
    pump(40);
    EXPECT_EQ(KeReadStateEvent(&usb_->ButtonEvent), 0);
    press();
    EXPECT_EQ(KeReadStateEvent(&usb_->ButtonEvent), 1);
    EXPECT_EQ(KeReadStateEvent(&usb_->StatusEvent), 1);
    EXPECT_EQ(classDevice_->unmatchedEventSignals(), 1u);
    press();
    EXPECT_EQ(classDevice_->unmatchedEventSignals(), 2u);
    EXPECT_EQ(usb_->StatusInFlight.ulValue, 1u);
    EXPECT_EQ(bus().pendingRequests(), 1u);
    const auto first = traceOf(URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER).front();
    EXPECT_EQ(first.requestedLength, STATUS_TRANSFER_BYTES);
    usb_->StopStatus();
    EXPECT_EQ(bus().pendingRequests(), 0u);
}

TEST_F(IsochStatusTest, ReportWithStatus0x00010000IsNoPressButIsResubmitted)
{
    spy_->onAnswer([](PURB urb) {
        if (urb->UrbHeader.Function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) {
            urb->UrbHeader.Status = 0x00010000;
        }
    });
    platform_.failNextCalls("PsCreateSystemThread", STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_TRUE(usb_->StartStatus());
    press();
    EXPECT_EQ(KeReadStateEvent(&usb_->ButtonEvent), 0);
    EXPECT_EQ(KeReadStateEvent(&usb_->StatusEvent), 0);
    EXPECT_EQ(classDevice_->unmatchedEventSignals(), 0u);
    EXPECT_EQ(statusTransfers(), 2u);
    EXPECT_EQ(bus().pendingRequests(), 1u);
}

TEST_F(IsochStatusTest, FailedStatusTransferEndsTheChannelSilently)
{
    host::UrbFault fault;
    fault.function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    fault.effect = host::UrbFault::Effect::Complete;
    fault.skip = 1; // the resubmission after the first press fails
    bus().addFault(fault);
    ASSERT_TRUE(usb_->StartStatus());
    press();
    press();
    EXPECT_EQ(classDevice_->unmatchedEventSignals(), 1u);
    EXPECT_EQ(statusTransfers(), 2u);
    EXPECT_EQ(usb_->StatusInFlight.ulValue, 0u);
    EXPECT_EQ(bus().pendingRequests(), 0u);
    EXPECT_TRUE(ReadLockedFlag(&usb_->StatusStarted));
    usb_->StopStatus();
    EXPECT_FALSE(ReadLockedFlag(&usb_->StatusStarted));
}

TEST_F(IsochStatusTest, StopEndsTheSnapshotThreadAndDropsItsReference_OverAndOver)
{
    for (int round = 0; round < 4; ++round) {
        ASSERT_TRUE(usb_->StartStatus());
        EXPECT_NE(device->SnapshotThread, nullptr);
        if (round % 2 == 1) {
            // Let the thread reach its wait before the stop; even rounds stop at once.
            while (!GetSnapshotThreadRunning(device)) {
                std::this_thread::yield();
            }
            press();
        }
        usb_->StopStatus();
        EXPECT_EQ(device->SnapshotThread, nullptr);
        EXPECT_FALSE(GetSnapshotThreadRunning(device));
        EXPECT_EQ(KeReadStateEvent(&device->SnapshotThreadDone), 1);
        EXPECT_FALSE(ReadLockedFlag(&usb_->StatusStarted));
        EXPECT_FALSE(ReadLockedFlag(&usb_->StatusRunning));
        EXPECT_EQ(bus().pendingRequests(), 0u);
    }
    platform_.checkNoHandleLeaks();
}

TEST_F(IsochStatusTest, StartIsRefusedWhenStartedPoweredDownOrUnconfigured)
{
    ASSERT_TRUE(usb_->StartStatus());
    EXPECT_FALSE(usb_->StartStatus());
    usb_->StopStatus();

    SetDevicePowerState(device, PowerDeviceD3);
    EXPECT_FALSE(usb_->StartStatus());
    EXPECT_EQ(device->SnapshotThread, nullptr);
    EXPECT_EQ(bus().pendingRequests(), 0u);
    SetDevicePowerState(device, PowerDeviceD0);

    usb_->Close();
    EXPECT_FALSE(usb_->StartStatus());
}

TEST_F(IsochStatusTest, CloseStopsARunningStatusChannelAndItsThread)
{
    ASSERT_TRUE(usb_->StartStatus());
    press();
    EXPECT_TRUE(usb_->Close());
    EXPECT_EQ(device->SnapshotThread, nullptr);
    EXPECT_EQ(bus().pendingRequests(), 0u);
}

} // namespace
} // namespace korval::testing
