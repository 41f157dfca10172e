#include "tests/sys/driver/CaptureAdapterFixture.h"

#include "settings/RegistrySettings.h"
#include "base/DeviceContext.h"
#include "control/DevicePropertySets.h"
#include "stream/StreamFormats.h"

#include "host/kernel/debug_print.h"
#include "host/streamclass/class_state.h"

namespace {

using korval::host::describeItem;
using korval::host::findPropertyItem;
using korval::host::PropertyDescription;

class StreamInformationTest : public CaptureAdapterTest {
protected:
    std::vector<const KS_DATARANGE_VIDEO*> answeredFormats() const
    {
        const HW_STREAM_INFORMATION& info = answeredInformation();
        std::vector<const KS_DATARANGE_VIDEO*> formats;
        for (ULONG i = 0; i < info.NumberOfFormatArrayEntries; ++i) {
            formats.push_back(reinterpret_cast<const KS_DATARANGE_VIDEO*>(info.StreamFormatsArray[i]));
        }
        return formats;
    }
};

TEST_F(StreamInformationTest, HeaderDescribesOneStreamWithTheDeviceSetsAndTopology)
{
    offer(0x00432105);
    const HW_STREAM_HEADER& header = answeredHeader();
    EXPECT_EQ(header.NumberOfStreams, 1u);
    EXPECT_EQ(header.SizeOfHwStreamInformation, sizeof(HW_STREAM_INFORMATION));
    ASSERT_EQ(header.NumDevPropArrayEntries, 4u);
    const GUID* sets[] = {&PROPSETID_VIDCAP_VIDEOPROCAMP, &PROPSETID_VIDCAP_VIDEOCONTROL,
                          &PROPSETID_VIDCAP_CAMERACONTROL, &PROPSETID_KORVAL_CAMERA};
    const ULONG items[] = {9, 4, 1, 19};
    for (ULONG i = 0; i < 4; ++i) {
        EXPECT_TRUE(*header.DevicePropertiesArray[i].Set == *sets[i]) << "set " << i;
        EXPECT_EQ(header.DevicePropertiesArray[i].PropertiesCount, items[i]) << "set " << i;
        EXPECT_EQ(header.DevicePropertiesArray[i].FastIoCount, 0u);
    }
    ASSERT_EQ(header.NumDevEventArrayEntries, 1u);
    const KSEVENT_SET& events = header.DeviceEventsArray[0];
    EXPECT_TRUE(*events.Set == KSEVENTSETID_VIDCAPTOSTI);
    ASSERT_EQ(events.EventsCount, 1u);
    const KSEVENT_ITEM zeroItem{};
    EXPECT_EQ(std::memcmp(&events.EventItem[0], &zeroItem, sizeof(KSEVENT_ITEM)), 0)
        << "KSEVENT_VIDCAPTOSTI_EXT_TRIGGER (0), no data sizes, no handlers";
    ASSERT_NE(header.Topology, nullptr);
    ASSERT_EQ(header.Topology->CategoriesCount, 3u);
    EXPECT_TRUE(header.Topology->Categories[0] == KSCATEGORY_VIDEO);
    EXPECT_TRUE(header.Topology->Categories[1] == PINNAME_VIDEO_STILL);
    EXPECT_TRUE(header.Topology->Categories[2] == KSCATEGORY_CAPTURE);
    EXPECT_EQ(header.Topology->TopologyNodesCount, 0u);
    EXPECT_EQ(header.Topology->TopologyConnectionsCount, 0u);
    EXPECT_EQ(header.Topology->TopologyNodesNames, nullptr);
    EXPECT_EQ(header.DeviceEventRoutine, AdapterDeviceEvent);
    EXPECT_EQ(header.NumDevMethodArrayEntries, 0);
    EXPECT_EQ(header.DeviceMethodsArray, nullptr);
}

TEST_F(StreamInformationTest, CapturePinIsOneOutputInstanceWithTwoStreamPropertySets)
{
    offer(0x00432105);
    const HW_STREAM_INFORMATION& info = answeredInformation();
    EXPECT_EQ(info.NumberOfPossibleInstances, 1u);
    EXPECT_EQ(info.DataFlow, KSPIN_DATAFLOW_OUT);
    EXPECT_TRUE(info.DataAccessible);
    EXPECT_EQ(info.NumberOfFormatArrayEntries, 10u);
    EXPECT_EQ(info.StreamFormatsArray, CaptureFormatList);
    for (PVOID reserved : info.ClassReserved) {
        EXPECT_EQ(reserved, nullptr);
    }
    ASSERT_EQ(info.NumStreamPropArrayEntries, 2u);
    struct StreamItem {
        const GUID* set;
        ULONG id;
        ULONG size;
    };
    const StreamItem expected[] = {{&KSPROPSETID_Connection, KSPROPERTY_CONNECTION_ALLOCATORFRAMING, 24},
                                   {&PROPSETID_VIDCAP_DROPPEDFRAMES, KSPROPERTY_DROPPEDFRAMES_CURRENT, 48}};
    for (ULONG i = 0; i < 2; ++i) {
        const KSPROPERTY_SET& set = info.StreamPropertiesArray[i];
        EXPECT_TRUE(*set.Set == *expected[i].set);
        ASSERT_EQ(set.PropertiesCount, 1u);
        EXPECT_EQ(set.PropertyItem[0].PropertyId, expected[i].id);
        const PropertyDescription item = describeItem(set.PropertyItem[0]);
        EXPECT_TRUE(item.get);
        EXPECT_FALSE(item.set) << "get only";
        EXPECT_EQ(item.minProperty, expected[i].size);
        EXPECT_EQ(item.minData, expected[i].size);
    }
    EXPECT_EQ(info.NumStreamEventArrayEntries, 0u);
    EXPECT_EQ(info.StreamEventsArray, nullptr);
    EXPECT_TRUE(*info.Category == PINNAME_VIDEO_CAPTURE);
    EXPECT_TRUE(*info.Name == PINNAME_VIDEO_CAPTURE);
    EXPECT_EQ(info.MediumsCount, 0u);
    ASSERT_NE(info.Mediums, nullptr) << "one uncounted standard medium";
    EXPECT_TRUE(info.Mediums[0].Set == KSMEDIUMSETID_Standard);
    EXPECT_EQ(info.Mediums[0].Id, 0u);
    EXPECT_EQ(info.Mediums[0].Flags, 0u);
    EXPECT_FALSE(info.BridgeStream);
}

TEST_F(StreamInformationTest, FormatListFollowsTheRegistrySelectionAtEveryRequest)
{
    offer(0x00000001);
    EXPECT_EQ(answeredFormats(), (std::vector<const KS_DATARANGE_VIDEO*>{&CaptureFormatTable[0], &CaptureFormatTable[5]}));
    EXPECT_EQ(static_cast<DeviceContext*>(device_->deviceExtension())->Settings[SETTING_FORMAT_SELECTION], 1u);

    offer(0x00432105);
    const std::vector<const KS_DATARANGE_VIDEO*> expected = {
        &CaptureFormatTable[1], &CaptureFormatTable[2], &CaptureFormatTable[3], &CaptureFormatTable[4],
        &CaptureFormatTable[0], &CaptureFormatTable[6], &CaptureFormatTable[7], &CaptureFormatTable[8],
        &CaptureFormatTable[9], &CaptureFormatTable[5]};
    EXPECT_EQ(answeredFormats(), expected);
}

TEST_F(StreamInformationTest, InvalidSelectionsFailWithInvalidParameter)
{
    for (std::uint32_t invalid : {0x00000006u, 0x00000502u, 0x00000000u, 0x00F43210u}) {
        setFormatSelection(invalid);
        EXPECT_EQ(getStreamInfo().status, STATUS_INVALID_PARAMETER) << std::hex << invalid;
    }
}

TEST_F(StreamInformationTest, WithoutTheParametersKeyTheBuiltInFormatsAreOfferedAndLogged)
{
    korval::host::clearDebugLines();
    ASSERT_EQ(getStreamInfo().status, STATUS_SUCCESS) << "no Parameters key at all";
    EXPECT_EQ(answeredInformation().NumberOfFormatArrayEntries, 10u);
    EXPECT_NE(korval::host::debugText().find("no Parameters key"), std::string::npos);
}

TEST_F(StreamInformationTest, WithoutASelectionTheZeroSlotIsInvalid)
{
    platform_.registry().createKey(kParameters);
    EXPECT_EQ(getStreamInfo().status, STATUS_INVALID_PARAMETER) << "fresh device, no \"A_64\"";
}

TEST_F(StreamInformationTest, AMissingValueKeepsTheLastOneRead)
{
    offer(0x00000203);
    platform_.registry().deleteValue(kParameters, "A_64");
    ASSERT_EQ(getStreamInfo().status, STATUS_SUCCESS);
    EXPECT_EQ(answeredInformation().NumberOfFormatArrayEntries, 6u);
}

TEST_F(StreamInformationTest, ASelectionOfAnotherTypeFails)
{
    platform_.registry().setValue(kParameters, "A_64", korval::host::RegistryValue::string("5"));
    EXPECT_FALSE(NT_SUCCESS(getStreamInfo().status));
    EXPECT_EQ(descriptor_, std::vector<std::uint64_t>(descriptor_.size(), 0)) << "nothing written";
}

TEST_F(StreamInformationTest, ABufferSmallerThanHeaderAndOneRecordIsADeviceError)
{
    setFormatSelection(0x00000001);
    EXPECT_EQ(getStreamInfo(CAPTURE_STREAM_DESCRIPTOR_SIZE - 1).status, STATUS_IO_DEVICE_ERROR);
    EXPECT_EQ(descriptor_, std::vector<std::uint64_t>(descriptor_.size(), 0));
    // The class of a device that was never initialized has no descriptor buffer at all.
    EXPECT_EQ(device_->refreshStreamInfo(), STATUS_IO_DEVICE_ERROR);
}

// ---------------------------------------------------------------------------
// Published property items

struct ItemRow {
    ULONG id;
    bool set;
    ULONG minProperty, minData, serializedSize;
    std::vector<KSPROPERTY_STEPPING_LONG> ranges;
    std::vector<LONG> defaults;
};

KSPROPERTY_STEPPING_LONG Stepping(ULONG step, LONG minimum, LONG maximum)
{
    KSPROPERTY_STEPPING_LONG range{};
    range.SteppingDelta = step;
    range.Bounds.SignedMinimum = minimum;
    range.Bounds.SignedMaximum = maximum;
    return range;
}

void ExpectItems(const GUID& setId, const std::vector<ItemRow>& rows)
{
    const KSPROPERTY_SET* set =
        korval::host::findPropertySet(DevicePropertySets, DEVICE_PROPERTY_SET_COUNT, setId, nullptr);
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->PropertiesCount, rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ItemRow& row = rows[i];
        SCOPED_TRACE("item " + std::to_string(i) + ", id " + std::to_string(row.id));
        EXPECT_EQ(set->PropertyItem[i].PropertyId, row.id) << "table order";
        const PropertyDescription item = describeItem(set->PropertyItem[i]);
        EXPECT_TRUE(item.get);
        EXPECT_EQ(item.set, row.set);
        EXPECT_EQ(item.minProperty, row.minProperty);
        EXPECT_EQ(item.minData, row.minData);
        EXPECT_EQ(item.serializedSize, row.serializedSize);
        ASSERT_EQ(item.steppedRanges.size(), row.ranges.size());
        for (std::size_t r = 0; r < row.ranges.size(); ++r) {
            EXPECT_EQ(item.steppedRanges[r].SteppingDelta, row.ranges[r].SteppingDelta);
            EXPECT_EQ(item.steppedRanges[r].Bounds.SignedMinimum, row.ranges[r].Bounds.SignedMinimum);
            EXPECT_EQ(item.steppedRanges[r].Bounds.SignedMaximum, row.ranges[r].Bounds.SignedMaximum);
        }
        EXPECT_EQ(item.defaults, row.defaults);
    }
}

