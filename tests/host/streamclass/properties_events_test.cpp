// Device properties with any buffer sizes, device events and master clocks.
#include "fixture.h"

#include "host/kernel/clock.h"
#include "host/kernel/irql.h"

namespace korval::test {
namespace {

using host::MasterClock;
using host::PropertyRequest;

PropertyRequest brightness(ULONG flags, LONG value = 0, std::size_t dataSize = sizeof(KSPROPERTY_VIDEOPROCAMP_S))
{
    KSPROPERTY_VIDEOPROCAMP_S record{};
    record.Value = value;
    return PropertyRequest::make(PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, flags, record,
                                 dataSize);
}

std::size_t propertySrbs(TestDevice& driver)
{
    return static_cast<std::size_t>(std::count_if(driver.commands.begin(), driver.commands.end(), [](ULONG command) {
        return command == SRB_GET_DEVICE_PROPERTY || command == SRB_SET_DEVICE_PROPERTY;
    }));
}

TEST_F(StreamClassTest, PropertyBufferSizesReachTheDriverAsGiven)
{
    auto device = startedDevice();
    auto none = device->getProperty(brightness(KSPROPERTY_TYPE_GET, 0, 0));
    EXPECT_EQ(none.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(none.bytesReturned, sizeof(KSPROPERTY_VIDEOPROCAMP_S));
    EXPECT_EQ(device->getProperty(brightness(KSPROPERTY_TYPE_GET, 0, 20)).status, STATUS_BUFFER_TOO_SMALL);

    auto answer = device->getProperty(brightness(KSPROPERTY_TYPE_GET));
    ASSERT_EQ(answer.status, STATUS_SUCCESS);
    EXPECT_EQ(answer.bytesReturned, sizeof(KSPROPERTY_VIDEOPROCAMP_S));
    EXPECT_EQ(answer.as<KSPROPERTY_VIDEOPROCAMP_S>().Value, 50);
    EXPECT_EQ(answer.as<KSPROPERTY_VIDEOPROCAMP_S>().Flags, static_cast<ULONG>(KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL));

    EXPECT_EQ(device->setProperty(brightness(KSPROPERTY_TYPE_SET, 77)).status, STATUS_SUCCESS);
    EXPECT_EQ(device->getProperty(brightness(KSPROPERTY_TYPE_GET)).as<KSPROPERTY_VIDEOPROCAMP_S>().Value, 77);
    EXPECT_EQ(propertySrbs(driverState(*device)), 5u);
}

TEST_F(StreamClassTest, UnpublishedPropertiesAreRefusedByTheClass)
{
    auto device = startedDevice();
    KSPROPERTY_CAMERACONTROL_S exposure{};
    auto unknownSet = PropertyRequest::make(PROPSETID_VIDCAP_CAMERACONTROL, KSPROPERTY_CAMERACONTROL_EXPOSURE,
                                            KSPROPERTY_TYPE_GET, exposure);
    EXPECT_EQ(device->getProperty(unknownSet).status, STATUS_NOT_FOUND);
    KSPROPERTY_VIDEOPROCAMP_S record{};
    auto unknownId = PropertyRequest::make(PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_GAMMA,
                                           KSPROPERTY_TYPE_GET, record);
    EXPECT_EQ(device->getProperty(unknownId).status, STATUS_NOT_FOUND);
    auto contrast = PropertyRequest::make(PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_CONTRAST,
                                          KSPROPERTY_TYPE_SET, record);
    EXPECT_EQ(device->setProperty(contrast).status, STATUS_NOT_FOUND); // published get-only
    EXPECT_EQ(device->getProperty(contrast).as<KSPROPERTY_VIDEOPROCAMP_S>().Value, 7);
    auto shortInput = brightness(KSPROPERTY_TYPE_GET);
    shortInput.input.resize(sizeof(KSPROPERTY) - 1);
    EXPECT_EQ(device->getProperty(shortInput).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(propertySrbs(driverState(*device)), 1u); // only the contrast get reached the driver
}

TEST_F(StreamClassTest, PublishedRangesAndDefaultsAreReadable)
{
    auto device = startedDevice();
    auto description = device->describeProperty(PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS);
    ASSERT_TRUE(description.has_value());
    EXPECT_TRUE(description->get);
    EXPECT_TRUE(description->set);
    EXPECT_EQ(description->minData, sizeof(KSPROPERTY_VIDEOPROCAMP_S));
    ASSERT_EQ(description->steppedRanges.size(), 1u);
    EXPECT_EQ(description->steppedRanges[0].SteppingDelta, 1u);
    EXPECT_EQ(description->steppedRanges[0].Bounds.SignedMaximum, 100);
    EXPECT_EQ(description->defaults, std::vector<LONG>{50});
    auto contrast = device->describeProperty(PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_CONTRAST);
    ASSERT_TRUE(contrast.has_value());
    EXPECT_FALSE(contrast->set);
    EXPECT_TRUE(contrast->steppedRanges.empty());
    EXPECT_FALSE(device->describeProperty(KSPROPSETID_Connection, 0).has_value());
}

TEST_F(StreamClassTest, EnabledEventsReceiveTheDriversSignals)
{
    auto device = startedDevice();
    TestDeviceExtension* extension = testExtension(device->deviceExtension());
    auto first = device->enableEvent(KSEVENTSETID_VIDCAPTOSTI, KSEVENT_VIDCAPTOSTI_EXT_TRIGGER);
    auto second = device->enableEvent(KSEVENTSETID_VIDCAPTOSTI, KSEVENT_VIDCAPTOSTI_EXT_TRIGGER);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(extension->EventEnableCount, 2);
    EXPECT_EQ(first->entry()->EventItem->EventId, static_cast<ULONG>(KSEVENT_VIDCAPTOSTI_EXT_TRIGGER));

    TestDriverPressButton(device->deviceExtension());
    EXPECT_EQ(first->signals(), 1u);
    EXPECT_EQ(second->signals(), 1u);
    EXPECT_EQ(second->disable(), STATUS_SUCCESS);
    EXPECT_EQ(extension->EventEnableCount, 1);
    TestDriverPressButton(device->deviceExtension());
    EXPECT_EQ(first->signals(), 2u);
    EXPECT_EQ(second->signals(), 1u);
    EXPECT_EQ(device->unmatchedEventSignals(), 0u);

    NTSTATUS status = STATUS_SUCCESS;
    EXPECT_EQ(device->enableEvent(KSEVENTSETID_VIDCAPTOSTI, KSEVENT_VIDCAP_AUTO_UPDATE, &status), nullptr);
    EXPECT_EQ(status, STATUS_NOT_FOUND);
    testDriverSettings().eventRoutineStatus = STATUS_INSUFFICIENT_RESOURCES;
    EXPECT_EQ(device->enableEvent(KSEVENTSETID_VIDCAPTOSTI, KSEVENT_VIDCAPTOSTI_EXT_TRIGGER, &status), nullptr);
    EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);
    testDriverSettings().eventRoutineStatus = STATUS_SUCCESS;

    first.reset(); // dropping the handle disables the event
    EXPECT_EQ(extension->EventEnableCount, 0);
    TestDriverPressButton(device->deviceExtension());
    EXPECT_EQ(device->unmatchedEventSignals(), 1u);
}

TEST_F(StreamClassTest, SignalsFromDispatchLevelArriveAndRemovalDisablesEvents)
{
    auto device = startedDevice();
    auto event = device->enableEvent(KSEVENTSETID_VIDCAPTOSTI, KSEVENT_VIDCAPTOSTI_EXT_TRIGGER);
    ASSERT_NE(event, nullptr);
    std::thread presses([&] {
        host::ScopedIrql atDispatch(DISPATCH_LEVEL);
        for (int i = 0; i < 200; ++i) {
            TestDriverPressButton(device->deviceExtension());
        }
    });
    EXPECT_TRUE(event->waitForSignals(200, std::chrono::seconds(20)));
    presses.join();
    device->remove();
    EXPECT_EQ(event->disable(), STATUS_SUCCESS); // already disabled by the removal
}

TEST_F(StreamClassTest, EventsAreEnabledAndDisabledFromTwoThreadsAtOnce)
{
    auto device = startedDevice();
    auto toggle = [&] {
        for (int i = 0; i < 100; ++i) {
            auto event = device->enableEvent(KSEVENTSETID_VIDCAPTOSTI, KSEVENT_VIDCAPTOSTI_EXT_TRIGGER);
            ASSERT_NE(event, nullptr);
            TestDriverPressButton(device->deviceExtension());
            EXPECT_GE(event->signals(), 1u);
        }
    };
    std::thread other(toggle);
    toggle();
    other.join();
    EXPECT_EQ(testExtension(device->deviceExtension())->EventEnableCount, 0);
}

TEST_F(StreamClassTest, MasterClockFollowsThePlatformClockOrHoldsATime)
{
    auto clock = MasterClock::create();
    EXPECT_EQ(clock->streamTime(), 0);
    host::systemClock().advance(5000);
    EXPECT_EQ(clock->streamTime(), 5000);
    clock->setTime(123456);
    host::systemClock().advance(5000);
    EXPECT_EQ(clock->streamTime(), 123456);
    clock->advance(4);
    EXPECT_EQ(clock->streamTime(), 123460);
    clock->follow();
    host::systemClock().advance(40);
    EXPECT_EQ(clock->streamTime(), 123500);
    clock->restart();
    EXPECT_EQ(clock->streamTime(), 0);

    HW_TIME_CONTEXT time{};
    time.Function = TIME_GET_STREAM_TIME;
    host::systemClock().advance(70);
    {
        host::ScopedIrql atDispatch(DISPATCH_LEVEL);
        StreamClassQueryMasterClockSync(clock->handle(), &time);
    }
    EXPECT_EQ(time.Time, 70u);
    EXPECT_EQ(time.SystemTime, static_cast<ULONGLONG>(host::systemClock().now()));
    EXPECT_EQ(clock->queries(), 1u);
}

} // namespace
} // namespace korval::test
