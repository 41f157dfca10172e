// Item tables of the published device property sets. A stream-class
// minidriver does not handle KS property IRPs itself: an item's handler
// fields only mark a direction as supported (the platform's convention is the
// value TRUE), and the class turns every request into a device property SRB.
#include "control/DevicePropertySets.h"

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

// The defaults of ids 0 to 8 in one run: each of ids 0 to 5 declares four
// members starting at its own, ids 6 to 8 one.
const LONG VideoProcAmpDefaults[] = {255, 0, 0, 160, 4, 70, 1, 0, 0};

PUBLISHED_VALUES(BrightnessValues, 1, 0, 510, &VideoProcAmpDefaults[0], 4);
PUBLISHED_VALUES(ContrastValues, 1, 0, 255, &VideoProcAmpDefaults[1], 4);
PUBLISHED_VALUES(HueValues, 1, 0, 360, &VideoProcAmpDefaults[2], 4);
PUBLISHED_VALUES(SaturationValues, 1, 0, 200, &VideoProcAmpDefaults[3], 4);
PUBLISHED_VALUES(SharpnessValues, 1, 0, 16, &VideoProcAmpDefaults[4], 4);
PUBLISHED_VALUES(GammaValues, 1, 0, 150, &VideoProcAmpDefaults[5], 4);
PUBLISHED_VALUES(ColorEnableValues, 1, 0, 1, &VideoProcAmpDefaults[6], 1);
PUBLISHED_VALUES(WhiteBalanceValues, 1, 0, 10000, &VideoProcAmpDefaults[7], 1);
PUBLISHED_VALUES(BacklightValues, 1, 0, 200, &VideoProcAmpDefaults[8], 1);

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

const LONG ExposureDefaults[] = {100, 100, 255, 0};
PUBLISHED_VALUES(ExposureValues, 1, 0, 255, ExposureDefaults, 4);

constinit DEFINE_KSPROPERTY_TABLE(CameraControlItems){
    PublishedItem(KSPROPERTY_CAMERACONTROL_EXPOSURE, SUPPORTED,
                  sizeof(KSPROPERTY_CAMERACONTROL_S), sizeof(KSPROPERTY_CAMERACONTROL_S),
                  SUPPORTED, &ExposureValues, sizeof(ULONG)),
};

// ---------------------------------------------------------------------------
// The private set. Ids 3, 5 and 6 are published, though their handlers refuse them.

const LONG Default0 = 0;
const LONG Default1 = 1;
const LONG Default60 = 60;
const LONG Default100 = 100;
const LONG Default128 = 128;

PUBLISHED_VALUES(StepBoostValues, 1, 0, 255, &Default100, 1);
PUBLISHED_VALUES(MainsFrequencyValues, 10, 50, 60, &Default60, 1);
PUBLISHED_VALUES(SwitchOnValues, 1, 0, 1, &Default1, 1);
PUBLISHED_VALUES(SwitchOffValues, 1, 0, 1, &Default0, 1);
PUBLISHED_VALUES(Option10Values, 1, 0, 9, &Default0, 1);
PUBLISHED_VALUES(AlternateSettingValues, 1, 0, 8, &Default0, 1);
PUBLISHED_VALUES(Option13Values, 1, 0, 2, &Default0, 1);
PUBLISHED_VALUES(GainValues, 1, 64, 255, &Default128, 1);
PUBLISHED_VALUES(ByteValues, 1, 0, 255, &Default0, 1);

#define PRIVATE_ITEM(Id, Values)                                                                        \
    PublishedItem(Id, SUPPORTED, sizeof(tagKorvalProperty), sizeof(tagKorvalProperty), SUPPORTED, &Values, 0)

constinit DEFINE_KSPROPERTY_TABLE(KorvalCameraItems){
    PRIVATE_ITEM(KSPROPERTY_KORVAL_STEP_BOOST, StepBoostValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_MAINS_FREQUENCY, MainsFrequencyValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_UNSUPPORTED_3, SwitchOnValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE, SwitchOffValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_UNSUPPORTED_5, SwitchOffValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_UNSUPPORTED_6, SwitchOffValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_MIRROR, SwitchOnValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_FLIP, SwitchOnValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, SwitchOffValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_OPTION_10, Option10Values),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_FULL_BANDWIDTH, SwitchOffValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_ALTERNATE_SETTING, AlternateSettingValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_OPTION_13, Option13Values),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_GAIN_1, GainValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_GAIN_2, GainValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_GAIN_3, GainValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_OVERLAY_FRAME, ByteValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_EFFECT, ByteValues),
    PRIVATE_ITEM(KSPROPERTY_KORVAL_FRAME_RATE, ByteValues),
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
