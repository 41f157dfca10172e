// The installed tuning table reproduces the driver's built-in picture and
// camera programming, so that a valid table changes nothing by itself.
#include "settings/RegistrySettings.h"
#include "host/kernel/platform.h"
#include "stream/CapturePipeline.h"
#include "tools/korval/registry_defaults.h"
#include "usb/CCameraRegisters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using namespace korval;

std::uint32_t installed(int index)
{
    for (const auto& entry : tools::registryDefaults()) {
        if (entry.index == index) {
            return entry.value;
        }
    }
    ADD_FAILURE() << "A_" << index << " is not installed";
    return 0;
}

TEST(RegistryDefaultsTest, ValidTableBuildsTheBuiltInParameters)
{
    host::Platform platform;
    tools::installRegistryDefaults(platform.registry());
    EXPECT_FALSE(tools::tuningTableProblem(platform.registry()));
    auto device = std::make_unique<DeviceContext>();
    InitializeDeviceState(device.get());
    LoadSettings(device.get());
    ASSERT_TRUE(ValidateSettings(device.get()));

    tagIpParameters stored{}, builtIn{};
    tagAeParameters storedAe{}, builtInAe{};
    BuildImageParameters(device.get(), &stored);
    BuildAeParameters(device.get(), 1023, &storedAe);
    device->SettingsValid = FALSE;
    BuildImageParameters(device.get(), &builtIn);
    BuildAeParameters(device.get(), 1023, &builtInAe);
    EXPECT_EQ(std::memcmp(&stored, &builtIn, sizeof(stored)), 0) << "image-processing parameters differ";
    EXPECT_EQ(std::memcmp(&storedAe, &builtInAe, sizeof(storedAe)), 0) << "auto-exposure parameters differ";
}

TEST(RegistryDefaultsTest, StoredRegisterTableIsTheCameraDefaults)
{
    CCameraRegisters registers;
    registers.BusPower = 250; // the camera's bMaxPower, read at start
    registers.ResetRegisters(); // unbound: loads and encodes the defaults, sends nothing
    ULONG table[STORED_TABLE_SLOTS];
    for (ULONG slot = 0; slot < STORED_TABLE_SLOTS; ++slot) {
        table[slot] = installed(static_cast<int>(slot));
    }
    const auto defaults = std::to_array(registers.RegisterImage);
    registers.ProgramStoredTable(table);
    for (int reg : {0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11,
                    0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47,
                    0x48, 0x49, 0x4A, 0x4B}) {
        EXPECT_EQ(registers.RegisterImage[reg], defaults[reg]) << "register " << reg;
    }
}

TEST(RegistryDefaultsTest, InstallsTheTuningTableOnlyWhereThereIsNone)
{
    host::Registry edited;
    edited.setValue(tools::kParametersKey, "A_14", host::RegistryValue::dword(0x00270010));
    tools::installRegistryDefaults(edited);
    EXPECT_FALSE(edited.value(tools::kParametersKey, "A_15")) << "an edited table is not completed";
    EXPECT_FALSE(edited.value(tools::kParametersKey, "A_65"));
    EXPECT_EQ(edited.value(tools::kParametersKey, "A_77")->asDword(), 255u) << "user settings are";
    EXPECT_NE(tools::tuningTableProblem(edited)->find("\"A_65\" is missing"), std::string::npos);

    edited.setValue(tools::kParametersKey, "A_65", host::RegistryValue::dword(1));
    EXPECT_NE(tools::tuningTableProblem(edited)->find("is 0x00000001, not"), std::string::npos);
}

} // namespace
