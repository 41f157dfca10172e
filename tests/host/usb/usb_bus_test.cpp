// The emulated bus under a minimal test driver: configuration and bandwidth,
// vendor requests, transfers on 1 ms frames, cancellation, abort, reset,
// scripted faults, bad URBs and unplugging with requests pending.
#include "camera/camera_on_bus.h"
#include "camera_bus_fixture.h"
#include "transfer_loop.h"

#include <gtest/gtest.h>

namespace korval::host::testing {
namespace {

class UsbBusTest : public CameraBusFixture {
protected:
    void configureAt(UCHAR alternate)
    {
        ASSERT_TRUE(driver_->configure());
        ASSERT_EQ(driver_->selectAlternate(alternate), USBD_STATUS_SUCCESS);
    }
};

TEST_F(UsbBusTest, ConfiguresAndReportsThePipesOfTheSelectedSetting)
{
    std::vector<std::uint8_t> device;
    ASSERT_TRUE(driver_->getDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, device, 18));
    EXPECT_EQ(device.size(), 18U);
    EXPECT_TRUE(driver_->writeRegister(0x0E, 3)); // the default pipe works before configuration
    ASSERT_TRUE(driver_->configure());
    EXPECT_TRUE(bus_->configured());
    EXPECT_EQ(driver_->pipe(4).MaximumPacketSize, 0);
    ASSERT_EQ(driver_->selectAlternate(6), USBD_STATUS_SUCCESS);
    EXPECT_EQ(bus_->currentAlternate(), 6);
    EXPECT_EQ(camera_.currentAlternate(), 6);
    EXPECT_EQ(driver_->pipe(4).MaximumPacketSize, camera::videoPacketSize(6));
    EXPECT_EQ(driver_->pipe(4).PipeType, UsbdPipeTypeIsochronous);
    EXPECT_EQ(driver_->pipe(4).MaximumTransferSize, 16U * 1023U);
    EXPECT_EQ(driver_->pipe(2).PipeType, UsbdPipeTypeInterrupt);
    EXPECT_EQ(driver_->pipe(2).EndpointAddress, camera::kStatusEndpointAddress);
    EXPECT_EQ(driver_->pipe(2).Interval, camera::kStatusInterval);
    const auto trace = bus_->trace();
    ASSERT_GE(trace.size(), 4U);
    EXPECT_EQ(trace.back().function, URB_FUNCTION_SELECT_INTERFACE);
    EXPECT_EQ(trace.back().alternate, 6);
    EXPECT_TRUE(trace.back().completedAtOnce);
}

TEST_F(UsbBusTest, RefusesSettingsBeyondTheBandwidthBudgetAndKeepsTheOldOne)
{
    configureAt(2);
    bus_->setBandwidth(600); // 512 + 2 fits, 640 + 2 does not
    EXPECT_EQ(driver_->selectAlternate(8), USBD_STATUS_NO_BANDWIDTH);
    EXPECT_EQ(driver_->selectAlternate(5), USBD_STATUS_NO_BANDWIDTH);
    EXPECT_EQ(bus_->currentAlternate(), 2);
    EXPECT_EQ(driver_->selectAlternate(4), USBD_STATUS_SUCCESS);
    EXPECT_EQ(driver_->pipe(4).MaximumPacketSize, 512);
    bus_->setBandwidth(0);
    EXPECT_EQ(driver_->selectAlternate(1), USBD_STATUS_NO_BANDWIDTH);
}

TEST_F(UsbBusTest, VendorRequestsReachTheRegistersWithIndexAsTheRegister)
{
    configureAt(0);
    EXPECT_TRUE(driver_->writeRegister(0x4A, 77));
    EXPECT_TRUE(driver_->writeBlock(0x42, {1, 2, 3, 4, 5, 6, 7, 8}));
    UCHAR value = 0;
    ASSERT_TRUE(driver_->readRegister(0x4A, value));
    EXPECT_EQ(value, 77);
    ASSERT_TRUE(driver_->readRegister(0x49, value));
    EXPECT_EQ(value, 8);
    EXPECT_FALSE(driver_->writeRegister(0x30, 1)); // no such register: the device stalls
    const auto trace = bus_->trace();
    const auto& failed = trace.back();
    EXPECT_EQ(failed.status, USBD_STATUS_STALL_PID);
    EXPECT_EQ(failed.index, 0x30);
    EXPECT_EQ(failed.request, 0x00);
}

TEST_F(UsbBusTest, ScriptedFaultsFailStallShortenAndSkip)
{
    configureAt(0);
    UrbFault fail;
    fail.function = URB_FUNCTION_VENDOR_INTERFACE;
    fail.request = 0x00;
    fail.index = 0x13;
    fail.skip = 1;
    bus_->addFault(fail);
    EXPECT_TRUE(driver_->writeRegister(0x13, 1));  // skipped once
    EXPECT_FALSE(driver_->writeRegister(0x13, 1)); // fails
    EXPECT_TRUE(driver_->writeRegister(0x13, 1));  // used up
    EXPECT_TRUE(driver_->writeRegister(0x14, 1));

    UrbFault shortRead;
    shortRead.function = URB_FUNCTION_VENDOR_INTERFACE;
    shortRead.request = 0x03;
    shortRead.effect = UrbFault::Effect::ShortTransfer;
    shortRead.bytes = 1;
    bus_->addFault(shortRead);
    UCHAR value = 0x5A;
    EXPECT_FALSE(driver_->readRegister(0x02, value));
    EXPECT_EQ(value, 0x5A);
    EXPECT_TRUE(driver_->readRegister(0x02, value));

    UrbFault stall;
    stall.function = URB_FUNCTION_VENDOR_INTERFACE;
    stall.effect = UrbFault::Effect::Stall;
    stall.times = -1;
    bus_->addFault(stall);
    EXPECT_FALSE(driver_->writeRegister(0x02, 1));
    EXPECT_FALSE(driver_->writeRegister(0x03, 1));
    bus_->clearFaults();
    EXPECT_TRUE(driver_->writeRegister(0x03, 1));
}

TEST_F(UsbBusTest, CancellingAnUnansweredRequestCompletesItAsCancelled)
{
    configureAt(0);
    UrbFault silent;
    silent.function = URB_FUNCTION_VENDOR_INTERFACE;
    silent.effect = UrbFault::Effect::NoAnswer;
    bus_->addFault(silent);
    URB urb{};
    UsbBuildVendorRequest(&urb, URB_FUNCTION_VENDOR_INTERFACE, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST), 0,
                          0, 0x00, 1, 0x13, nullptr, nullptr, 0, nullptr);
    const auto result = driver_->submit(&urb, std::chrono::milliseconds(2000), [&](PIRP irp) {
        EXPECT_EQ(bus_->pendingRequests(), 1U);
        EXPECT_TRUE(IoCancelIrp(irp));
    });
    EXPECT_EQ(result.callStatus, STATUS_PENDING);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.status, STATUS_CANCELLED);
    EXPECT_EQ(urb.UrbHeader.Status, USBD_STATUS_CANCELED);
    EXPECT_EQ(bus_->pendingRequests(), 0U);
}

