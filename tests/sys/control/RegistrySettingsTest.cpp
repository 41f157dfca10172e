#include "settings/RegistrySettings.h"

#include "host/kernel/irql.h"
#include "host/kernel/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace korval::host;

const char* const kParameters = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";

std::string settingName(int index)
{
    return "A_" + std::to_string(index);
}

class RegistrySettingsTest : public ::testing::Test {
protected:
    void SetUp() override { resetDevice(); }

    void resetDevice()
    {
        device_ = std::make_unique<DeviceContext>();
        InitializeDeviceState(device_.get());
    }

    void preset(const std::string& name, std::uint32_t value)
    {
        platform_->registry().setValue(kParameters, name, RegistryValue::dword(value));
    }

    std::optional<std::uint32_t> stored(const std::string& name) const
    {
        auto value = platform_->registry().value(kParameters, name);
        return value ? value->asDword() : std::nullopt;
    }

    // A table whose stored checksum matches, with the given user settings.
    void presetValidTable(std::uint32_t kvdsn)
    {
        preset("KVDSN", kvdsn);
        std::uint32_t sum = 0;
        for (int i = 0; i <= 51; ++i) {
            preset(settingName(i), 0x1000u * i + 7);
            sum += 0x1000u * i + 7;
        }
        preset("A_65", __builtin_bswap32(~sum));
    }

    std::unique_ptr<Platform> platform_ = std::make_unique<Platform>();
    std::unique_ptr<DeviceContext> device_;
};

TEST_F(RegistrySettingsTest, ChecksumIsTheByteReversedComplementOfTheSum)
{
    ULONG checksum = 0;
    ASSERT_TRUE(VerifySettings(device_.get(), &checksum));
    EXPECT_EQ(checksum, 0xFFFFFFFFu) << "all zero";
    device_->Settings[0] = 0x01020304;
    ASSERT_TRUE(VerifySettings(device_.get(), &checksum));
    EXPECT_EQ(checksum, 0xFBFCFDFEu);
    device_->Settings[0] = 0xFFFFFFFF;
    device_->Settings[51] = 2; // the sum wraps modulo 2^32 to 1
    device_->Settings[52] = 0x12345678; // outside the checksum
    ASSERT_TRUE(VerifySettings(device_.get(), &checksum));
    EXPECT_EQ(checksum, 0xFEFFFFFFu);
    EXPECT_FALSE(VerifySettings(nullptr, &checksum));
    EXPECT_FALSE(VerifySettings(device_.get(), nullptr));
}

TEST_F(RegistrySettingsTest, LoadReadsTheTableAndDerivesTheCurrentValues)
{
    presetValidTable(0x55AA);
    preset("A_77", 0x00120080);  // brightness 0x80
    preset("A_83", 0x000000A0);  // saturation 160
    preset("A_89", 1);           // colour on
    preset("A_119", 0xFFFF0090); // gain 1
    preset("A_127", 0x00010003); // white balance
    preset("A_130", 0xDEAD);     // never read
    preset("A_136", 0xBEEF);
    device_->Settings[100] = 0x4242; // no "A_100": the slot keeps its contents

    LoadSettings(device_.get());
    EXPECT_EQ(device_->SettingKvdsn, 0x55AAu);
    EXPECT_EQ(device_->Settings[77], 0x00120080u);
    EXPECT_EQ(device_->Settings[130], 0u);
    EXPECT_EQ(device_->Settings[136], 0xBEEFu);
    EXPECT_EQ(device_->Settings[100], 0x4242u);
    EXPECT_EQ(device_->CurBrightness, 0x80u);
    EXPECT_EQ(device_->CurSaturation, 160u);
    EXPECT_EQ(device_->CurGain1, 0x90u);
    EXPECT_EQ(device_->ManualGain1, 0x90u);
    EXPECT_EQ(device_->CurWhiteBalance, 3u);
    EXPECT_TRUE(ValidateSettings(device_.get()));
    EXPECT_TRUE(device_->SettingsValid);
}

TEST_F(RegistrySettingsTest, ColourDisabledAtLoadMovesTheSaturationAside)
{
    preset("A_83", 150);
    preset("A_89", 0);
    LoadSettings(device_.get());
    EXPECT_EQ(device_->CurSaturation, 0u);
    EXPECT_EQ(device_->SavedSaturation, 150u);
}

