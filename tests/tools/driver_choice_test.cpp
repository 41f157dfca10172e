#include "platform/CpuFeatures.h"
#include "tools/korval/cli.h"
#include "tools/korval/driver_choice.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

ToolRun korvalRun(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    ToolRun run;
    run.exitCode = korval::tools::runKorval(args, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// Wrong driver choices are refused before anything loads, each by a message naming it.
TEST(DriverChoice, RefusalsNameTheOptionAndValue)
{
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* expected;
    };
    const std::string missing = "/nonexistent/korval.sys";
    const Case cases[] = {
        {{"--pixel-path", "fast", "info"}, 2, "--pixel-path 'fast': expected auto, avx512, avx2, sse2 or plain"},
        {{"capture", "--driver", missing, "--pixel-path=sse2"}, 2, "chooses its own by cpuid"},
        {{"settings-checksum", "x.reg", "--driver", missing}, 2, "--driver"},
        {{"replay", "x.pcap", "--pixel-path", "fast"}, 2, "--pixel-path 'fast'"},
        {{"info", "--driver", missing}, korval::tools::kRunsDriverImages ? 3 : 2,
         korval::tools::kRunsDriverImages ? "--driver '/nonexistent/korval.sys': no such file" : "32-bit korval"},
    };
    for (const Case& c : cases) {
        const ToolRun run = korvalRun(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args[0] << " " << c.expected << "\n" << run.err;
        EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    }
}

// The built-in driver runs on the path asked for and says so; auto leaves the processor's best.
TEST(DriverChoice, PixelPathSelectsTheBuiltInDriversCode)
{
    for (const auto& [option, shown] : {std::pair{"plain", "plain"}, std::pair{"sse2", "SSE2"}}) {
        const ToolRun run = korvalRun({"info", "--pixel-path", option});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find(std::string("pixel path               ") + shown + " "), std::string::npos) << run.out;
        const ToolRun json = korvalRun({"--pixel-path", option, "info", "--json"});
        EXPECT_NE(json.out.find(std::string("\"pixel_path\":\"") + shown + "\""), std::string::npos) << json.out;
    }
    CpuFeaturesLimit(CpuPathAvx512);
    const ToolRun best = korvalRun({"info"});
    EXPECT_NE(best.out.find(std::string("pixel path               ") + CpuPathName(CpuCurrentPath())),
              std::string::npos);
}

} // namespace
