// korval properties on a machine directory: what it lists, what --set keeps,
// and how a bad request is refused.
#include "tool_test_support.h"

namespace {

using korval::tools_test::ToolTest;

class PropertiesTest : public ToolTest {
protected:
    // The listed line of one property.
    std::string line(const std::string& name) const
    {
        const std::string text = out_.str();
        const std::size_t at = text.find("  " + name + " ");
        return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
    }
};

TEST_F(PropertiesTest, ListsInstalledDefaultsAndKeepsSetsInTheMachine)
{
    const std::string machine = path("machine");
    ASSERT_EQ(run({"properties", "--machine", machine}), 0) << err_.str();
    EXPECT_NE(line("brightness").find("255"), std::string::npos) << line("brightness");
    EXPECT_NE(line("exposure").find("auto"), std::string::npos) << line("exposure");
    EXPECT_NE(line("step-boost").find("live only"), std::string::npos) << line("step-boost");

    ASSERT_EQ(run({"properties", "--machine", machine, "--set", "brightness=300", "--set", "gain-1=200", "--set",
                   "white-balance=auto"}),
              0)
        << err_.str();
    ASSERT_EQ(run({"properties", "--machine", machine}), 0);
    EXPECT_NE(line("brightness").find("300"), std::string::npos) << line("brightness");
    EXPECT_NE(line("gain-1").find("200"), std::string::npos) << line("gain-1");
    EXPECT_NE(line("white-balance").find("auto"), std::string::npos) << line("white-balance");
    const std::vector<std::uint8_t> registry = readFile(machine + "/registry.reg");
    EXPECT_NE(std::string(registry.begin(), registry.end()).find("\"A_77\"=dword:0000012c"), std::string::npos);
}

TEST_F(PropertiesTest, RefusalsNameThePropertyAndValue)
{
    EXPECT_EQ(run({"properties", "--set", "brightness=511"}), 2);
    EXPECT_NE(err_.str().find("brightness: '511' is not a value from 0 to 510"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"properties", "--set", "gain-2=12x"}), 2);
    EXPECT_NE(err_.str().find("'12x'"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"properties", "--set", "mirror=auto"}), 2) << "mirror has no automatic mode";
    EXPECT_EQ(run({"properties", "--set", "effect=16"}), 2) << "there are 15 effects";
    EXPECT_NE(err_.str().find("effect: '16' is not a value from 0 to 15"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"capture", "--fps", "35"}), 2) << "beyond the camera's fastest timing";
    EXPECT_NE(err_.str().find("--fps: 35 frames/s is beyond the camera"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"properties", "--set", "zoom=3"}), 2);
    EXPECT_NE(err_.str().find("unknown property 'zoom'"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"properties", "--set", "contrast"}), 2);
    EXPECT_NE(err_.str().find("'contrast'"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"properties", "--set"}), 2);
    EXPECT_EQ(run({"properties", "--set", "frame-rate=15"}), 1);
    EXPECT_NE(err_.str().find("frame-rate only while the capture stream is open"), std::string::npos) << err_.str();
}

} // namespace
