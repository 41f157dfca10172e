// VIDEOPROCAMP and exposure while the capture stream is open: the current
// values answer, and a set changes the stream's image processing or auto
// exposure at once.
#include "PropertyFixture.h"

namespace korval::property_test {
namespace {

using Triple = std::array<std::int64_t, 3>;

TEST_F(PropertyTest, OpenGetsAnswerTheCurrentValues)
{
    preset(77, 0x00120080);
    preset(91, 0);
    preset(127, 0x00050002);
    openCapture();
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS), (Triple{0x80, 2, 2}));
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_SATURATION), (Triple{0, 0, 2})) << "saturation flags start at 0";
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE), (Triple{2, 0, 1}));
    preset(77, 0x99);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS)[0], 0x80) << "no registry read while open";
    context_->CurExposure = 90;
    context_->CurExposureFlags = 1;
    auto exposure = getExposure().as<KSPROPERTY_CAMERACONTROL_S>();
    EXPECT_EQ(exposure.Value, 90);
    EXPECT_EQ(exposure.Flags, 1u);
    EXPECT_EQ(exposure.Capabilities, 3u);
}

TEST_F(PropertyTest, OpenSetsChangeTheToneColourAndSharpnessWords)
{
    openCapture();
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_CONTRAST, 40), STATUS_SUCCESS);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_HUE, 270), STATUS_SUCCESS);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_SHARPNESS, 0x10B), STATUS_SUCCESS);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_GAMMA, 120), STATUS_SUCCESS);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 300), STATUS_SUCCESS);
    const tagIpParameters p = ip();
    EXPECT_EQ(p.sGamma.usBlackPoint, 40);
    EXPECT_EQ(p.sColor.usHue, 270);
    EXPECT_EQ(p.usSharpness, 0x0B14) << "strength from the value's low byte, threshold kept";
    EXPECT_EQ(p.sGamma.usGamma, 120);
    EXPECT_EQ(p.sGamma.usBrightness, 300) << "auto white balance: the brightness itself";
    EXPECT_EQ(context_->CurContrast, 40u);
    EXPECT_EQ(context_->CurSharpness, 0x10Bu);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_HUE), (Triple{270, 2, 2}));
    EXPECT_FALSE(stored(79).has_value()) << "nothing goes to the registry while open";
}

TEST_F(PropertyTest, SaturationIsHeldAtZeroWhileColourIsOff)
{
    preset(83, 120);
    preset(89, 1);
    openCapture();
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_COLORENABLE, 0), STATUS_SUCCESS);
    EXPECT_EQ(ip().sColor.usSaturation, 0);
    EXPECT_EQ(context_->SavedSaturation, 120u);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_SATURATION, 150), STATUS_SUCCESS);
    EXPECT_EQ(ip().sColor.usSaturation, 0);
    EXPECT_EQ(context_->CurSaturation, 0u);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_COLORENABLE, 0, 1), STATUS_SUCCESS);
    EXPECT_EQ(context_->CurColorEnableFlags, 2u) << "an unchanged value changes nothing";
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_COLORENABLE, 1), STATUS_SUCCESS);
    EXPECT_EQ(ip().sColor.usSaturation, 120) << "the saturation from before it was disabled";
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_COLORENABLE, 2), STATUS_SUCCESS);
    EXPECT_EQ(ip().sColor.usSaturation, 120) << "still enabled: nothing restored from the saved copy";
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_SATURATION, 90), STATUS_SUCCESS);
    EXPECT_EQ(ip().sColor.usSaturation, 90);
}

TEST_F(PropertyTest, ColourDisabledAtOpenRestoresTheStoredSaturation)
{
    preset(83, 140);
    preset(89, 0);
    openCapture();
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_COLORENABLE, 1), STATUS_SUCCESS);
    EXPECT_EQ(ip().sColor.usSaturation, 140);
    EXPECT_EQ(context_->CurSaturation, 140u);
}