// IoCancelIrp takes the cancel routine and then runs it. A canceller held up
// between the two (preempted, or waiting for the bus) leaves the transfer to
// that routine: the bus, finishing or aborting it meanwhile, must not go on
// moving packets into it, past the end of its packet table.
TEST_F(UsbBusTest, ATransferWhoseCancelIsUnderwayIsLeftToItsCancelRoutine)
{
    configureAt(8);
    ASSERT_TRUE(driver_->writeRegister(0x40, 1));
    constexpr ULONG kPackets = 2;
    constexpr ULONG kRoom = 6; // packet entries the record has room for
    constexpr ULONG kUntouched = 0xBAD;
    const ULONG packetBytes = driver_->pipe(4).MaximumPacketSize;
    for (const bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "abort" : "last packet");
        std::vector<std::uint64_t> storage((GET_ISO_URB_SIZE(kRoom) + 7) / 8, 0);
        std::vector<std::uint8_t> data(kPackets * packetBytes);
        auto* urb = reinterpret_cast<PURB>(storage.data());
        auto& iso = urb->UrbIsochronousTransfer;
        iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
        iso.Hdr.Length = static_cast<USHORT>(GET_ISO_URB_SIZE(kPackets));
        iso.PipeHandle = driver_->pipe(4).PipeHandle;
        iso.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
        iso.TransferBuffer = data.data();
        iso.TransferBufferLength = static_cast<ULONG>(data.size());
        iso.NumberOfPackets = kPackets;
        for (ULONG i = 0; i < kRoom; ++i) {
            iso.IsoPacket[i].Offset = i < kPackets ? i * packetBytes : 0;
            iso.IsoPacket[i].Length = i < kPackets ? 0 : kUntouched;
        }
        const auto result = driver_->submit(urb, std::chrono::milliseconds(2000), [&](PIRP irp) {
            bus_->runFrames(1);
            __atomic_store_n(&irp->Cancel, TRUE, __ATOMIC_RELEASE);
            const PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
            ASSERT_NE(routine, nullptr);
            if (abort) {
                EXPECT_EQ(driver_->pipeRequest(URB_FUNCTION_ABORT_PIPE, 4), USBD_STATUS_SUCCESS);
            }
            bus_->runFrames(4);
            for (ULONG i = kPackets; i < kRoom; ++i) {
                EXPECT_EQ(iso.IsoPacket[i].Length, kUntouched) << "packet entry " << i;
            }
            IoAcquireCancelSpinLock(&irp->CancelIrql);
            routine(bus_->deviceObject(), irp); // releases the cancel spin lock
        });
        EXPECT_TRUE(result.completed);
        EXPECT_EQ(result.status, STATUS_CANCELLED);
        EXPECT_EQ(bus_->pendingRequests(), 0U);
    }
}

