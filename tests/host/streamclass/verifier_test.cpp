// The class as a verifier: a minidriver's completion mistakes stop the
// process with a message that names the SRB.
#include "fixture.h"

namespace korval::test {
namespace {

using host::PropertyRequest;

class StreamClassDeathTest : public StreamClassTest {
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        StreamClassTest::SetUp();
    }
};

PropertyRequest brightnessGet()
{
    return PropertyRequest::make(PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS,
                                 KSPROPERTY_TYPE_GET, KSPROPERTY_VIDEOPROCAMP_S{});
}

TEST_F(StreamClassDeathTest, AdapterSrbPendingWhenTheDispatcherReturns)
{
    EXPECT_DEATH(
        {
            auto device = startedDevice();
            testDriverSettings().fault = Fault::LeaveAdapterSrbPending;
            device->getProperty(brightnessGet());
        },
        "adapter SRB 0x[0-9a-f]+ \\(SRB_GET_DEVICE_PROPERTY.*still pending when HwReceivePacket returned");
}

TEST_F(StreamClassDeathTest, AdapterSrbCompletedTwice)
{
    EXPECT_DEATH(
        {
            auto device = startedDevice();
            testDriverSettings().fault = Fault::CompleteAdapterSrbTwice;
            KSPROPERTY_VIDEOPROCAMP_S value{};
            device->setProperty(PropertyRequest::make(PROPSETID_VIDCAP_VIDEOPROCAMP,
                                                      KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, KSPROPERTY_TYPE_SET, value));
        },
        "SRB 0x[0-9a-f]+ \\(SRB_SET_DEVICE_PROPERTY.*completed twice");
}

TEST_F(StreamClassDeathTest, CompletionWithoutAStatus)
{
    EXPECT_DEATH(
        {
            auto device = startedDevice();
            testDriverSettings().fault = Fault::CompleteWithPendingStatus;
            device->sendAdapterSrb(SRB_PAGING_OUT_DRIVER, [](HW_STREAM_REQUEST_BLOCK&) {});
        },
        "SRB_PAGING_OUT_DRIVER.*completed with Status STATUS_PENDING");
}

TEST_F(StreamClassDeathTest, StreamSrbCompletedAsAnAdapterSrb)
{
    EXPECT_DEATH(
        {
            auto device = startedDevice();
            auto stream = openRgb(*device);
            stream->setState(KSSTATE_RUN);
            auto read = stream->submitRead(kRgbFrameBytes);
            waitForHeldReads(*device, 1);
            StreamClassDeviceNotification(DeviceRequestComplete, device->deviceExtension(), read->srb());
        },
        "SRB_READ_DATA, stream 0.*is a stream SRB but was completed with DeviceRequestComplete");
}

TEST_F(StreamClassDeathTest, CompletionForAClosedStream)
{
    EXPECT_DEATH(
        {
            auto device = startedDevice();
            auto stream = openRgb(*device);
            auto read = stream->submitRead(kRgbFrameBytes);
            read->wait();
            PHW_STREAM_OBJECT object = stream->object();
            stream->close();
            StreamClassStreamNotification(StreamRequestComplete, object, read->srb());
        },
        "StreamRequestComplete for SRB 0x[0-9a-f]+ on stream object 0x[0-9a-f]+, which is not open");
}

TEST_F(StreamClassDeathTest, ReadNeverCompletedByRemoval)
{
    EXPECT_DEATH(
        {
            auto deviceOptions = options();
            deviceOptions.patience = std::chrono::milliseconds(50);
            auto device = startedDevice(deviceOptions);
            testDriverSettings().fault = Fault::IgnoreCancel;
            auto stream = openRgb(*device);
            stream->setState(KSSTATE_RUN);
            auto read = stream->submitRead(kRgbFrameBytes);
            waitForHeldReads(*device, 1);
            device->remove();
        },
        "SRBs never completed by the minidriver:\n +SRB 0x[0-9a-f]+ \\(SRB_READ_DATA, stream 0");
}

TEST_F(StreamClassDeathTest, QueryOfAClockThatIsNoClock)
{
    EXPECT_DEATH(
        {
            HW_TIME_CONTEXT time{};
            int notAClock = 0;
            StreamClassQueryMasterClockSync(&notAClock, &time);
        },
        "master clock handle 0x[0-9a-f]+, which is no clock");
}

TEST_F(StreamClassDeathTest, PoolLeftByTheDriverAtRemoval)
{
    EXPECT_DEATH(
        {
            auto device = startedDevice();
            testDriverSettings().fault = Fault::LeakOnUninitialize;
            device->remove();
        },
        "pool still allocated");
}

} // namespace
} // namespace korval::test
