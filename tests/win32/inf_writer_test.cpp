// korval.inf against the table it is made from: every default, and nothing
// else, lands under the service's Parameters key with its value.
#include "tools/korval-inf/inf_writer.h"

#include "control/DevicePropertySets.h"
#include "settings/PropertyTable.h"
#include "tools/korval/camera_properties.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

namespace korval::tools {
namespace {

struct ParameterLine {
    std::uint32_t value;
    bool keepsExisting; // FLG_ADDREG_NOCLOBBER
};

std::map<int, ParameterLine> parameterLinesIn(const std::string& inf)
{
    static const std::regex line(
        R"re(^HKLM,"System\\CurrentControlSet\\Services\\KORVAL\\Parameters",A_(\d+),0x0001000([13]),0x([0-9A-F]{8})$)re");
    std::map<int, ParameterLine> values;
    std::istringstream in(inf);
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (std::regex_match(text, match, line)) {
            const ParameterLine parsed{static_cast<std::uint32_t>(std::stoul(match[3], nullptr, 16)), match[2] == "3"};
            EXPECT_TRUE(values.emplace(std::stoi(match[1]), parsed).second) << text;
        }
    }
    return values;
}

std::map<int, std::uint32_t> parametersIn(const std::string& inf)
{
    std::map<int, std::uint32_t> values;
    for (const auto& [index, line] : parameterLinesIn(inf)) {
        values[index] = line.value;
    }
    return values;
}

// What Windows' AddReg does with the INF over a machine's Parameters key.
std::map<int, std::uint32_t> installOver(std::map<int, std::uint32_t> machine, const std::string& inf)
{
    for (const auto& [index, line] : parameterLinesIn(inf)) {
        if (!line.keepsExisting || !machine.contains(index)) {
            machine[index] = line.value;
        }
    }
    return machine;
}

TEST(KorvalInf, HoldsExactlyTheRegistryDefaults)
{
    std::map<int, std::uint32_t> expected;
    for (const auto& [index, value] : registryDefaults()) {
        expected[index] = value;
    }
    const std::string inf = makeKorvalInf(registryDefaults());
    EXPECT_EQ(parametersIn(inf), expected);
    EXPECT_EQ(inf.find("A_65,") != std::string::npos, expected.contains(65));
}

TEST(KorvalInf, WritesWhateverTheTableHolds)
{
    const RegistryDefault table[] = {{0, 0xFFFFFFFF}, {65, 0xFBFCFDFE}, {136, 7}};
    EXPECT_EQ(parametersIn(makeKorvalInf(table)),
              (std::map<int, std::uint32_t>{{0, 0xFFFFFFFF}, {65, 0xFBFCFDFE}, {136, 7}}));
    EXPECT_EQ(parametersIn(makeKorvalInf({})), (std::map<int, std::uint32_t>{}));
}

TEST(KorvalInf, AnUpgradeBringsTheNewTuningTableAndKeepsTheUsersSettings)
{
    // A machine installed from an older table, whose user then changed the
    // brightness (A_77) and the offered sizes (A_64).
    std::map<int, std::uint32_t> machine;
    for (int index = 0; index <= 51; ++index) {
        machine[index] = 0x11111111;
    }
    machine[65] = 0x22222222;
    machine[64] = 0x00000101;
    machine[77] = 90;
    const std::string inf = makeKorvalInf(registryDefaults());
    const auto upgraded = installOver(machine, inf);
    const auto fresh = parametersIn(inf);
    for (int index = 0; index <= 51; ++index) {
        EXPECT_EQ(upgraded.at(index), fresh.at(index)) << "A_" << index;
    }
    EXPECT_EQ(upgraded.at(65), fresh.at(65)) << "the checksum comes with its table";
    EXPECT_EQ(upgraded.at(64), 0x00000101u);
    EXPECT_EQ(upgraded.at(77), 90u);
    EXPECT_EQ(upgraded.at(79), fresh.at(79)) << "a setting the machine lacked is added";
}

TEST(KorvalInf, InstallsTheServiceForTheCamera)
{
    const std::string inf = makeKorvalInf(registryDefaults());
    for (const char* expected : {"AddService=KORVAL,0x00000002,Korval.Service", "ServiceBinary=%12%\\korval.sys",
                                 "ServiceType=1", "%DeviceDesc%=Korval.Install,USB\\VID_4B56&PID_0110",
                                 "AddInterface={65E8773D-8F56-11D0-A3B9-00A0C9223196}", "\nCatalogFile=korval.cat\n"}) {
        EXPECT_NE(inf.find(expected), std::string::npos) << expected;
    }
}

const KSPROPERTY_STEPPING_LONG* publishedRange(const tagPropertyEntry& entry, LONG& firstDefault)
{
    for (const KSPROPERTY_SET& set : DevicePropertySets) {
        for (ULONG i = 0; *set.Set == *entry.pSet && i < set.PropertiesCount; ++i) {
            const KSPROPERTY_ITEM& item = set.PropertyItem[i];
            if (item.PropertyId == entry.ulId && item.Values != nullptr && item.Values->MembersListCount == 2) {
                firstDefault = *static_cast<const LONG*>(item.Values->MembersList[1].Members);
                return static_cast<const KSPROPERTY_STEPPING_LONG*>(item.Values->MembersList[0].Members);
            }
        }
    }
    return nullptr;
}

// The INF's user settings, the tool's listing and the published item tables
// are all made from the driver's property table: they name the same slots,
// install the same values and publish the same ranges.
TEST(KorvalInf, UserSettingsListingAndPublishedRangesFollowThePropertyTable)
{
    std::map<int, std::uint32_t> fromTable;
    const auto listing = cameraProperties();
    ASSERT_EQ(listing.size(), PROPERTY_COUNT);
    for (ULONG i = 0; i < PROPERTY_COUNT; ++i) {
        const tagPropertyEntry& entry = PropertyTable[i];
        SCOPED_TRACE(entry.pszName);
        if (entry.ucValueSlot != NO_SLOT) {
            fromTable[entry.ucValueSlot] = entry.usInstalledValue;
        }
        if (entry.ucFlagsSlot != NO_SLOT) {
            fromTable[entry.ucFlagsSlot] = entry.usInstalledFlags;
        }
        EXPECT_STREQ(listing[i].name, entry.pszName);
        EXPECT_TRUE(listing[i].set == *entry.pSet && listing[i].id == entry.ulId);
        EXPECT_EQ(listing[i].registryIndex, entry.ucValueSlot == NO_SLOT ? -1 : entry.ucValueSlot);
        LONG firstDefault = 0;
        const KSPROPERTY_STEPPING_LONG* range = publishedRange(entry, firstDefault);
        ASSERT_NE(range, nullptr);
        EXPECT_EQ(range->SteppingDelta, entry.ulStep);
        EXPECT_EQ(range->Bounds.SignedMinimum, entry.lMinimum);
        EXPECT_EQ(range->Bounds.SignedMaximum, entry.lMaximum);
        EXPECT_EQ(firstDefault, entry.lDefault);
    }
    std::map<int, std::uint32_t> userSettings;
    for (const auto& [index, value] : parametersIn(makeKorvalInf(registryDefaults()))) {
        if (index > 65) {
            userSettings[index] = value;
        }
    }
    EXPECT_EQ(userSettings, fromTable);
}

} // namespace
} // namespace korval::tools
