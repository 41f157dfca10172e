// The kernel-streaming and stream-class records against the platform's
// published layouts, GUIDs and codes.
#include "host/streamclass/stream_class.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

using korval::host::guidText;

TEST(StreamClassRecords, PointerFreeRecordsHaveThePlatformLayouts)
{
    EXPECT_EQ(sizeof(KSDATAFORMAT), 64u);
    EXPECT_EQ(sizeof(KSIDENTIFIER), 24u);
    EXPECT_EQ(sizeof(KS_BITMAPINFOHEADER), 40u);
    EXPECT_EQ(sizeof(KS_VIDEOINFOHEADER), 88u);
    EXPECT_EQ(sizeof(KS_VIDEO_STREAM_CONFIG_CAPS), 128u);
    EXPECT_EQ(sizeof(KS_DATARANGE_VIDEO), 296u);
    EXPECT_EQ(sizeof(KS_DATAFORMAT_VIDEOINFOHEADER), 152u);
    EXPECT_EQ(sizeof(KSPROPERTY_VIDEOPROCAMP_S), 40u);
    EXPECT_EQ(sizeof(KSPROPERTY_CAMERACONTROL_S), 40u);
    EXPECT_EQ(sizeof(KSPROPERTY_VIDEOCONTROL_CAPS_S), 32u);
    EXPECT_EQ(sizeof(KSPROPERTY_VIDEOCONTROL_MODE_S), 32u);
    EXPECT_EQ(sizeof(KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S), 56u);
    EXPECT_EQ(sizeof(KSPROPERTY_VIDEOCONTROL_FRAME_RATES_S), 40u);
    EXPECT_EQ(sizeof(KSPROPERTY_DROPPEDFRAMES_CURRENT_S), 48u);
    EXPECT_EQ(sizeof(KSALLOCATOR_FRAMING), 24u);
    EXPECT_EQ(sizeof(KSMULTIPLE_ITEM), 8u);
    EXPECT_EQ(sizeof(KSPROPERTY_STEPPING_LONG), 16u);
    EXPECT_EQ(sizeof(KSPROPERTY_MEMBERSHEADER), 16u);

    // Offsets a driver computes by hand: the video-info header behind the range,
    // the bitmap header behind its 48-byte preamble, the answers of properties.
    EXPECT_EQ(offsetof(KS_DATARANGE_VIDEO, ConfigCaps), 80u);
    EXPECT_EQ(offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader), 208u);
    EXPECT_EQ(offsetof(KS_VIDEO_STREAM_CONFIG_CAPS, MinFrameInterval), 104u);
    EXPECT_EQ(offsetof(KS_VIDEOINFOHEADER, AvgTimePerFrame), 40u);
    EXPECT_EQ(offsetof(KS_VIDEOINFOHEADER, bmiHeader), 48u);
    EXPECT_EQ(offsetof(KS_BITMAPINFOHEADER, biSizeImage), 20u);
    EXPECT_EQ(offsetof(KSPROPERTY_VIDEOPROCAMP_S, Value), 24u);
    EXPECT_EQ(offsetof(KSPROPERTY_DROPPEDFRAMES_CURRENT_S, AverageFrameSize), 40u);
    EXPECT_EQ(offsetof(KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S, CurrentActualFrameRate), 40u);
    EXPECT_EQ(offsetof(KSALLOCATOR_FRAMING, FrameSize), 12u);
}

TEST(StreamClassRecords, RecordsWithPointersFollowThePointerWidth)
{
    // Fields before the first pointer keep their places on every platform.
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, PresentationTime), 8u);
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, Duration), 24u);
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, FrameExtent), 32u);
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, DataUsed), 36u);
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, Data), 40u);
    EXPECT_EQ(offsetof(KS_FRAME_INFO, PictureNumber), 8u);
    EXPECT_EQ(offsetof(KS_FRAME_INFO, DropCount), 16u);
    EXPECT_EQ(offsetof(KS_FRAME_INFO, hDirectDraw), 24u);
    EXPECT_EQ(sizeof(KS_FRAME_INFO), 56u + 2 * sizeof(void*));
    EXPECT_EQ(offsetof(HW_STREAM_REQUEST_BLOCK, Command), 4u);
    EXPECT_EQ(offsetof(HW_STREAM_REQUEST_BLOCK, Status), 8u);
}

