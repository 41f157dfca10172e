// Item tables of the published device property sets. A stream-class
// minidriver does not handle KS property IRPs itself: an item's handler
// fields only mark a direction as supported (the platform's convention is the
// value TRUE), and the class turns every request into a device property SRB.
#include "control/DevicePropertySets.h"
#include "settings/PropertyTable.h"

namespace {

constexpr bool SUPPORTED = true;
constexpr bool NOT_SUPPORTED = false;

// One stepped range and one default list of 32-bit values: what a client reads
// with KSPROPERTY_TYPE_BASICSUPPORT and KSPROPERTY_TYPE_DEFAULTVALUES.
#define PUBLISHED_VALUES(Name, Step, Minimum, Maximum, Defaults, DefaultCount)                       \
    const KSPROPERTY_STEPPING_LONG Name##Range = {Step, 0, {{Minimum, Maximum}}};                     \
    const KSPROPERTY_MEMBERSLIST Name##Members[] = {                                                 \
        {{KSPROPERTY_MEMBER_STEPPEDRANGES, sizeof(KSPROPERTY_STEPPING_LONG), 1, 0}, &Name##Range},    \
        {{KSPROPERTY_MEMBER_VALUES, sizeof(LONG), DefaultCount, KSPROPERTY_MEMBER_FLAG_DEFAULT},      \
         Defaults},                                                                                  \
    };                                                                                               \
    const KSPROPERTY_VALUES Name = {{{{KSPROPTYPESETID_General, VT_I4, 0}}}, SIZEOF_ARRAY(Name##Members),    \
                                    Name##Members}

// ---------------------------------------------------------------------------
// Video processing amplifier

// The range of an item of the property table.
#define TABLE_VALUES(Name, Set, Id, Defaults, DefaultCount)                                                 \
    PUBLISHED_VALUES(Name, TableProperty(&Set, Id).ulStep, TableProperty(&Set, Id).lMinimum,                 \
                     TableProperty(&Set, Id).lMaximum, Defaults, DefaultCount)

constexpr LONG ProcAmpDefault(ULONG Id)
{
    return TableProperty(&PROPSETID_VIDCAP_VIDEOPROCAMP, Id).lDefault;
}

// The defaults of ids 0 to 8 in one run: each of ids 0 to 5 declares four
// members starting at its own, ids 6 to 8 one.
const LONG VideoProcAmpDefaults[] = {ProcAmpDefault(0), ProcAmpDefault(1), ProcAmpDefault(2),
                                     ProcAmpDefault(3), ProcAmpDefault(4), ProcAmpDefault(5),
                                     ProcAmpDefault(6), ProcAmpDefault(7), ProcAmpDefault(8)};

#define PROCAMP_VALUES(Name, Id, DefaultCount) \
    TABLE_VALUES(Name, PROPSETID_VIDCAP_VIDEOPROCAMP, Id, &VideoProcAmpDefaults[Id], DefaultCount)

PROCAMP_VALUES(BrightnessValues, KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 4);
PROCAMP_VALUES(ContrastValues, KSPROPERTY_VIDEOPROCAMP_CONTRAST, 4);
PROCAMP_VALUES(HueValues, KSPROPERTY_VIDEOPROCAMP_HUE, 4);
PROCAMP_VALUES(SaturationValues, KSPROPERTY_VIDEOPROCAMP_SATURATION, 4);
PROCAMP_VALUES(SharpnessValues, KSPROPERTY_VIDEOPROCAMP_SHARPNESS, 4);
PROCAMP_VALUES(GammaValues, KSPROPERTY_VIDEOPROCAMP_GAMMA, 4);
PROCAMP_VALUES(ColorEnableValues, KSPROPERTY_VIDEOPROCAMP_COLORENABLE, 1);
PROCAMP_VALUES(WhiteBalanceValues, KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 1);
PROCAMP_VALUES(BacklightValues, KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION, 1);

#define VIDEOPROCAMP_ITEM(Id, Values)                                                                  \
    PublishedItem(Id, SUPPORTED, sizeof(KSPROPERTY_VIDEOPROCAMP_S), sizeof(KSPROPERTY_VIDEOPROCAMP_S), SUPPORTED, \
                  &Values, sizeof(ULONG))

constinit DEFINE_KSPROPERTY_TABLE(VideoProcAmpItems){
    VIDEOPROCAMP_ITEM(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, BrightnessValues),
    VIDEOPROCAMP_ITEM(KSPROPERTY_VIDEOPROCAMP_CONTRAST, ContrastValues),
    VIDEOPROCAMP_ITEM(KSPROPERTY_VIDEOPROCAMP_HUE, HueValues),
    VIDEOPROCAMP_ITEM(KSPROPERTY_VIDEOPROCAMP_SATURATION, SaturationValues),
    VIDEOPROCAMP_ITEM(KSPROPERTY_VIDEOPROCAMP_SHARPNESS, SharpnessValues),
    VIDEOPROCAMP_ITEM(KSPROPERTY_VIDEOPROCAMP_GAMMA, GammaValues),
    VIDEOPROCAMP_ITEM(KSPROPERTY_VIDEOPROCAMP_COLORENABLE, ColorEnableValues),
    VIDEOPROCAMP_ITEM(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, WhiteBalanceValues),
    VIDEOPROCAMP_ITEM(KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION, BacklightValues),
};

// ---------------------------------------------------------------------------
// Video control: fixed answers, no value tables.

constinit DEFINE_KSPROPERTY_TABLE(VideoControlItems){
    PublishedItem(KSPROPERTY_VIDEOCONTROL_CAPS, SUPPORTED,
                  sizeof(KSPROPERTY_VIDEOCONTROL_CAPS_S), sizeof(KSPROPERTY_VIDEOCONTROL_CAPS_S),
                  NOT_SUPPORTED, nullptr, 0),
    PublishedItem(KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE, SUPPORTED,
                  sizeof(KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S), sizeof(KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S),
                  NOT_SUPPORTED, nullptr, 0),
    // The answer is a variable-length KSMULTIPLE_ITEM list: no minimum data size.
    PublishedItem(KSPROPERTY_VIDEOCONTROL_FRAME_RATES, SUPPORTED,
                  sizeof(KSPROPERTY_VIDEOCONTROL_FRAME_RATES_S), 0,
                  NOT_SUPPORTED, nullptr, 0),
    PublishedItem(KSPROPERTY_VIDEOCONTROL_MODE, SUPPORTED,
                  sizeof(KSPROPERTY_VIDEOCONTROL_MODE_S), sizeof(KSPROPERTY_VIDEOCONTROL_MODE_S),
                  SUPPORTED, nullptr, 0),
};

// ---------------------------------------------------------------------------
// Camera control: exposure only.

constexpr const tagPropertyEntry& Exposure = TableProperty(&PROPSETID_VIDCAP_CAMERACONTROL,
                                                             KSPROPERTY_CAMERACONTROL_EXPOSURE);
// The default, then the default, the maximum and the minimum again.
const LONG ExposureDefaults[] = {Exposure.lDefault, Exposure.lDefault, Exposure.lMaximum, Exposure.lMinimum};
TABLE_VALUES(ExposureValues, PROPSETID_VIDCAP_CAMERACONTROL, KSPROPERTY_CAMERACONTROL_EXPOSURE, ExposureDefaults,
             4);

constinit DEFINE_KSPROPERTY_TABLE(CameraControlItems){
    PublishedItem(KSPROPERTY_CAMERACONTROL_EXPOSURE, SUPPORTED,
                  sizeof(KSPROPERTY_CAMERACONTROL_S), sizeof(KSPROPERTY_CAMERACONTROL_S),
                  SUPPORTED, &ExposureValues, sizeof(ULONG)),
};

// ---------------------------------------------------------------------------
// The private set. Ids 3, 5 and 6 are published, though their handlers refuse them.

// Ids 3, 5 and 6 are not in the property table: a switch each, on or off.
const LONG SwitchOn = 1;
const LONG SwitchOff = 0;
PUBLISHED_VALUES(SwitchOnValues, 1, 0, 1, &SwitchOn, 1);
PUBLISHED_VALUES(SwitchOffValues, 1, 0, 1, &SwitchOff, 1);

#define KORVAL_VALUES(Name, Id) \
    TABLE_VALUES(Name, PROPSETID_KORVAL_CAMERA, Id, &TableProperty(&PROPSETID_KORVAL_CAMERA, Id).lDefault, 1)

KORVAL_VALUES(StepBoostValues, KSPROPERTY_KORVAL_STEP_BOOST);
KORVAL_VALUES(MainsFrequencyValues, KSPROPERTY_KORVAL_MAINS_FREQUENCY);
KORVAL_VALUES(FractionalExposureValues, KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE);
KORVAL_VALUES(MirrorValues, KSPROPERTY_KORVAL_MIRROR);
KORVAL_VALUES(FlipValues, KSPROPERTY_KORVAL_FLIP);
KORVAL_VALUES(LongExposureLimitsValues, KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS);
KORVAL_VALUES(Option10Values, KSPROPERTY_KORVAL_OPTION_10);
KORVAL_VALUES(FullBandwidthValues, KSPROPERTY_KORVAL_FULL_BANDWIDTH);
KORVAL_VALUES(AlternateSettingValues, KSPROPERTY_KORVAL_ALTERNATE_SETTING);
KORVAL_VALUES(Option13Values, KSPROPERTY_KORVAL_OPTION_13);
KORVAL_VALUES(Gain1Values, KSPROPERTY_KORVAL_GAIN_1);
KORVAL_VALUES(Gain2Values, KSPROPERTY_KORVAL_GAIN_2);
KORVAL_VALUES(Gain3Values, KSPROPERTY_KORVAL_GAIN_3);
KORVAL_VALUES(OverlayFrameValues, KSPROPERTY_KORVAL_OVERLAY_FRAME);
KORVAL_VALUES(EffectValues, KSPROPERTY_KORVAL_EFFECT);
KORVAL_VALUES(FrameRateValues, KSPROPERTY_KORVAL_FRAME_RATE);

#define PRIVATE_ITEM(Id, Values)                                                                        \
    PublishedItem(Id, SUPPORTED, sizeof(tagKorvalProperty), sizeof(tagKorvalProperty), SUPPORTED, &Values, 0)

constinit DEFINE_KSPROPERTY_TABLE(KorvalCameraItems){
    PRIVATE_ITEM(KSPROPERTY_KORVAL_STEP_BOOST, StepBoostValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_MAINS_FREQUENCY, MainsFrequencyValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_UNSUPPORTED_3, SwitchOnValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE, FractionalExposureValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_UNSUPPORTED_5, SwitchOffValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_UNSUPPORTED_6, SwitchOffValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_MIRROR, MirrorValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_FLIP, FlipValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, LongExposureLimitsValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_OPTION_10, Option10Values),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_FULL_BANDWIDTH, FullBandwidthValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_ALTERNATE_SETTING, AlternateSettingValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_OPTION_13, Option13Values),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_GAIN_1, Gain1Values),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_GAIN_2, Gain2Values),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_GAIN_3, Gain3Values),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_OVERLAY_FRAME, OverlayFrameValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_EFFECT, EffectValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_FRAME_RATE, FrameRateValues),
};