TEST(DevicePropertySets, VideoProcAmpPublishesRangesAndTheSharedRunOfDefaults)
{
    auto row = [](ULONG id, LONG maximum, std::vector<LONG> defaults) {
        return ItemRow{id, true, 40, 40, 4, {Stepping(1, 0, maximum)}, std::move(defaults)};
    };
    ExpectItems(PROPSETID_VIDCAP_VIDEOPROCAMP,
                {row(0, 510, {255, 0, 0, 160}), row(1, 255, {0, 0, 160, 4}), row(2, 360, {0, 160, 4, 70}),
                 row(3, 200, {160, 4, 70, 1}), row(4, 16, {4, 70, 1, 0}), row(5, 150, {70, 1, 0, 0}),
                 row(6, 1, {1}), row(7, 10000, {0}), row(8, 200, {0})});
}

TEST(DevicePropertySets, VideoControlAndCameraControlItems)
{
    ExpectItems(PROPSETID_VIDCAP_VIDEOCONTROL, {{0, false, 32, 32, 0, {}, {}},
                                                {1, false, 56, 56, 0, {}, {}},
                                                {2, false, 40, 0, 0, {}, {}},
                                                {3, true, 32, 32, 0, {}, {}}});
    ExpectItems(PROPSETID_VIDCAP_CAMERACONTROL, {{4, true, 40, 40, 4, {Stepping(1, 0, 255)}, {100, 100, 255, 0}}});
}

