// Power changes of a started device: down and up again with the status channel
// and the camera's programming, refused targets, and the requests that must
// change nothing.
#include "DeviceLifecycleFixture.h"

#include "stream/StreamContext.h"

#include "host/kernel/clock.h"
#include "support/frame_wait.h"

namespace korval::lifecycle_test {
namespace {

class DevicePowerTest : public DeviceLifecycleTest {
protected:
    void SetUp() override
    {
        DeviceLifecycleTest::SetUp();
        ASSERT_EQ(device_->start(), STATUS_SUCCESS);
        bus().clearTrace();
    }

    ULONG powerState() { return GetDevicePowerState(&context()); }

    // Open at full bandwidth (the highest alternate setting), not yet running.
    std::unique_ptr<host::StreamClassStream> openedStream()
    {
        platform_.registry().setValue(kParametersKey, "A_111", host::RegistryValue::dword(1));
        const auto formats = device_->streamFormats(0);
        EXPECT_FALSE(formats.empty());
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto stream = device_->openStream(0, device_->dataIntersection(0, formats[0]).format, &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        return stream;
    }

    // Open and running at full bandwidth.
    std::unique_ptr<host::StreamClassStream> runningStream()
    {
        auto stream = openedStream();
        for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
            EXPECT_EQ(stream->setState(state), STATUS_SUCCESS);
        }
        return stream;
    }