// A stored manual colour temperature acts from the open on; the presets and
// the user's gains (10000) keep the stored gains, as does auto white balance.
TEST_F(RegistrySettingsTest, StoredColourTemperatureSetsTheGainsAtLoad)
{
    const struct {
        ULONG flags, value, red, green, blue;
    } cases[] = {{2, 2850, 129, 128, 207}, {2, 10000, 100, 110, 120}, {2, 1, 100, 110, 120}, {1, 2850, 100, 110, 120}};
    for (const auto& c : cases) {
        preset("A_91", c.flags);
        preset("A_127", c.value);
        preset("A_119", 100);
        preset("A_121", 110);
        preset("A_123", 120);
        LoadSettings(device_.get());
        EXPECT_EQ(device_->CurGain1, c.red) << c.flags << " " << c.value;
        EXPECT_EQ(device_->CurGain2, c.green) << c.flags << " " << c.value;
        EXPECT_EQ(device_->CurGain3, c.blue) << c.flags << " " << c.value;
        EXPECT_EQ(device_->ManualGain1, 100u) << "the user's own gains stay aside";
    }
}

TEST_F(RegistrySettingsTest, MissingKeyIsNotAnErrorAndKeepsEverySlot)
{
    device_->Settings[5] = 77;
    LoadSettings(device_.get());
    EXPECT_EQ(device_->Settings[5], 77u);
    EXPECT_EQ(device_->SettingKvdsn, 0xFFFFFFFFu);
}

TEST_F(RegistrySettingsTest, ValueOfAnotherTypeCountsAsMissingAndNeverOverrunsItsSlot)
{
    platform_->registry().setValue(kParameters, "A_10",
                                   RegistryValue::binary(std::vector<std::uint8_t>(64, 0xAB)));
    platform_->registry().setValue(kParameters, "A_11", RegistryValue::string("a long string value"));
    platform_->registry().setValue(kParameters, "A_12", RegistryValue::binary({1, 2}));
    for (int i = 9; i <= 14; ++i) {
        device_->Settings[i] = 0x100 + i;
    }
    LoadSettings(device_.get());
    for (int i = 9; i <= 14; ++i) {
        EXPECT_EQ(device_->Settings[i], 0x100u + i) << "slot " << i;
    }
}

// A REG_DWORD of more than 4 bytes is not a number either: stored directly it
// would be placed by the slot's own value taken as a buffer size, over the
// slots behind it.
TEST_F(RegistrySettingsTest, OversizedDwordReadsAsMissingAndNeverOverrunsItsSlot)
{
    RegistryValue oversized;
    oversized.type = REG_DWORD;
    oversized.data.assign(8, 0xCD);
    platform_->registry().setValue(kParameters, "A_10", oversized);
    for (ULONG first : {100u, 0xFFFFFFF8u}) {
        SCOPED_TRACE(first);
        device_->Settings[10] = first;
        for (int i = 11; i <= 14; ++i) {
            device_->Settings[i] = 0x100 + i;
        }
        EXPECT_EQ(ReadDword(SETTINGS_KEY_PATH, KTEXT("A_10"), &device_->Settings[10]), STATUS_SUCCESS);
        EXPECT_EQ(device_->Settings[10], first);
        for (int i = 11; i <= 14; ++i) {
            EXPECT_EQ(device_->Settings[i], 0x100u + i) << "slot " << i;
        }
    }
}

TEST_F(RegistrySettingsTest, StoreReplacesTheLow16BitsAndKeepsTheHigh16)
{
    presetValidTable(7);
    preset("A_77", 0x00120080);
    LoadSettings(device_.get());
    ASSERT_TRUE(ValidateSettings(device_.get()));
    device_->CurBrightness = 0x90;
    device_->CurFrameRate = 15;
    StoreSettings(device_.get());
    EXPECT_EQ(stored("A_77"), 0x00120090u);
    EXPECT_EQ(stored("A_135"), 15u);
    EXPECT_EQ(stored("A_127"), std::nullopt) << "white balance value is never written back";
    int written = 0;
    for (const auto& name : platform_->registry().valueNames(kParameters)) {
        written += name.starts_with("A_") && std::stoi(name.substr(2)) >= 77;
    }
    EXPECT_EQ(written, 27 + 1 /* A_77 preset */ - 1);
}

TEST_F(RegistrySettingsTest, ColourDisabledAtStoreRestoresTheSavedSaturation)
{
    presetValidTable(7);
    preset("A_83", 150);
    preset("A_89", 0);
    LoadSettings(device_.get());
    ASSERT_TRUE(ValidateSettings(device_.get()));
    StoreSettings(device_.get());
    EXPECT_EQ(stored("A_83"), 150u);
    EXPECT_EQ(stored("A_89"), 0u);
}