// ---------------------------------------------------------------------------
// The still-image trigger: signalled by the driver, nothing to handle per client.

DEFINE_KSEVENT_TABLE(StillImageEvents){
    DEFINE_KSEVENT_ITEM(KSEVENT_VIDCAPTOSTI_EXT_TRIGGER, 0, 0, nullptr, nullptr, nullptr),
};

} // namespace

DEFINE_KSPROPERTY_SET_TABLE(DevicePropertySets){
    DEFINE_KSPROPERTY_SET(&PROPSETID_VIDCAP_VIDEOPROCAMP, SIZEOF_ARRAY(VideoProcAmpItems), VideoProcAmpItems, 0,
                          nullptr),
    DEFINE_KSPROPERTY_SET(&PROPSETID_VIDCAP_VIDEOCONTROL, SIZEOF_ARRAY(VideoControlItems), VideoControlItems, 0,
                          nullptr),
    DEFINE_KSPROPERTY_SET(&PROPSETID_VIDCAP_CAMERACONTROL, SIZEOF_ARRAY(CameraControlItems), CameraControlItems, 0,
                          nullptr),
    DEFINE_KSPROPERTY_SET(&PROPSETID_KORVAL_CAMERA, SIZEOF_ARRAY(KorvalCameraItems), KorvalCameraItems, 0, nullptr),
};
static_assert(SIZEOF_ARRAY(DevicePropertySets) == DEVICE_PROPERTY_SET_COUNT);

DEFINE_KSEVENT_SET_TABLE(DeviceEventSets){
    DEFINE_KSEVENT_SET(&KSEVENTSETID_VIDCAPTOSTI, SIZEOF_ARRAY(StillImageEvents), StillImageEvents),
};
static_assert(SIZEOF_ARRAY(DeviceEventSets) == DEVICE_EVENT_SET_COUNT);