    // A read that carries a frame, the clock driven while each read waits. A
    // read that finds no frame in its half second of the clock is answered
    // empty, which a starved bus thread gives at any time: the next read
    // tries again, until the wait limit shows that no frame comes.
    void expectFrame(host::StreamClassStream& stream)
    {
        const auto giveUp = std::chrono::steady_clock::now() + korval::testing::kFrameWaitLimit;
        std::shared_ptr<host::StreamRead> read;
        do {
            read = stream.submitRead(context().Stream->FrameSize);
            for (int ms = 0; ms < 3000 && !read->completed(); ++ms) {
                host::systemClock().advance(host::Clock::kTicksPerMillisecond);
                read->waitFor(std::chrono::milliseconds(1));
            }
            ASSERT_TRUE(read->completed());
            ASSERT_EQ(read->status(), STATUS_SUCCESS);
        } while (read->dataUsed().empty() && std::chrono::steady_clock::now() < giveUp);
        EXPECT_EQ(read->dataUsed().size(), context().Stream->FrameSize);
    }
};

TEST_F(DevicePowerTest, DownStopsTheStatusChannelAndUpRestartsItAndReprogramsTheIdleCamera)
{
    for (int cycle = 0; cycle < 2; ++cycle) {
        EXPECT_EQ(device_->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
        EXPECT_EQ(powerState(), ULONG(PowerDeviceD3));
        EXPECT_TRUE(stopEventSignaled());
        EXPECT_FALSE(statusStarted());
        EXPECT_TRUE(systemThreadsGone());
        EXPECT_TRUE(registerWrites().empty()); // no stream open: the indicator is left alone
        bus().clearTrace();

        EXPECT_EQ(device_->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
        EXPECT_EQ(powerState(), ULONG(PowerDeviceD0));
        EXPECT_FALSE(stopEventSignaled());
        EXPECT_TRUE(statusStarted());
        EXPECT_TRUE(snapshotThreadStarted());
        const std::vector<std::pair<int, int>> idle = {{0x0F, 0x00}, {0x11, 0x30}};
        EXPECT_EQ(registerWrites(), idle);
        EXPECT_TRUE(blockWriteStarts().empty());
        bus().clearTrace();
    }
}

TEST_F(DevicePowerTest, SnapshotButtonIsHeardAgainAfterPowerUp)
{
    auto event = device_->enableEvent(KSEVENTSETID_VIDCAPTOSTI, KSEVENT_VIDCAPTOSTI_EXT_TRIGGER);
    ASSERT_NE(event, nullptr);
    ASSERT_EQ(device_->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(device_->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
    camera().pressSnapshotButton();
    for (int ms = 0; ms < 100 && event->signals() == 0; ++ms) {
        host::systemClock().advance(host::Clock::kTicksPerMillisecond); // the bus polls on this clock
        event->waitForSignals(1, std::chrono::milliseconds(5));
    }
    EXPECT_EQ(event->signals(), 1u);
}

TEST_F(DevicePowerTest, RefusedTargetsWhilePoweredDownLeaveTheDeviceDownUntilD0)
{
    ASSERT_EQ(device_->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
    for (DEVICE_POWER_STATE refused : {PowerDeviceD1, PowerDeviceD2}) {
        EXPECT_EQ(device_->setPowerState(refused), STATUS_IO_DEVICE_ERROR);
        EXPECT_EQ(powerState(), ULONG(PowerDeviceD3));
        EXPECT_TRUE(stopEventSignaled());
        EXPECT_FALSE(statusStarted());
    }
    EXPECT_EQ(device_->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
    EXPECT_EQ(powerState(), ULONG(PowerDeviceD0));
    EXPECT_FALSE(stopEventSignaled());
    EXPECT_TRUE(statusStarted());
}

TEST_F(DevicePowerTest, RequestForD0WhilePoweredChangesNothing)
{
    EXPECT_EQ(device_->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
    EXPECT_EQ(powerState(), ULONG(PowerDeviceD0));
    EXPECT_FALSE(stopEventSignaled());
    EXPECT_TRUE(statusStarted());
    EXPECT_TRUE(snapshotThreadStarted());
    EXPECT_TRUE(bus().trace().empty());
}

TEST_F(DevicePowerTest, OpenStreamIsReprogrammedWholeWithItsIndicatorOnPowerUp)
{
    DeviceContext& device = context();
    SetCaptureOpen(&device, TRUE); // an open, stopped stream as far as power is concerned
    ASSERT_EQ(device_->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
    const std::vector<std::pair<int, int>> indicatorOff = {{0x41, 0x00}};
    EXPECT_EQ(registerWrites(), indicatorOff);
    bus().clearTrace();

    ASSERT_EQ(device_->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
    const std::vector<std::uint16_t> blocks = {0x02, 0x0A, 0x12, 0x40, 0x48};
    EXPECT_EQ(blockWriteStarts(), blocks);
    const std::vector<std::pair<int, int>> commitAndIndicatorOn = {{0x13, 1}, {0x1C, 1}, {0x41, 0x02}};
    EXPECT_EQ(registerWrites(), commitAndIndicatorOn); // bus power 250: bit 1 set while open
    EXPECT_EQ(camera().writtenRegister(0x41) & 0x02, 0x02);
    SetCaptureOpen(&device, FALSE);
}

TEST_F(DevicePowerTest, RunningStreamResumesVideoAfterPowerUpWithoutAStateRequest)
{
    auto stream = runningStream();
    ASSERT_FALSE(HasFailure());
    CUsbCamera& usb = *context().Usb;
    ASSERT_TRUE(ReadLockedFlag(&usb.VideoStarted));
    const UCHAR alternate = usb.CurrentAlternate;

    ASSERT_EQ(device_->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_FALSE(ReadLockedFlag(&usb.VideoStarted));
    EXPECT_FALSE(ReadLockedFlag(&usb.VideoRunning));
    EXPECT_FALSE(statusStarted());
    EXPECT_EQ(camera().writtenRegister(0x41) & 0x02, 0x00); // indicator off
    EXPECT_EQ(bus().pendingRequests(), 0u);
    bus().clearTrace();

    ASSERT_EQ(device_->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
    EXPECT_TRUE(ReadLockedFlag(&usb.VideoStarted));
    EXPECT_TRUE(statusStarted());
    EXPECT_EQ(usb.CurrentAlternate, alternate);
    EXPECT_EQ(camera().writtenRegister(0x41) & 0x02, 0x02);
    EXPECT_EQ(camera().writtenRegister(0x40) & 0x01, 0x01); // video enable restored with the rest
    std::size_t isochronous = 0;
    for (const auto& entry : bus().trace()) {
        isochronous += entry.function == URB_FUNCTION_ISOCH_TRANSFER ? 1 : 0;
    }
    EXPECT_EQ(isochronous, 3u);
    expectFrame(*stream);
    ASSERT_EQ(stream->setState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(stream->close(), STATUS_SUCCESS);
}

// A camera that lost its registers at power-down and did not take them at
// power-up (video enable among them: no frame would come) gets the whole
// image again with the next read, once it answers.
TEST_F(DevicePowerTest, PowerUpTheCameraDidNotTakeIsWrittenAgainByTheNextRead)
{
    auto stream = runningStream();
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(device_->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
    host::UrbFault fault;
    fault.function = URB_FUNCTION_VENDOR_INTERFACE;
    fault.times = -1;
    bus().addFault(fault);
    ASSERT_EQ(device_->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
    bus().clearFaults();
    bus().clearTrace();
    expectFrame(*stream);
    const std::vector<std::uint16_t> blocks = {0x02, 0x0A, 0x12, 0x40, 0x48};
    const auto starts = blockWriteStarts();
    ASSERT_GE(starts.size(), blocks.size());
    EXPECT_EQ(std::vector<std::uint16_t>(starts.begin(), starts.begin() + 5), blocks);
    ASSERT_EQ(stream->setState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(stream->close(), STATUS_SUCCESS);
}

TEST_F(DevicePowerTest, CloseWhilePoweredDownGivesTheBandwidthBackAtPowerUp)
{
    auto stream = openedStream();
    ASSERT_NE(stream, nullptr);
    ASSERT_NE(bus().currentAlternate(), 0);
    ASSERT_EQ(device_->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(stream->close(), STATUS_SUCCESS);
    ASSERT_EQ(device_->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
    EXPECT_EQ(bus().currentAlternate(), 0);
    EXPECT_EQ(context().Usb->CurrentAlternate, 0);
    EXPECT_TRUE(statusStarted());
}

TEST_F(DevicePowerTest, PowerUpAfterSurpriseRemovalKeepsTheDeviceStopped)
{
    ASSERT_EQ(device_->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
    device_->surpriseRemove();
    bus().clearTrace();
    EXPECT_EQ(device_->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
    EXPECT_TRUE(stopEventSignaled());
    EXPECT_FALSE(statusStarted());
    EXPECT_TRUE(systemThreadsGone());
    EXPECT_TRUE(bus().trace().empty());
}

} // namespace
} // namespace korval::lifecycle_test