TEST_F(PropertyTest, ManualWhiteBalancePresetsShiftTheBrightnessByTheGains)
{
    openCapture();
    context_->CurBrightness = 255;
    context_->CurExposure = 100;
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 1, 2), STATUS_SUCCESS);
    EXPECT_EQ(ip().bAwb, 0);
    EXPECT_EQ(context_->CurGain1, 140u);
    EXPECT_EQ(context_->CurGain2, 128u);
    EXPECT_EQ(context_->CurGain3, 150u);
    // (150 >> 2) + (128 >> 1) + (140 >> 2) - 128 = 8; 8 x 100 / 64 = 12.
    EXPECT_EQ(ip().sGamma.usBrightness, 255 + 12);

    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 0, 2), STATUS_SUCCESS);
    // (300 >> 2) + (180 >> 1) + (128 >> 2) - 128 = 69; 69 x 100 / 64 = 107.
    EXPECT_EQ(ip().sGamma.usBrightness, 255 + 107);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 2, 2), STATUS_SUCCESS);
    EXPECT_EQ((Triple{context_->CurGain1, context_->CurGain2, context_->CurGain3}), (Triple{128, 130, 220}));

    context_->ManualGain1 = 96;
    context_->ManualGain3 = 64;
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 10000, 2), STATUS_SUCCESS);
    EXPECT_EQ((Triple{context_->CurGain1, context_->CurGain2, context_->CurGain3}), (Triple{96, 128, 64}));
    // 16 + 64 + 24 - 128 = -24; -24 x 100 / 64 = -37 (towards zero).
    EXPECT_EQ(ip().sGamma.usBrightness, 255 - 37);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 7, 2), STATUS_INVALID_PARAMETER);
    EXPECT_EQ((Triple{context_->CurGain1, context_->CurGain2, context_->CurGain3}), (Triple{96, 128, 64}))
        << "neither a preset nor a colour temperature: refused, gains kept";

    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 7, 1), STATUS_SUCCESS);
    EXPECT_EQ(ip().bAwb, 1);
    EXPECT_EQ(ip().sGamma.usBrightness, 255);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE), (Triple{7, 1, 1}));
}

// Every other manual value is a colour temperature: warm light takes less red
// and more blue gain, between the table's rows by mired, green neutral.
TEST_F(PropertyTest, ManualWhiteBalanceByColourTemperatureSetsTheGains)
{
    openCapture();
    const struct {
        LONG kelvin;
        Triple gains;
    } cases[] = {{2000, {105, 128, 222}}, {2850, {129, 128, 207}}, {5000, {166, 128, 168}},
                 {6500, {178, 128, 152}}, {9999, {192, 128, 133}}};
    for (const auto& c : cases) {
        ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, c.kelvin, 2), STATUS_SUCCESS) << c.kelvin;
        EXPECT_EQ((Triple{context_->CurGain1, context_->CurGain2, context_->CurGain3}), c.gains) << c.kelvin;
        EXPECT_EQ(ip().bAwb, 0);
    }
}

TEST_F(PropertyTest, ContrastMovesTheExposureTargetWithTheBlackPoint)
{
    preset(95, 1);
    preset(97, 100);
    openCapture();
    const struct {
        LONG contrast;
        int target;
    } cases[] = {{0, 100}, {5, 100}, {128, 128 + 100 * 127 / 255}, {200, 221}, {255, 255}};
    for (const auto& c : cases) {
        ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_CONTRAST, c.contrast), STATUS_SUCCESS);
        EXPECT_EQ(ip().sGamma.usBlackPoint, c.contrast);
        EXPECT_EQ(ae().ucTargetLuma, c.target) << c.contrast;
    }
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_CONTRAST, 128), STATUS_SUCCESS);
    ASSERT_EQ(setExposure(60, 1), STATUS_SUCCESS);
    EXPECT_EQ(ae().ucTargetLuma, 128 + 60 * 127 / 255) << "a new target is stretched as well";
    ASSERT_EQ(setExposure(60, 2), STATUS_SUCCESS);
    EXPECT_EQ(ae().ucTargetLuma, 60) << "manual exposure: a time, not a level";
}

// An effect number that names no effect and a manual white balance that is
// no preset, user gains or colour temperature would be taken and do nothing:
// refused, open and closed alike, leaving everything as it was.
TEST_F(PropertyTest, ValuesThatWouldDoNothingAreRefused)
{
    for (bool open : {false, true}) {
        if (open) {
            openCapture();
            ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_EFFECT, 15), STATUS_SUCCESS);
        }
        for (ULONG effect : {16u, 255u, 0x10003u}) {
            EXPECT_EQ(setPrivate(KSPROPERTY_KORVAL_EFFECT, effect), STATUS_INVALID_PARAMETER) << effect;
        }
        for (LONG value : {3, 1999, -1, 10001}) {
            EXPECT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, value, 2), STATUS_INVALID_PARAMETER) << value;
        }
        EXPECT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 1999, 1), STATUS_SUCCESS) << "auto: any value";
    }
    EXPECT_EQ(context_->CurEffect, 15u);
    EXPECT_EQ(context_->CurWhiteBalanceFlags, 1u);
}

