// korval.inf against the table it is made from: every default, and nothing
// else, lands under the service's Parameters key with its value.
#include "tools/korval-inf/inf_writer.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

namespace korval::tools {
namespace {

std::map<int, std::uint32_t> parametersIn(const std::string& inf)
{
    static const std::regex line(
        R"re(^HKLM,"System\\CurrentControlSet\\Services\\KORVAL\\Parameters",A_(\d+),0x00010003,0x([0-9A-F]{8})$)re");
    std::map<int, std::uint32_t> values;
    std::istringstream in(inf);
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (std::regex_match(text, match, line)) {
            EXPECT_TRUE(values.emplace(std::stoi(match[1]), std::stoul(match[2], nullptr, 16)).second) << text;
        }
    }
    return values;
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

TEST(KorvalInf, InstallsTheServiceForTheCamera)
{
    const std::string inf = makeKorvalInf(registryDefaults());
    for (const char* expected : {"AddService=KORVAL,0x00000002,Korval.Service", "ServiceBinary=%12%\\korval.sys",
                                 "ServiceType=1", "%DeviceDesc%=Korval.Install,USB\\VID_4B56&PID_0110",
                                 "AddInterface={65E8773D-8F56-11D0-A3B9-00A0C9223196}"}) {
        EXPECT_NE(inf.find(expected), std::string::npos) << expected;
    }
}

} // namespace
} // namespace korval::tools
