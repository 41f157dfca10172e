// The private set while the capture stream is open: current values, auto
// exposure and image processing changed at once, overlay frames loaded.
#include "PropertyFixture.h"

namespace korval::property_test {
namespace {

TEST_F(PropertyTest, OpenPrivateGetsAnswerTheCurrentValues)
{
    preset(135, 0x00AA000F);
    preset(133, 3);
    openCapture();
    EXPECT_EQ(privateValue(KSPROPERTY_KORVAL_FRAME_RATE), 15u);
    EXPECT_EQ(privateValue(KSPROPERTY_KORVAL_EFFECT), 3u);
    preset(135, 30);
    EXPECT_EQ(privateValue(KSPROPERTY_KORVAL_FRAME_RATE), 15u) << "no registry read while open";
    EXPECT_EQ(getPrivate(KSPROPERTY_KORVAL_STEP_BOOST).status, STATUS_NOT_SUPPORTED);
}

TEST_F(PropertyTest, AutoExposureSwitchesTakeTheirLowByte)
{
    openCapture();
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_STEP_BOOST, 0x105), STATUS_SUCCESS);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_MAINS_FREQUENCY, 50), STATUS_SUCCESS);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE, 1), STATUS_SUCCESS);
    const tagAeParameters p = ae();
    EXPECT_EQ(p.ucStepBoost, 5);
    EXPECT_EQ(p.ucMainsFrequency, 50);
    EXPECT_EQ(p.ucFractionalExposure, 1);
    EXPECT_EQ(context_->CurStepBoost, 0x105u);
    EXPECT_EQ(privateValue(KSPROPERTY_KORVAL_MAINS_FREQUENCY), 50u);
    EXPECT_EQ(setPrivate(KSPROPERTY_KORVAL_MAINS_FREQUENCY, 0x200), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ae().ucMainsFrequency, 50);
    EXPECT_EQ(context_->CurMainsFrequency, 50u);
}

TEST_F(PropertyTest, LongExposureLimitsDoubleTheStoredMaximumExposures)
{
    presetValidTable(0x0030000B); // long 48, normal 11
    openCapture();
    ASSERT_TRUE(context_->SettingsValid);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, 1), STATUS_SUCCESS);
    EXPECT_EQ(ae().usMaxExposure, 22);
    EXPECT_EQ(ae().usMaxExposureLong, 96);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, 0), STATUS_SUCCESS);
    EXPECT_EQ(ae().usMaxExposure, 11);
    EXPECT_EQ(ae().usMaxExposureLong, 48);
}

TEST_F(PropertyTest, LongExposureLimitsWithoutValidSettingsDoubleTheBuiltInOnes)
{
    openCapture();
    ASSERT_FALSE(context_->SettingsValid);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, 1), STATUS_SUCCESS);
    EXPECT_EQ(ae().usMaxExposure, 26);
    EXPECT_EQ(ae().usMaxExposureLong, 78);
}

TEST_F(PropertyTest, FrameRateSelectsTheFastestTimingRow)
{
    openCapture();
    const std::pair<ULONG, USHORT> cases[] = {{255, 0}, {31, 0}, {30, 0}, {29, 1}, {23, 1}, {18, 2}, {15, 3},
                                              {13, 4},  {10, 5}, {8, 6},   {6, 7},  {4, 8},  {3, 9},  {1, 9}};
    for (const auto& [rate, row] : cases) {
        ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_FRAME_RATE, rate), STATUS_SUCCESS) << rate;
        EXPECT_EQ(ae().usMinRow, row) << rate << " frames per second";
        EXPECT_EQ(privateValue(KSPROPERTY_KORVAL_FRAME_RATE), rate);
    }
    EXPECT_EQ(setPrivate(KSPROPERTY_KORVAL_FRAME_RATE, 0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ae().usMinRow, 9);
    EXPECT_EQ(context_->CurFrameRate, 1u);
}

TEST_F(PropertyTest, MirrorAndFlipFollowTheValueOne)
{
    openCapture();
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_MIRROR, 1), STATUS_SUCCESS);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_FLIP, 0), STATUS_SUCCESS);
    EXPECT_EQ(ip().bMirror, 1);
    EXPECT_EQ(ip().bFlip, 0);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_MIRROR, 2), STATUS_SUCCESS);
    EXPECT_EQ(ip().bMirror, 0) << "only 1 means on";
}

TEST_F(PropertyTest, UpsideDownCameraKeepsMirrorAndFlipInverted)
{
    preset(51, 0x200);
    openCapture();
    context_->Stream->OrientationValue = 0xFF;
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_MIRROR, 1), STATUS_SUCCESS);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_FLIP, 0), STATUS_SUCCESS);
    EXPECT_EQ(ip().bMirror, 0);
    EXPECT_EQ(ip().bFlip, 1);
    context_->Stream->OrientationValue = 0x00;
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_FLIP, 0), STATUS_SUCCESS);
    EXPECT_EQ(ip().bFlip, 0);
}