TEST_F(PropertyTest, BrightnessShiftBelowZeroHoldsAtTheDarkestWord)
{
    openCapture();
    context_->CurExposure = 255;
    context_->ManualGain1 = context_->ManualGain3 = 0;
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 20), STATUS_SUCCESS);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 10000, 2), STATUS_SUCCESS);
    // 20 + (0 + 64 + 0 - 128) x 255 / 64 = 20 - 255 < 0: the darkest, not a wrapped word.
    EXPECT_EQ(ip().sGamma.usBrightness, 0);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 500), STATUS_SUCCESS);
    EXPECT_EQ(ip().sGamma.usBrightness, 500 - 255) << "a brightness set keeps the manual gains' shift";
}

// The brightness word is held to the published range whatever the white
// balance: a value beyond it is clamped, never cut to its low 16 bits.
TEST_F(PropertyTest, BrightnessBeyondItsRangeIsHeldAtTheBrightestWordInBothModes)
{
    openCapture();
    context_->CurExposure = 0; // no shift from the manual gains
    for (ULONG flags : {1u, 2u}) {
        SCOPED_TRACE(flags);
        ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 10000, flags), STATUS_SUCCESS);
        for (ULONG value : {600u, 0x10005u}) {
            ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, value), STATUS_SUCCESS);
            EXPECT_EQ(ip().sGamma.usBrightness, 510) << value;
        }
    }
}

TEST_F(PropertyTest, BacklightCompensationNarrowsTheMeteringWindow)
{
    openCapture();
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION, 100, 1), STATUS_SUCCESS);
    EXPECT_EQ(ip().ucMeterWidth, 25);
    EXPECT_EQ(ip().ucMeterHeight, 25);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION), (Triple{100, 1, 2}));
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION, 0, 0), STATUS_SUCCESS);
    EXPECT_EQ(ip().ucMeterWidth, 75);
    EXPECT_EQ(ip().ucMeterHeight, 75);
}

TEST_F(PropertyTest, OpenExposureSetsTheTargetAndSwitchesAutoExposure)
{
    openCapture();
    ASSERT_EQ(setExposure(0x1A0, 2), STATUS_SUCCESS);
    EXPECT_EQ(ae().ucTargetLuma, 0xA0) << "low byte";
    EXPECT_EQ(ae().ucEnable, 0);
    EXPECT_EQ(ae().ucManualExposure, 1) << "manual: the value is the exposure time";
    ASSERT_EQ(setExposure(90, 1), STATUS_SUCCESS);
    EXPECT_EQ(ae().ucTargetLuma, 90);
    EXPECT_EQ(ae().ucEnable, 1);
    EXPECT_EQ(ae().ucManualExposure, 0);
    EXPECT_EQ(context_->CurExposure, 90u);
    EXPECT_EQ(context_->CurExposureFlags, 1u);
    EXPECT_FALSE(stored(97).has_value());
}

TEST_F(PropertyTest, OpenSetsWithoutProcessingObjectsOnlyStoreTheCurrentValues)
{
    openCapture();
    StreamContext* stream = context_->Stream;
    CImageProcess* imageProcess = stream->ImageProcess;
    CAe* autoExposure = stream->AutoExposure;
    stream->ImageProcess = nullptr;
    stream->AutoExposure = nullptr;
    EXPECT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_GAMMA, 90), STATUS_SUCCESS);
    EXPECT_EQ(setExposure(80, 1), STATUS_SUCCESS);
    EXPECT_EQ(setPrivate(KSPROPERTY_KORVAL_MIRROR, 1), STATUS_SUCCESS);
    EXPECT_EQ(context_->CurGamma, 90u);
    EXPECT_EQ(context_->CurExposure, 80u);
    EXPECT_EQ(context_->CurMirror, 1u);
    stream->ImageProcess = imageProcess;
    stream->AutoExposure = autoExposure;
}

} // namespace
} // namespace korval::property_test
