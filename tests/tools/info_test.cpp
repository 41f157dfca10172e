#include "tools/korval/cli.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

struct InfoRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

InfoRun runInfo(std::vector<std::string> args)
{
    std::ostringstream out;
    std::ostringstream err;
    InfoRun run;
    args.insert(args.begin(), "info");
    run.exitCode = korval::tools::runKorval(args, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

TEST(KorvalInfo, ShowsTheStartedDeviceWithItsCameraAndStillInterface)
{
    const InfoRun run = runInfo({});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    for (const char* line : {
             "device start: 0x00000000\n",
             "capture pin: instances 1, data out, stream property sets 2, formats 10:\n",
             "    640x480 I420   460800 bytes\n",
             "configured               yes, alternate setting 0\n",
             "idle 0x0F=0x00 0x11=0x30 0x41=0x00\n",
             "status channel           running (an interrupt transfer waits on endpoint 0x83: yes)\n",
             "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F} enabled\n",
             "driver key CreateFileName \"USB 1.1\"\n",
             "adapter SRB_DEVICE_METHOD: 0xC0000002\n",
             "power D3: 0x00000000, back to D0: 0x00000000\n",
             "driver unloaded; no pool left\n",
         }) {
        EXPECT_NE(run.out.find(line), std::string::npos) << "missing: " << line << "in:\n" << run.out;
    }
}

TEST(KorvalInfo, HelpAndStrayArguments)
{
    const InfoRun help = runInfo({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: korval info"), std::string::npos);
    const InfoRun stray = runInfo({"--verbose"});
    EXPECT_EQ(stray.exitCode, 2);
    EXPECT_NE(stray.err.find("unknown option '--verbose'"), std::string::npos);
}

} // namespace