TEST_F(PropertyTest, StoredOnlyValuesChangeNothingInTheStream)
{
    openCapture();
    const tagIpParameters ipBefore = ip();
    const tagAeParameters aeBefore = ae();
    const std::pair<ULONG, ULONG DeviceContext::*> items[] = {
        {KSPROPERTY_KORVAL_OPTION_10, &DeviceContext::CurOption10},
        {KSPROPERTY_KORVAL_FULL_BANDWIDTH, &DeviceContext::CurFullBandwidth},
        {KSPROPERTY_KORVAL_ALTERNATE_SETTING, &DeviceContext::CurAlternateSetting},
        {KSPROPERTY_KORVAL_OPTION_13, &DeviceContext::CurOption13},
        {KSPROPERTY_KORVAL_EFFECT, &DeviceContext::CurEffect},
    };
    ULONG value = 3;
    for (const auto& [id, field] : items) {
        ASSERT_EQ(setPrivate(id, value), STATUS_SUCCESS) << id;
        EXPECT_EQ(context_->*field, value) << id;
        EXPECT_EQ(privateValue(id), value) << id;
        ++value;
    }
    const tagIpParameters ipAfter = ip();
    const tagAeParameters aeAfter = ae();
    EXPECT_EQ(std::memcmp(&ipBefore, &ipAfter, sizeof(ipAfter)), 0);
    EXPECT_EQ(std::memcmp(&aeBefore, &aeAfter, sizeof(aeAfter)), 0);
}

TEST_F(PropertyTest, ManualColourGainsResetGreenAndShiftTheBrightness)
{
    preset(77, 255);
    preset(97, 64);
    openCapture();
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 1, 2), STATUS_SUCCESS); // gains 140, 128, 150
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_GAIN_2, 200), STATUS_SUCCESS);
    // (150 >> 2) + (200 >> 1) + (140 >> 2) - 128 = 44; x 64 / 64.
    EXPECT_EQ(ip().sGamma.usBrightness, 255 + 44);
    EXPECT_EQ(context_->ManualGain2, 200u);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_GAIN_1, 180), STATUS_SUCCESS);
    EXPECT_EQ(context_->CurGain2, 128u) << "red and blue gains come with a neutral green";
    EXPECT_EQ(context_->ManualGain2, 200u);
    EXPECT_EQ(context_->ManualGain1, 180u);
    // 37 + 64 + 45 - 128 = 18.
    EXPECT_EQ(ip().sGamma.usBrightness, 255 + 18);
    EXPECT_EQ(privateValue(KSPROPERTY_KORVAL_GAIN_1), 180u);
}

TEST_F(PropertyTest, ColourGainsUnderAutoWhiteBalanceOnlyStore)
{
    preset(77, 260);
    preset(91, 1);
    openCapture();
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_GAIN_3, 250), STATUS_SUCCESS);
    EXPECT_EQ(context_->CurGain3, 250u);
    EXPECT_EQ(context_->ManualGain3, 250u);
    EXPECT_EQ(context_->CurGain2, 0u) << "green untouched";
    EXPECT_EQ(ip().sGamma.usBrightness, 260);
}

TEST_F(PropertyTest, OverlayFrameLoadsAndAFailedLoadKeepsThePreviousFrame)
{
    installOverlay(3, 0x33);
    installOverlay(4, 0x44);
    openCapture();
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_OVERLAY_FRAME, 3), STATUS_SUCCESS);
    EXPECT_EQ(context_->CurOverlayFrame, 3u);
    EXPECT_EQ(overlayLevel(), 0x33);
    EXPECT_NE(setPrivate(KSPROPERTY_KORVAL_OVERLAY_FRAME, 9), STATUS_SUCCESS) << "frame 9 is not installed";
    EXPECT_EQ(privateValue(KSPROPERTY_KORVAL_OVERLAY_FRAME), 3u);
    EXPECT_EQ(overlayLevel(), 0x33);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_OVERLAY_FRAME, 4), STATUS_SUCCESS);
    EXPECT_EQ(overlayLevel(), 0x44);
    std::filesystem::remove(machine_ / "C" / "frames" / "frame4p3.bmp");
    EXPECT_EQ(setPrivate(KSPROPERTY_KORVAL_OVERLAY_FRAME, 4), STATUS_SUCCESS) << "the current frame: nothing to load";
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_OVERLAY_FRAME, 0), STATUS_SUCCESS);
    EXPECT_EQ(context_->CurOverlayFrame, 0u);
    EXPECT_EQ(overlayLevel(), 0x44) << "0 switches compositing off without clearing";
}

} // namespace
} // namespace korval::property_test