TEST(StreamClassRecords, GuidsHaveThePublishedValues)
{
    EXPECT_EQ(guidText(KSDATAFORMAT_TYPE_VIDEO), "{73646976-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(guidText(KSDATAFORMAT_SPECIFIER_VIDEOINFO), "{05589F80-C356-11CE-BF01-00AA0055595A}");
    EXPECT_EQ(guidText(MEDIASUBTYPE_RGB24), "{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
    EXPECT_EQ(guidText(MEDIASUBTYPE_I420), "{30323449-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(guidText(KSCATEGORY_VIDEO), "{6994AD05-93EF-11D0-A3CC-00A0C9223196}");
    EXPECT_EQ(guidText(KSCATEGORY_CAPTURE), "{65E8773D-8F56-11D0-A3B9-00A0C9223196}");
    EXPECT_EQ(guidText(PINNAME_VIDEO_CAPTURE), "{FB6C4281-0353-11D1-905F-0000C0CC16BA}");
    EXPECT_EQ(guidText(PINNAME_VIDEO_STILL), "{FB6C428A-0353-11D1-905F-0000C0CC16BA}");
    EXPECT_EQ(guidText(KSMEDIUMSETID_Standard), "{4747B320-62CE-11CF-A5D6-28DB04C10000}");
    EXPECT_EQ(guidText(KSPROPSETID_Connection), "{1D58C920-AC9B-11CF-A5D6-28DB04C10000}");
    EXPECT_EQ(guidText(PROPSETID_VIDCAP_VIDEOPROCAMP), "{C6E13360-30AC-11D0-A18C-00A0C9118956}");
    EXPECT_EQ(guidText(PROPSETID_VIDCAP_CAMERACONTROL), "{C6E13370-30AC-11D0-A18C-00A0C9118956}");
    EXPECT_EQ(guidText(PROPSETID_VIDCAP_VIDEOCONTROL), "{6A2E0670-28E4-11D0-A18C-00A0C9118956}");
    EXPECT_EQ(guidText(PROPSETID_VIDCAP_DROPPEDFRAMES), "{C6E13344-30AC-11D0-A18C-00A0C9118956}");
    EXPECT_EQ(guidText(KSEVENTSETID_VIDCAPTOSTI), "{DB47DE20-F628-11D1-BA41-00A0C90D2B05}");
    EXPECT_EQ(guidText(GUID_DEVINTERFACE_IMAGE), "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}");
    // The in-memory form is little-endian in the first three fields.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&MEDIASUBTYPE_I420);
    EXPECT_EQ(bytes[0], 0x49);
    EXPECT_EQ(bytes[3], 0x30);
}

TEST(StreamClassRecords, CommandAndNotificationCodes)
{
    EXPECT_EQ(SRB_INDICATE_MASTER_CLOCK, 7);
    EXPECT_EQ(SRB_PROPOSE_DATA_FORMAT, 0xA);
    EXPECT_EQ(SRB_END_FLUSH, 0x10);
    EXPECT_EQ(SRB_GET_STREAM_INFO, 0x100);
    EXPECT_EQ(SRB_OPEN_DEVICE_INSTANCE, 0x103);
    EXPECT_EQ(SRB_GET_DEVICE_PROPERTY, 0x105);
    EXPECT_EQ(SRB_INITIALIZE_DEVICE, 0x107);
    EXPECT_EQ(SRB_UNKNOWN_DEVICE_COMMAND, 0x10A);
    EXPECT_EQ(SRB_GET_DATA_INTERSECTION, 0x10C);
    EXPECT_EQ(SRB_SURPRISE_REMOVAL, 0x10E);
    EXPECT_EQ(SRB_DEVICE_METHOD, 0x10F);
    EXPECT_EQ(ReadyForNextDeviceRequest, 0);
    EXPECT_EQ(DeviceRequestComplete, 1);
    EXPECT_EQ(SignalMultipleDeviceEvents, 2);
    EXPECT_EQ(ReadyForNextStreamDataRequest, 0);
    EXPECT_EQ(StreamRequestComplete, 3);
    EXPECT_EQ(KSSTATE_RUN, 3);
    EXPECT_EQ(PowerDeviceD3, 4);
    EXPECT_EQ(KSSTREAM_HEADER_OPTIONSF_SPLICEPOINT | KSSTREAM_HEADER_OPTIONSF_TIMEVALID |
                  KSSTREAM_HEADER_OPTIONSF_DURATIONVALID,
              0x111);
    EXPECT_EQ(KS_VideoControlFlag_ExternalTriggerEnable | KS_VideoControlFlag_Trigger, 12);
    EXPECT_EQ(korval::host::srbCommandName(SRB_SURPRISE_REMOVAL), "SRB_SURPRISE_REMOVAL");
    EXPECT_EQ(korval::host::srbCommandName(0x200), "SRB command 0x200");
}

DEFINE_KSPROPERTY_TABLE(ExampleItems){
    DEFINE_KSPROPERTY_ITEM(KSPROPERTY_VIDEOPROCAMP_GAMMA, TRUE, sizeof(KSPROPERTY_VIDEOPROCAMP_S),
                           sizeof(KSPROPERTY_VIDEOPROCAMP_S), FALSE, nullptr, 0, nullptr, nullptr, sizeof(ULONG)),
};
DEFINE_KSPROPERTY_SET_TABLE(ExampleSets){
    DEFINE_KSPROPERTY_SET(&PROPSETID_VIDCAP_VIDEOPROCAMP, SIZEOF_ARRAY(ExampleItems), ExampleItems, 0, nullptr),
};
DEFINE_KSEVENT_TABLE(ExampleEvents){
    DEFINE_KSEVENT_ITEM(KSEVENT_VIDCAPTOSTI_EXT_TRIGGER, 0, 0, nullptr, nullptr, nullptr),
};
DEFINE_KSEVENT_SET_TABLE(ExampleEventSets){
    DEFINE_KSEVENT_SET(&KSEVENTSETID_VIDCAPTOSTI, SIZEOF_ARRAY(ExampleEvents), ExampleEvents),
};

TEST(StreamClassRecords, TableMacrosMarkSupportedItems)
{
    EXPECT_EQ(ExampleItems[0].PropertyId, static_cast<ULONG>(KSPROPERTY_VIDEOPROCAMP_GAMMA));
    EXPECT_TRUE(ExampleItems[0].GetSupported);
    EXPECT_EQ(ExampleItems[0].SetPropertyHandler, nullptr);
    EXPECT_EQ(ExampleItems[0].MinData, 40u);
    EXPECT_EQ(ExampleItems[0].SerializedSize, 4u);
    EXPECT_EQ(ExampleSets[0].PropertiesCount, 1u);
    EXPECT_EQ(*ExampleSets[0].Set, PROPSETID_VIDCAP_VIDEOPROCAMP);
    EXPECT_EQ(ExampleEventSets[0].EventItem[0].EventId, 0u);
}

} // namespace
