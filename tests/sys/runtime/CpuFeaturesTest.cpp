// The processor features come from cpuid itself (they agree with what Linux
// read from the processor, unless an emulator runs the program), and the pixel
// path can be lowered, never raised.
#include "platform/CpuFeatures.h"
#include "support/floating_point_scope.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

bool cpuinfoFlag(const std::string& flag)
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) == 0) {
            std::istringstream words(line.substr(line.find(':') + 1));
            std::string word;
            while (words >> word) {
                if (word == flag) {
                    return true;
                }
            }
            return false;
        }
    }
    return false;
}

TEST(CpuFeatures, DetectionAgreesWithTheOperatingSystem)
{
    if (!std::ifstream("/proc/cpuinfo")) {
        GTEST_SKIP() << "no /proc/cpuinfo";
    }
#ifdef KORVAL_TEST_EMULATOR
    // cpuid then answers for the emulated processor (qemu has AVX2 but no AVX-512),
    // while /proc/cpuinfo describes the machine's own.
    GTEST_SKIP() << "under " KORVAL_TEST_EMULATOR ", cpuid describes the emulated processor";
#endif
    const CPU_FEATURES features = CpuDetectedFeatures();
    EXPECT_EQ(features.Sse2 != 0, cpuinfoFlag("sse2"));
    EXPECT_EQ(features.Ssse3 != 0, cpuinfoFlag("ssse3"));
    // Linux lists avx2 only when it saves the YMM registers, as the driver asks.
    EXPECT_EQ(features.Avx2 != 0, cpuinfoFlag("avx2"));
    EXPECT_EQ(features.Avx512Vbmi != 0,
              features.Avx2 && cpuinfoFlag("avx512f") && cpuinfoFlag("avx512bw") && cpuinfoFlag("avx512vbmi"));
}

TEST(CpuFeatures, PathIsTheBestCompiledAndCanOnlyBeLowered)
{
    const CPU_FEATURES features = CpuDetectedFeatures();
    const CPU_PATH best = kAvx2Compiled && features.Avx512Vbmi ? CpuPathAvx512
                          : kAvx2Compiled && features.Avx2 ? CpuPathAvx2
                          : features.Sse2                  ? CpuPathSse2
                                                           : CpuPathPlain;
    EXPECT_EQ(CpuFeaturesInitialize(), best);
    for (CPU_PATH limit : {CpuPathPlain, CpuPathSse2, CpuPathAvx2, CpuPathAvx512}) {
        korval::testing::ForcedCpuPath forced(limit);
        const CPU_PATH expected = limit < best ? limit : best;
        EXPECT_EQ(CpuCurrentPath(), expected);
        EXPECT_EQ(CpuHasAvx2(), expected >= CpuPathAvx2);
        EXPECT_EQ(CpuHasAvx512Vbmi(), expected == CpuPathAvx512);
        EXPECT_EQ(CpuHasSse2(), expected >= CpuPathSse2);
        EXPECT_EQ(CpuHasSsse3(), expected >= CpuPathSse2 && features.Ssse3);
    }
    EXPECT_EQ(CpuCurrentPath(), best);
    EXPECT_STREQ(CpuPathName(CpuPathAvx512), "AVX-512");
    EXPECT_STREQ(CpuPathName(CpuPathAvx2), "AVX2");
    EXPECT_STREQ(CpuPathName(CpuPathSse2), "SSE2");
    EXPECT_STREQ(CpuPathName(CpuPathPlain), "plain");
}

} // namespace