TEST_F(UsbBusTest, VerifierStopsADriverThatRewritesAPendingIsochronousUrb)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    configureAt(8);
    const ULONG packetBytes = driver_->pipe(4).MaximumPacketSize;
    std::vector<std::uint64_t> storage((GET_ISO_URB_SIZE(2) + 7) / 8, 0);
    std::vector<std::uint8_t> data(2 * packetBytes);
    auto* urb = reinterpret_cast<PURB>(storage.data());
    auto& iso = urb->UrbIsochronousTransfer;
    iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    iso.Hdr.Length = static_cast<USHORT>(GET_ISO_URB_SIZE(2));
    iso.PipeHandle = driver_->pipe(4).PipeHandle;
    iso.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
    iso.TransferBuffer = data.data();
    iso.TransferBufferLength = static_cast<ULONG>(data.size());
    iso.NumberOfPackets = 2;
    iso.IsoPacket[1].Offset = packetBytes;
    const auto result = driver_->submit(urb, std::chrono::milliseconds(2000), [&](PIRP irp) {
        bus_->runFrames(1);
        iso.IsoPacket[1].Offset = 0; // a refill of a URB the bus still holds
        EXPECT_DEATH(bus_->runFrames(1), "changed while the USB stack owns it");
        iso.IsoPacket[1].Offset = packetBytes;
        IoCancelIrp(irp);
    });
    EXPECT_EQ(result.status, STATUS_CANCELLED);
}

TEST_F(UsbBusTest, AbortEndsAnUnansweredTransferOfThePipe)
{
    configureAt(8);
    UrbFault silent;
    silent.function = URB_FUNCTION_ISOCH_TRANSFER;
    silent.effect = UrbFault::Effect::NoAnswer;
    bus_->addFault(silent);
    TransferLoop video(*driver_, 4, 1, true);
    video.start();
    bus_->runFrames(40);
    EXPECT_EQ(video.completions(), 0);
    ASSERT_TRUE(video.stop());
    EXPECT_EQ(video.statuses().at(0), STATUS_CANCELLED);
    EXPECT_EQ(bus_->pendingRequests(), 0U);
}

TEST_F(UsbBusTest, DelayedControlRequestsCompleteLaterAtDispatchLevel)
{
    configureAt(0);
    bus_->setControlDelay(2);
    std::thread frames([&] {
        for (int i = 0; i < 200 && bus_->pendingRequests() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        bus_->runFrames(3);
    });
    URB urb{};
    UsbBuildVendorRequest(&urb, URB_FUNCTION_VENDOR_INTERFACE, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST), 0,
                          0, 0x00, 9, 0x0E, nullptr, nullptr, 0, nullptr);
    const auto result = driver_->submit(&urb);
    frames.join();
    EXPECT_EQ(result.callStatus, STATUS_PENDING);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.completionIrql, DISPATCH_LEVEL);
    EXPECT_EQ(camera_.writtenRegister(0x0E), 9);
}