TEST_F(RegistrySettingsTest, NothingIsWrittenBackWithoutAValidTableOrTheSameDevice)
{
    // Checksum mismatch.
    presetValidTable(7);
    preset("A_65", 1);
    LoadSettings(device_.get());
    EXPECT_FALSE(ValidateSettings(device_.get()));
    device_->CurBrightness = 0x90;
    StoreSettings(device_.get());
    EXPECT_EQ(stored("A_77"), std::nullopt);

    // "KVDSN" deleted after the load: the close reads 0, which is not 7.
    resetDevice();
    presetValidTable(7);
    LoadSettings(device_.get());
    ASSERT_TRUE(ValidateSettings(device_.get()));
    platform_->registry().deleteValue(kParameters, "KVDSN");
    StoreSettings(device_.get());
    EXPECT_EQ(stored("A_77"), std::nullopt);

    // ... but with a loaded serial of 0 the zero read matches.
    resetDevice();
    presetValidTable(0);
    LoadSettings(device_.get());
    ASSERT_TRUE(ValidateSettings(device_.get()));
    platform_->registry().deleteValue(kParameters, "KVDSN");
    StoreSettings(device_.get());
    EXPECT_NE(stored("A_77"), std::nullopt);
}

TEST_F(RegistrySettingsTest, WithoutAnyKvdsnTheSettingsAreNeverWrittenBack)
{
    presetValidTable(7);
    platform_->registry().deleteValue(kParameters, "KVDSN");
    LoadSettings(device_.get());
    EXPECT_EQ(device_->SettingKvdsn, 0xFFFFFFFFu);
    ASSERT_TRUE(ValidateSettings(device_.get()));
    StoreSettings(device_.get());
    EXPECT_EQ(stored("A_77"), std::nullopt);
}

TEST_F(RegistrySettingsTest, ReadStringOnlyAtPassiveLevel)
{
    platform_->registry().setValue(kParameters, "Frame1", RegistryValue::string("border.bmp"));
    WCHAR buffer[32] = {};
    EXPECT_EQ(ReadString(SETTINGS_KEY_PATH, KTEXT("Frame1"), buffer, sizeof(buffer)), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer)), u"border.bmp");

    WCHAR missing[8] = {'x', 0};
    EXPECT_EQ(ReadString(SETTINGS_KEY_PATH, KTEXT("Nothing"), missing, sizeof(missing)), STATUS_SUCCESS);
    EXPECT_EQ(missing[0], 0) << "an absent value reads as the empty default";

    NTSTATUS atDispatch = runAtIrql(DISPATCH_LEVEL, [&] {
        return ReadString(SETTINGS_KEY_PATH, KTEXT("Frame1"), buffer, sizeof(buffer));
    });
    EXPECT_EQ(atDispatch, STATUS_INVALID_PARAMETER);
}

// A string read of a value stored with another type fails and leaves the
// caller's buffer alone; the value never lands on the string descriptor.
TEST_F(RegistrySettingsTest, ReadStringRefusesAValueOfAnotherType)
{
    platform_->registry().setValue(kParameters, "Binary", RegistryValue::binary(std::vector<std::uint8_t>(8, 0xAB)));
    platform_->registry().setValue(kParameters, "Number", RegistryValue::dword(0x00410041));
    for (PCWSTR name : {KTEXT("Binary"), KTEXT("Number")}) {
        WCHAR buffer[8] = {'x', 'y', 0};
        EXPECT_EQ(ReadString(SETTINGS_KEY_PATH, name, buffer, sizeof(buffer)), STATUS_OBJECT_TYPE_MISMATCH);
        EXPECT_EQ(buffer[0], 'x');
        EXPECT_EQ(buffer[1], 'y');
    }
}

TEST_F(RegistrySettingsTest, SettingsSurviveANewPlatformOnTheSameMachine)
{
    const auto machine = std::filesystem::temp_directory_path() /
                         ("korval-settings-" + std::to_string(::getpid()));
    std::filesystem::remove_all(machine);
    std::filesystem::create_directories(machine);
    platform_.reset();
    platform_ = std::make_unique<Platform>(PlatformOptions{machine});
    presetValidTable(9);
    LoadSettings(device_.get());
    ASSERT_TRUE(ValidateSettings(device_.get()));
    device_->CurBrightness = 0x33;
    device_->CurGamma = 70;
    StoreSettings(device_.get());

    platform_.reset();
    platform_ = std::make_unique<Platform>(PlatformOptions{machine});
    resetDevice();
    LoadSettings(device_.get());
    EXPECT_TRUE(ValidateSettings(device_.get()));
    EXPECT_EQ(device_->CurBrightness, 0x33u);
    EXPECT_EQ(device_->CurGamma, 70u);
    EXPECT_EQ(device_->SettingKvdsn, 9u);
    platform_.reset();
    std::filesystem::remove_all(machine);
}

TEST(SettingNames, AreDecimalWithoutLeadingZeros)
{
    WCHAR name[8];
    FormatSettingName(0, name);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name)), u"A_0");
    FormatSettingName(136, name);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name)), u"A_136");
}

} // namespace
