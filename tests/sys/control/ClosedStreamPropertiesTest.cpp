// Properties while the capture stream is closed: gets read the user settings
// from the registry again, sets write them back, low 16 bits only.
#include "PropertyFixture.h"

namespace korval::property_test {
namespace {

using Triple = std::array<std::int64_t, 3>;

TEST_F(PropertyTest, ClosedProcAmpGetsAnswerTheLow16BitsAsManual)
{
    const int settings[] = {77, 79, 81, 83, 85, 87, 89};
    for (ULONG id = 0; id < 7; ++id) {
        preset(settings[id], 0x00120080 + id);
        EXPECT_EQ(procAmp(id), (Triple{0x80 + id, 2, 2})) << "id " << id;
    }
    preset(91, 0xABCD0001);
    preset(127, 0x5555);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE), (Triple{0, 1, 1})) << "white balance: mode only";
    preset(93, 0x00070001);
    preset(115, 0x00090040);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION), (Triple{0x40, 1, 2}));
}

TEST_F(PropertyTest, ClosedGetsReadTheRegistryAgainEachTime)
{
    preset(85, 4);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_SHARPNESS)[0], 4);
    preset(85, 9);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_SHARPNESS)[0], 9);
    context_->CurSharpness = 12; // current values are not what a closed stream answers
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_SHARPNESS)[0], 9);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_GAMMA), (Triple{0, 2, 2})) << "missing value: the empty slot";
}

TEST_F(PropertyTest, ClosedExposureAnswersBothSettingsWithAutoAndManualCapabilities)
{
    preset(95, 0x00010001);
    preset(97, 0x00FF0064);
    Answer answer = getExposure();
    ASSERT_EQ(answer.status, STATUS_SUCCESS);
    EXPECT_EQ(answer.bytesReturned, 40u);
    auto record = answer.as<KSPROPERTY_CAMERACONTROL_S>();
    EXPECT_EQ(record.Value, 100);
    EXPECT_EQ(record.Flags, 1u);
    EXPECT_EQ(record.Capabilities, 3u);
}

TEST_F(PropertyTest, ClosedPrivateGetsReadTheirSettings)
{
    const std::pair<ULONG, int> items[] = {{2, 109},  {4, 107},  {7, 99},   {8, 101},  {9, 103},
                                           {10, 105}, {11, 111}, {12, 113}, {13, 117}, {14, 119},
                                           {15, 121}, {16, 123}, {20, 133}, {21, 131}, {22, 135}};
    for (const auto& [id, setting] : items) {
        preset(setting, 0xBEEF0000u | (id * 3));
    }
    for (const auto& [id, setting] : items) {
        EXPECT_EQ(privateValue(id), id * 3) << "id " << id << " from A_" << setting;
    }
}

TEST_F(PropertyTest, FailingRegistryReadAnswersInvalidParameterWithNothingReturned)
{
    platform_->registry().deleteKey(kParameters);
    Answer answer = getProcAmp(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS);
    EXPECT_EQ(answer.status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(answer.bytesReturned, 0u);
    EXPECT_EQ(getProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(getProcAmp(KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(getExposure().status, STATUS_INVALID_PARAMETER);
    answer = getPrivate(KSPROPERTY_KORVAL_FRAME_RATE);
    EXPECT_EQ(answer.status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(answer.bytesReturned, 0u);
    EXPECT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 1), STATUS_SUCCESS) << "write errors are ignored";
}

TEST_F(PropertyTest, SettingOfAnotherTypeReadsAsMissing)
{
    preset(87, 0x10046);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_GAMMA)[0], 0x46);
    presetUnreadable(87);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_GAMMA)[0], 0x46) << "the slot keeps what it held";
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_GAMMA, 0x50), STATUS_SUCCESS);
    EXPECT_EQ(stored(87), 0x10050u) << "replaced by a DWORD";
}

TEST_F(PropertyTest, ClosedSetsReplaceTheLow16BitsAndKeepTheRegistrysHigh16)
{
    // The device has never loaded its settings: the high half must come from the registry.
    preset(77, 0x00120080);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 0x90), STATUS_SUCCESS);
    EXPECT_EQ(stored(77), 0x00120090u);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_HUE, 0x7FFF1234), STATUS_SUCCESS);
    EXPECT_EQ(stored(81), 0x1234u) << "a missing value is created";
    preset(91, 0x00030000);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 2, 1), STATUS_SUCCESS);
    EXPECT_EQ(stored(91), 0x00030001u) << "white balance stores its flags";
    EXPECT_FALSE(stored(127).has_value()) << "its value is never written";
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION, 150, 0), STATUS_SUCCESS);
    EXPECT_EQ(stored(93), 0u);
    EXPECT_EQ(stored(115), 150u);
    ASSERT_EQ(setExposure(120, 2), STATUS_SUCCESS);
    EXPECT_EQ(stored(95), 2u);
    EXPECT_EQ(stored(97), 120u);
    EXPECT_EQ(context_->CurBrightness, 0u) << "closed sets leave the current values";
}

TEST_F(PropertyTest, ClosedSetsWriteFlagsBeforeValues)
{
    std::vector<std::string> order;
    platform_->registry().deleteKey(kParameters);
    platform_->registry().createKey(kParameters);
    ASSERT_EQ(setExposure(50, 1), STATUS_SUCCESS);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION, 10, 1), STATUS_SUCCESS);
    EXPECT_EQ(platform_->registry().valueNames(kParameters),
              (std::vector<std::string>{"A_95", "A_97", "A_93", "A_115"}));
}

TEST_F(PropertyTest, ClosedPrivateSetsStoreOnlyTheRegistryBackedSwitches)
{
    for (ULONG id : {2u, 4u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u}) {
        EXPECT_EQ(setPrivate(id, 50 + id), STATUS_SUCCESS) << "id " << id;
        EXPECT_EQ(privateValue(id), 50 + id) << "id " << id;
    }
    for (ULONG id : {1u, 20u, 21u, 22u}) {
        EXPECT_EQ(setPrivate(id, 7), STATUS_NOT_SUPPORTED) << "id " << id;
    }
    EXPECT_FALSE(stored(133).has_value());
    EXPECT_FALSE(stored(131).has_value());
    EXPECT_FALSE(stored(135).has_value());
}

TEST_F(PropertyTest, MainsFrequencyOfZeroIsRefusedAndNothingStored)
{
    preset(109, 0x00010032);
    EXPECT_EQ(setPrivate(KSPROPERTY_KORVAL_MAINS_FREQUENCY, 0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(setPrivate(KSPROPERTY_KORVAL_MAINS_FREQUENCY, 0x100), STATUS_INVALID_PARAMETER) << "low byte 0";
    EXPECT_EQ(stored(109), 0x00010032u);
    EXPECT_EQ(setPrivate(KSPROPERTY_KORVAL_MAINS_FREQUENCY, 60), STATUS_SUCCESS);
    EXPECT_EQ(stored(109), 0x0001003Cu);
}

TEST_F(PropertyTest, ClosedSettingsReachTheNextOpen)
{
    presetValidTable();
    preset("KVDSN", 5);
    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_CONTRAST, 33), STATUS_SUCCESS);
    ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_GAIN_1, 200), STATUS_SUCCESS);
    openCapture();
    EXPECT_EQ(context_->CurContrast, 33u);
    EXPECT_EQ(context_->CurGain1, 200u);
    EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_CONTRAST)[0], 33);
    EXPECT_EQ(privateValue(KSPROPERTY_KORVAL_GAIN_1), 200u);
}

} // namespace
} // namespace korval::property_test