TEST_F(UsbBusTest, IsochronousTransfersMoveOnePacketPerFrame)
{
    configureAt(8);
    TransferLoop video(*driver_, 4, 1, true);
    driver_->writeRegister(0x40, 1);
    video.start();
    bus_->runFrames(15);
    EXPECT_EQ(video.completions(), 0);
    bus_->runFrames(1);
    ASSERT_EQ(video.completions(), 1);
    EXPECT_EQ(video.statuses()[0], STATUS_SUCCESS);
    EXPECT_FALSE(video.sawWrongIrql());
    const auto trace = bus_->trace();
    const auto iso = std::find_if(trace.begin(), trace.end(),
                                  [](const UrbTraceEntry& e) { return e.function == URB_FUNCTION_ISOCH_TRANSFER; });
    ASSERT_NE(iso, trace.end());
    EXPECT_EQ(iso->endpoint, camera::kVideoEndpointAddress);
    EXPECT_FALSE(iso->completedAtOnce);
    EXPECT_TRUE(video.stop());
}

TEST_F(UsbBusTest, FailedPacketsLeaveTheTransferSuccessful)
{
    configureAt(8);
    driver_->writeRegister(0x40, 1);
    UrbFault packets;
    packets.function = URB_FUNCTION_ISOCH_TRANSFER;
    packets.effect = UrbFault::Effect::PacketError;
    packets.status = USBD_STATUS_CRC;
    packets.times = 5;
    bus_->addFault(packets);
    TransferLoop video(*driver_, 4, 1, true);
    video.start();
    bus_->runFrames(16);
    ASSERT_EQ(video.completions(), 1);
    EXPECT_EQ(video.statuses()[0], STATUS_SUCCESS);
    EXPECT_EQ(video.urbStatuses()[0], USBD_STATUS_SUCCESS);
    EXPECT_EQ(video.packetErrors(), 5);
    video.stop();
}

TEST_F(UsbBusTest, AbortCompletesEveryPendingTransferOfThePipeAsCancelled)
{
    configureAt(8);
    TransferLoop video(*driver_, 4, 3, true);
    TransferLoop status(*driver_, 2, 1, false);
    video.start();
    status.start();
    bus_->runFrames(5);
    EXPECT_EQ(bus_->pendingRequests(), 4U);
    video.freeze();
    EXPECT_EQ(driver_->pipeRequest(URB_FUNCTION_ABORT_PIPE, 4), USBD_STATUS_SUCCESS);
    ASSERT_TRUE(video.waitIdle(std::chrono::milliseconds(2000)));
    for (NTSTATUS s : video.statuses()) {
        EXPECT_EQ(s, STATUS_CANCELLED);
    }
    for (USBD_STATUS s : video.urbStatuses()) {
        EXPECT_EQ(s, USBD_STATUS_CANCELED);
    }
    EXPECT_EQ(bus_->pendingRequests(), 1U); // the status transfer is untouched
    EXPECT_FALSE(video.sawWrongIrql());
    status.stop();
}

TEST_F(UsbBusTest, StatusPipeReportsButtonPressesAtItsPollingInterval)
{
    configureAt(0);
    TransferLoop status(*driver_, 2, 1, false);
    status.start();
    bus_->runFrames(40);
    EXPECT_EQ(status.completions(), 0);
    camera_.pressSnapshotButton();
    bus_->runFrames(camera::kStatusInterval);
    ASSERT_EQ(status.completions(), 1);
    EXPECT_EQ(status.bytes().size(), 2U);

    UrbFault odd;
    odd.function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    odd.status = 0x00010000;
    ASSERT_TRUE(status.settle());
    bus_->addFault(odd);
    // The fault applies to the next submission: complete one report to get there.
    camera_.pressSnapshotButton();
    bus_->runFrames(camera::kStatusInterval);
    ASSERT_TRUE(status.settle());
    const auto urbStatuses = status.urbStatuses();
    ASSERT_EQ(urbStatuses.size(), 3U);
    EXPECT_EQ(urbStatuses[2], 0x00010000);
    EXPECT_EQ(status.statuses()[2], STATUS_SUCCESS);
    status.stop();
}