TEST(DevicePropertySets, PrivateSetPublishesNineteenItemsInTableOrder)
{
    auto row = [](ULONG id, ULONG step, LONG minimum, LONG maximum, LONG byDefault) {
        return ItemRow{id, true, 32, 32, 0, {Stepping(step, minimum, maximum)}, {byDefault}};
    };
    ExpectItems(PROPSETID_KORVAL_CAMERA,
                {row(1, 1, 0, 255, 100), row(2, 10, 50, 60, 60), row(3, 1, 0, 1, 1),    row(4, 1, 0, 1, 0),
                 row(5, 1, 0, 1, 0),     row(6, 1, 0, 1, 0),     row(7, 1, 0, 1, 1),    row(8, 1, 0, 1, 1),
                 row(9, 1, 0, 1, 0),     row(10, 1, 0, 9, 0),    row(11, 1, 0, 1, 0),   row(12, 1, 0, 8, 0),
                 row(13, 1, 0, 2, 0),    row(14, 1, 64, 255, 128), row(15, 1, 64, 255, 128),
                 row(16, 1, 64, 255, 128), row(21, 1, 0, 255, 0), row(20, 1, 0, 255, 0), row(22, 1, 0, 255, 0)});
}

TEST(DevicePropertySets, ValuesAreDeclaredAsGeneralFourByteIntegers)
{
    for (const KSPROPERTY_SET& set : DevicePropertySets) {
        for (ULONG i = 0; i < set.PropertiesCount; ++i) {
            const KSPROPERTY_VALUES* values = set.PropertyItem[i].Values;
            if (values == nullptr) {
                continue;
            }
            EXPECT_TRUE(values->PropTypeSet.Set == KSPROPTYPESETID_General);
            EXPECT_EQ(values->PropTypeSet.Id, static_cast<ULONG>(VT_I4));
            EXPECT_EQ(values->MembersListCount, 2u);
        }
    }
}

} // namespace
