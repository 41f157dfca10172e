// The answers every property set shares: sizes, unknown sets and ids, and
// requests that cannot be read; and the fixed video-control answers.
#include "PropertyFixture.h"

namespace korval::property_test {
namespace {

TEST_F(PropertyTest, EmptyDataBufferAsksForTheSizeOfEachAnswer)
{
    struct Case {
        const GUID* set;
        ULONG id;
        ULONG size;
    };
    const Case cases[] = {
        {&PROPSETID_VIDCAP_VIDEOPROCAMP, 0, 40},  {&PROPSETID_VIDCAP_VIDEOPROCAMP, 8, 40},
        {&PROPSETID_VIDCAP_CAMERACONTROL, 4, 40}, {&PROPSETID_KORVAL_CAMERA, 22, 32},
        {&PROPSETID_VIDCAP_VIDEOCONTROL, 0, 32},  {&PROPSETID_VIDCAP_VIDEOCONTROL, 1, 56},
        {&PROPSETID_VIDCAP_VIDEOCONTROL, 2, 16},  {&PROPSETID_VIDCAP_VIDEOCONTROL, 3, 32},
    };
    for (bool open : {false, true}) {
        if (open) {
            openCapture();
        }
        for (const Case& c : cases) {
            SrbResult result = rawProperty(SRB_GET_DEVICE_PROPERTY, *c.set, c.id, 24, 0);
            EXPECT_EQ(result.status, STATUS_BUFFER_OVERFLOW) << "id " << c.id << " open " << open;
            EXPECT_EQ(result.actualBytesTransferred, c.size) << "id " << c.id << " open " << open;
            result = rawProperty(SRB_GET_DEVICE_PROPERTY, *c.set, c.id, 24, c.size - 1);
            EXPECT_EQ(result.status, STATUS_BUFFER_TOO_SMALL) << "id " << c.id;
            EXPECT_EQ(result.actualBytesTransferred, 0u) << "id " << c.id;
        }
    }
}

TEST_F(PropertyTest, ShortSetDataIsRefusedBeforeAnythingIsRead)
{
    preset(77, 0x00120080);
    EXPECT_EQ(rawProperty(SRB_SET_DEVICE_PROPERTY, PROPSETID_VIDCAP_VIDEOPROCAMP, 0, 24, 36).status,
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(rawProperty(SRB_SET_DEVICE_PROPERTY, PROPSETID_KORVAL_CAMERA, 7, 24, 28).status,
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(rawProperty(SRB_SET_DEVICE_PROPERTY, PROPSETID_VIDCAP_CAMERACONTROL, 4, 24, 0).status,
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(stored(77), 0x00120080u);
}

TEST_F(PropertyTest, UnknownSetsAndIdsAreNotSupported)
{
    const GUID unknown = {0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    for (SRB_COMMAND command : {SRB_GET_DEVICE_PROPERTY, SRB_SET_DEVICE_PROPERTY}) {
        EXPECT_EQ(rawProperty(command, unknown, 0, 24, 40).status, STATUS_NOT_SUPPORTED);
        EXPECT_EQ(rawProperty(command, PROPSETID_VIDCAP_VIDEOPROCAMP, 9, 24, 40).status, STATUS_NOT_SUPPORTED);
        EXPECT_EQ(rawProperty(command, PROPSETID_VIDCAP_CAMERACONTROL, 3, 24, 40).status, STATUS_NOT_SUPPORTED);
        EXPECT_EQ(rawProperty(command, PROPSETID_VIDCAP_VIDEOCONTROL, 4, 24, 56).status, STATUS_NOT_SUPPORTED);
        for (ULONG id : {0u, 3u, 5u, 6u, 17u, 18u, 19u, 23u, 0xFFFFFFFFu}) {
            EXPECT_EQ(rawProperty(command, PROPSETID_KORVAL_CAMERA, id, 24, 32).status, STATUS_NOT_SUPPORTED)
                << "private id " << id;
        }
    }
    // Published, but refused by the handlers.
    EXPECT_EQ(getPrivate(3).status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(setPrivate(5, 1), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(getPrivate(1).status, STATUS_NOT_SUPPORTED) << "step boost has no get";
}

TEST_F(PropertyTest, UnreadableRequestsAreRefusedWithoutTouchingAnything)
{
    for (SRB_COMMAND command : {SRB_GET_DEVICE_PROPERTY, SRB_SET_DEVICE_PROPERTY}) {
        EXPECT_EQ(rawProperty(command, PROPSETID_VIDCAP_VIDEOPROCAMP, 0, 24, 40, false).status,
                  STATUS_INVALID_PARAMETER);
        EXPECT_EQ(rawProperty(command, PROPSETID_VIDCAP_VIDEOPROCAMP, 0, 23, 40).status, STATUS_INVALID_PARAMETER);
    }
    EXPECT_EQ(GetDeviceProperty(nullptr), STATUS_INVALID_PARAMETER);
    HW_STREAM_REQUEST_BLOCK srb{};
    EXPECT_EQ(SetDeviceProperty(&srb), STATUS_INVALID_PARAMETER) << "no device extension";
}

TEST_F(PropertyTest, VideoControlAnswersTriggerCapsModeAndFrameRates)
{
    KSPROPERTY_VIDEOCONTROL_CAPS_S caps{};
    caps.StreamIndex = 5;
    Answer result = property(SRB_GET_DEVICE_PROPERTY, PROPSETID_VIDCAP_VIDEOCONTROL, KSPROPERTY_VIDEOCONTROL_CAPS, caps);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytesReturned, 32u);
    EXPECT_EQ(result.as<KSPROPERTY_VIDEOCONTROL_CAPS_S>().VideoControlCaps, 12u) << "any stream";

    result = property(SRB_GET_DEVICE_PROPERTY, PROPSETID_VIDCAP_VIDEOCONTROL, KSPROPERTY_VIDEOCONTROL_MODE,
                      KSPROPERTY_VIDEOCONTROL_MODE_S{});
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytesReturned, 32u);
    EXPECT_EQ(result.as<KSPROPERTY_VIDEOCONTROL_MODE_S>().Mode, 12);

    result = property(SRB_GET_DEVICE_PROPERTY, PROPSETID_VIDCAP_VIDEOCONTROL, KSPROPERTY_VIDEOCONTROL_FRAME_RATES,
                      KSPROPERTY_VIDEOCONTROL_FRAME_RATES_S{}, 16);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytesReturned, 16u);
    struct {
        KSMULTIPLE_ITEM header;
        LONGLONG interval;
    } list{};
    std::memcpy(&list, result.data.data(), sizeof(list));
    EXPECT_EQ(list.header.Size, 16u);
    EXPECT_EQ(list.header.Count, 1u);
    EXPECT_EQ(list.interval, 333333);
}

TEST_F(PropertyTest, ActualFrameRateOnlyForTheCaptureStream)
{
    KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S request{};
    request.Dimensions = {640, 480};
    Answer result = property(SRB_GET_DEVICE_PROPERTY, PROPSETID_VIDCAP_VIDEOCONTROL,
                             KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE, request);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytesReturned, 56u);
    EXPECT_EQ(result.as<KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S>().CurrentActualFrameRate, 285714);
    EXPECT_EQ(result.as<KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S>().CurrentMaxAvailableFrameRate, 285714);
    request.StreamIndex = 1;
    result = property(SRB_GET_DEVICE_PROPERTY, PROPSETID_VIDCAP_VIDEOCONTROL,
                      KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE, request);
    EXPECT_EQ(result.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(result.bytesReturned, 0u);
}

TEST_F(PropertyTest, ModeSetIsAcceptedWithoutEffectForStreamIndexOneOnly)
{
    auto setMode = [&](ULONG streamIndex, std::size_t dataSize) {
        KSPROPERTY_VIDEOCONTROL_MODE_S mode{};
        mode.StreamIndex = streamIndex;
        mode.Mode = 4;
        return property(SRB_SET_DEVICE_PROPERTY, PROPSETID_VIDCAP_VIDEOCONTROL, KSPROPERTY_VIDEOCONTROL_MODE, mode,
                        dataSize)
            .status;
    };
    EXPECT_EQ(setMode(1, 32), STATUS_SUCCESS);
    EXPECT_EQ(setMode(0, 32), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(setMode(1, 31), STATUS_INVALID_PARAMETER);
    Answer result = property(SRB_GET_DEVICE_PROPERTY, PROPSETID_VIDCAP_VIDEOCONTROL, KSPROPERTY_VIDEOCONTROL_MODE,
                             KSPROPERTY_VIDEOCONTROL_MODE_S{});
    EXPECT_EQ(result.as<KSPROPERTY_VIDEOCONTROL_MODE_S>().Mode, 12) << "the set changed nothing";
}

} // namespace
} // namespace korval::property_test