TEST_F(UsbBusTest, StalledInterruptPipeStaysHaltedUntilReset)
{
    configureAt(0);
    UrbFault stall;
    stall.function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    stall.effect = UrbFault::Effect::Stall;
    bus_->addFault(stall);
    TransferLoop first(*driver_, 2, 1, false);
    first.start();
    ASSERT_TRUE(first.waitIdle(std::chrono::milliseconds(2000)));
    EXPECT_EQ(first.urbStatuses().at(0), USBD_STATUS_STALL_PID);
    TransferLoop second(*driver_, 2, 1, false);
    second.start();
    ASSERT_TRUE(second.waitIdle(std::chrono::milliseconds(2000)));
    EXPECT_EQ(second.urbStatuses().at(0), USBD_STATUS_ENDPOINT_HALTED);
    EXPECT_EQ(driver_->pipeRequest(URB_FUNCTION_RESET_PIPE, 2), USBD_STATUS_SUCCESS);
    TransferLoop third(*driver_, 2, 1, false);
    third.start();
    bus_->runFrames(20);
    EXPECT_EQ(third.inFlight(), 1);
    third.stop();
}

TEST_F(UsbBusTest, MalformedUrbsAreRefusedWithoutTouchingMemory)
{
    configureAt(8);
    URB urb{};
    urb.UrbHeader.Length = 4; // shorter than a header
    urb.UrbHeader.Function = URB_FUNCTION_ISOCH_TRANSFER;
    EXPECT_EQ(driver_->submit(&urb).status, STATUS_INVALID_DEVICE_REQUEST);

    std::vector<std::uint64_t> storage((GET_ISO_URB_SIZE(16) + 7) / 8, 0);
    auto* iso = reinterpret_cast<PURB>(storage.data());
    std::vector<std::uint8_t> data(16 * 1023);
    auto build = [&](ULONG packets, USHORT length) {
        std::fill(storage.begin(), storage.end(), 0);
        iso->UrbHeader.Function = URB_FUNCTION_ISOCH_TRANSFER;
        iso->UrbHeader.Length = length;
        iso->UrbIsochronousTransfer.PipeHandle = driver_->pipe(4).PipeHandle;
        iso->UrbIsochronousTransfer.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
        iso->UrbIsochronousTransfer.TransferBuffer = data.data();
        iso->UrbIsochronousTransfer.TransferBufferLength = static_cast<ULONG>(data.size());
        iso->UrbIsochronousTransfer.NumberOfPackets = packets;
        for (ULONG i = 0; i < std::min<ULONG>(packets, 16); ++i) {
            iso->UrbIsochronousTransfer.IsoPacket[i].Offset = i * 1023;
        }
    };
    build(300, static_cast<USHORT>(GET_ISO_URB_SIZE(16)));
    EXPECT_EQ(driver_->submit(iso).status, STATUS_INVALID_PARAMETER);
    build(16, static_cast<USHORT>(GET_ISO_URB_SIZE(8))); // the record is too short for its packets
    EXPECT_EQ(driver_->submit(iso).status, STATUS_INVALID_PARAMETER);
    build(16, static_cast<USHORT>(GET_ISO_URB_SIZE(16)));
    iso->UrbIsochronousTransfer.IsoPacket[3].Offset = 20000; // past the buffer
    EXPECT_EQ(driver_->submit(iso).status, STATUS_INVALID_PARAMETER);
    build(16, static_cast<USHORT>(GET_ISO_URB_SIZE(16)));
    iso->UrbIsochronousTransfer.TransferBufferLength = 17 * 1023; // beyond the pipe's maximum transfer
    EXPECT_EQ(driver_->submit(iso).status, STATUS_INVALID_PARAMETER);
    build(16, static_cast<USHORT>(GET_ISO_URB_SIZE(16)));
    iso->UrbIsochronousTransfer.PipeHandle = driver_->pipe(2).PipeHandle; // not an isochronous pipe
    EXPECT_EQ(driver_->submit(iso).status, STATUS_INVALID_PARAMETER);
    build(16, static_cast<USHORT>(GET_ISO_URB_SIZE(16)));
    iso->UrbIsochronousTransfer.PipeHandle = reinterpret_cast<USBD_PIPE_HANDLE>(0x1234);
    EXPECT_EQ(driver_->submit(iso).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(iso->UrbHeader.Status, USBD_STATUS_INVALID_PIPE_HANDLE);

    // Handles of an earlier selection are stale.
    const USBD_PIPE_HANDLE old = driver_->pipe(4).PipeHandle;
    ASSERT_EQ(driver_->selectAlternate(7), USBD_STATUS_SUCCESS);
    build(16, static_cast<USHORT>(GET_ISO_URB_SIZE(16)));
    iso->UrbIsochronousTransfer.PipeHandle = old;
    EXPECT_EQ(driver_->submit(iso).status, STATUS_INVALID_PARAMETER);

    URB unknown{};
    unknown.UrbHeader.Length = sizeof(URB);
    unknown.UrbHeader.Function = 0x0042;
    EXPECT_EQ(driver_->submit(&unknown).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(unknown.UrbHeader.Status, USBD_STATUS_INVALID_URB_FUNCTION);
    EXPECT_EQ(bus_->pendingRequests(), 0U);
}

TEST_F(UsbBusTest, UnplugCompletesEveryPendingRequestAndRefusesNewOnes)
{
    configureAt(8);
    driver_->writeRegister(0x40, 1);
    UrbFault silent;
    silent.function = URB_FUNCTION_VENDOR_INTERFACE;
    silent.effect = UrbFault::Effect::NoAnswer;
    bus_->addFault(silent);
    {
        TransferLoop video(*driver_, 4, 3, true);
        TransferLoop status(*driver_, 2, 1, false);
        video.start();
        status.start();
        bus_->runFrames(20);
        ASSERT_TRUE(video.settle());
        TestUsbDriver::Result control;
        std::thread stuck([&] {
            URB urb{};
            UsbBuildVendorRequest(&urb, URB_FUNCTION_VENDOR_INTERFACE,
                                  sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST), 0, 0, 0x00, 1, 0x13, nullptr,
                                  nullptr, 0, nullptr);
            control = driver_->submit(&urb, std::chrono::milliseconds(5000));
        });
        while (bus_->pendingRequests() < 5) {
            std::this_thread::yield();
        }
        bus_->unplug();
        stuck.join();
        EXPECT_TRUE(control.completed);
        EXPECT_EQ(control.status, STATUS_DEVICE_NOT_CONNECTED);
        ASSERT_TRUE(video.waitIdle(std::chrono::milliseconds(2000)));
        ASSERT_TRUE(status.waitIdle(std::chrono::milliseconds(2000)));
        EXPECT_EQ(video.statuses().back(), STATUS_DEVICE_NOT_CONNECTED);
        EXPECT_EQ(video.urbStatuses().back(), USBD_STATUS_DEVICE_GONE);
        EXPECT_EQ(status.statuses().back(), STATUS_DEVICE_NOT_CONNECTED);
        EXPECT_EQ(bus_->pendingRequests(), 0U);
        EXPECT_FALSE(driver_->writeRegister(0x02, 1));
    }
    checkNoPoolLeaks();
}

TEST_F(UsbBusTest, OwnThreadFollowsTheSteppedClock)
{
    bus_.reset();
    bus_ = std::make_unique<UsbBus>(camera_, BusOptions{});
    driver_ = std::make_unique<TestUsbDriver>(*bus_);
    configureAt(8);
    TransferLoop video(*driver_, 4, 3, true);
    video.start();
    EXPECT_EQ(bus_->frameNumber(), 0U);
    systemClock().advance(48 * Clock::kTicksPerMillisecond);
    ASSERT_TRUE(bus_->waitForFrame(48, std::chrono::milliseconds(5000)));
    ASSERT_TRUE(video.settle());
    EXPECT_EQ(video.completions(), 3);
    EXPECT_FALSE(video.sawWrongIrql());
    EXPECT_TRUE(video.stop());
}

TEST(CameraOnBus, PlugsTheCameraIntoItsOwnBus)
{
    Platform platform(PlatformOptions{{}, ClockMode::Stepped});
    camera::CameraOnBus rig({}, BusOptions{1200, false, 0});
    TestUsbDriver driver(rig.bus());
    EXPECT_EQ(driver.lower(), rig.deviceObject());
    ASSERT_TRUE(driver.configure());
    EXPECT_TRUE(driver.writeRegister(0x41, 0x02));
    EXPECT_TRUE(rig.camera().indicatorOn());
}

} // namespace
} // namespace korval::host::testing
