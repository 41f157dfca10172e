// Every floating-point or SIMD entry point of the driver stops the test when
// its thread holds no saved floating-point state, naming itself; inside a
// bracket the same calls run. (The capture, property, snapshot and collector
// tests run these paths through the driver's own brackets.)
#include "ae/CAe.h"
#include "control/I420ToBgr.h"
#include "effects/VideoEffects.h"
#include "imageprocess/CImageProcess.h"
#include "support/floating_point_scope.h"
#include "usb/FrameCollector.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

struct EntryPoint {
    const char* name;
    std::function<void()> call;
};

std::vector<EntryPoint> entryPoints()
{
    static UCHAR bytes[64] = {};
    return {
        {"CImageProcess::Process", [] { CImageProcess().Process(tagIpInput{}, nullptr); }},
        {"CImageProcess::SetParameters", [] { CImageProcess().SetParameters(tagIpParameters{}); }},
        {"CImageProcess::Open",
         [] { CImageProcess().Open(0, 0, 0, 0, 0, 0, tagIpParameters{}); }},
        {"CAe::Process", [] { CAe().Process(tagAeInput{}, nullptr); }},
        {"CAe::SetParameters", [] { CAe().SetParameters(tagAeParameters{}); }},
        {"VideoEffects::ProcessEffect", [] { VideoEffects().ProcessEffect(bytes, 0, bytes, 0, 1, nullptr); }},
        {"VideoEffects::Composite", [] { VideoEffects().Composite(nullptr, nullptr, nullptr, nullptr); }},
        {"I420ToBgrBottomUp", [] { I420ToBgrBottomUp(nullptr, nullptr, 0, 0); }},
        {"CollectPacket",
         [] {
             tagFrameCollector collector = {bytes, bytes, bytes + sizeof(bytes), 0, 0, COLLECT_SEARCH, 0, nullptr,
                                            nullptr, 0};
             CollectPacket(&collector, bytes, 0);
         }},
    };
}

TEST(FloatingPointDisciplineDeathTest, EntryPointsWithoutASavedStateStopNamingThemselves)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const EntryPoint& entry : entryPoints()) {
        EXPECT_DEATH(entry.call(), std::string("without a saved floating-point state in ") + entry.name)
            << entry.name;
    }
}

TEST(FloatingPointDiscipline, EntryPointsRunInsideABracket)
{
    korval::testing::FloatingPointScope floatingPoint;
    for (const EntryPoint& entry : entryPoints()) {
        entry.call();
    }
}

} // namespace
