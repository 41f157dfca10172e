// CAe::Process frame by frame: warm-up, skipped frames, the brightness steps
// and how their results reach the camera values and change flags.
#include <gtest/gtest.h>

#include <vector>

#include "ae_harness.h"

namespace korval::testing {
namespace {

void expectUnchanged(const tagAeOutput& out, const tagAeInput& in)
{
    EXPECT_FALSE(out.bAnyChanged);
    EXPECT_FALSE(out.bTimingChanged);
    EXPECT_FALSE(out.bGainChanged);
    EXPECT_FALSE(out.bRateChanged);
    EXPECT_FALSE(out.bShortExposureChanged);
    EXPECT_EQ(out.usGain, in.usGain);
    EXPECT_EQ(out.usClockDivider, in.usClockDivider);
    EXPECT_EQ(out.usFrameLines, in.usFrameLines);
    EXPECT_EQ(out.usExposureStartLine, in.usExposureStartLine);
}

TEST(AeProcess, FirstTenFramesChangeNothing)
{
    OpenedAe h;
    for (int frame = 0; frame < 10; ++frame) {
        const tagAeInput in = neutralFrame(h.out, 0, &h.records);
        ASSERT_TRUE(h.process(in));
        expectUnchanged(h.out, in);
        EXPECT_TRUE(h.out.bFrameUsable);
        EXPECT_EQ(h.ae.total(), 8.0);
    }
    ASSERT_TRUE(h.frame(0));
    EXPECT_TRUE(h.out.bAnyChanged);
}

TEST(AeProcess, CloseRestartsTheWarmUp)
{
    OpenedAe h;
    h.warmUp();
    ASSERT_TRUE(h.ae.Close());
    ASSERT_TRUE(h.ae.Open(kSensorWidth, kSensorHeight, false, 0, defaultParameters(), &h.out));
    for (int frame = 0; frame < 10; ++frame) {
        ASSERT_TRUE(h.frame(0));
        EXPECT_FALSE(h.out.bAnyChanged);
    }
}

TEST(AeProcess, DisabledOrClosedChangesNothing)
{
    tagAeParameters p = defaultParameters();
    p.ucEnable = 0;
    OpenedAe h(p);
    for (int frame = 0; frame < 30; ++frame) {
        const tagAeInput in = neutralFrame(h.out, 0, &h.records);
        ASSERT_TRUE(h.process(in));
        expectUnchanged(h.out, in);
    }

    CAe closed;
    tagAeOutput out{};
    out.usGain = 77;
    EXPECT_FALSE(closed.Process(neutralFrame(out, 0), &out));
    EXPECT_EQ(out.usGain, 77);
    EXPECT_EQ(out.ulExposure1024, 0u);
    EXPECT_FALSE(closed.Process(neutralFrame(out, 0), nullptr));
    EXPECT_FALSE(h.ae.Process(neutralFrame(h.out, 0), nullptr));
}

TEST(AeProcess, BlackFrameRaisesTheTotalByTheLargestStep)
{
    for (UCHAR boost : {0, 4}) {
        tagAeParameters p = defaultParameters();
        p.ucStepBoost = boost;
        OpenedAe h(p);
        h.warmUp();
        const double before = h.ae.total();
        const double expected = before + (8.0 - 1) * h.ae.stepFactor() * 0.2 * before;
        ASSERT_TRUE(h.frame(0));
        EXPECT_EQ(h.ae.total(), expected) << "boost " << int(boost);
    }
    // 8 + 11.2 = 19.2: 7 periods (Ceil of 19.2 / 2.8), gain Ceil(17.43) = 18.
    OpenedAe h;
    h.warmUp();
    ASSERT_TRUE(h.frame(0));
    EXPECT_EQ(h.ae.exposure(), 7.0);
    EXPECT_EQ(h.out.usGain, 18);
    EXPECT_EQ(h.out.ulExposure1024, 7u * 1024);
    EXPECT_EQ(h.out.usExposureStartLine, 293 - 226 + 1);
    EXPECT_TRUE(h.out.bGainChanged);
    EXPECT_TRUE(h.out.bExposureStartChanged);
    EXPECT_TRUE(h.out.bTimingChanged);
    EXPECT_FALSE(h.out.bClockDividerChanged);
    EXPECT_FALSE(h.out.bRateChanged);
}

TEST(AeProcess, SaturatedFrameScalesTheTotalByTheOverStep)
{
    OpenedAe h;
    h.warmUp();
    const double before = h.ae.total();
    EXPECT_DOUBLE_EQ(h.ae.overStep(), (100.0 / 242 - 1) * 2 / 3);
    ASSERT_TRUE(h.frame(250));
    EXPECT_EQ(h.ae.total(), before + h.ae.overStep() * before);
    EXPECT_DOUBLE_EQ(h.ae.total(), before * (1 + (100.0 / 242 - 1) * 2 / 3));
    // 4.87 is below 4 × 1.4: 2 periods, gain Floor(14.35).
    EXPECT_EQ(h.ae.exposure(), 2.0);
    EXPECT_EQ(h.out.usGain, 14);
}

TEST(AeProcess, BrightnessStepsUseTheRatioBands)
{
    struct Case {
        UCHAR luma;
        double factor;  // step = factor × T before the minimum step applies
    };
    // Target 100: 200 gives r 0.5 (0.3), 220 gives r < 0.5 (0.5), 12.5 gives r 8 (0.2).
    const Case cases[] = {{200, (0.5 - 1) * 0.3}, {220, (100.0 / 220 - 1) * 0.5}, {40, (2.5 - 1) * 0.1}};
    for (const Case& c : cases) {
        OpenedAe h;
        h.warmUp();
        const double before = h.ae.total();
        ASSERT_TRUE(h.frame(c.luma));
        EXPECT_DOUBLE_EQ(h.ae.total(), before + c.factor * before) << "luma " << int(c.luma);
    }
    tagAeParameters p = defaultParameters();
    p.ucTargetLuma = 96;
    OpenedAe h(p);
    h.warmUp();
    ASSERT_TRUE(h.frame(12));
    EXPECT_DOUBLE_EQ(h.ae.total(), 8 + 7 * 0.2 * 8);
}

TEST(AeProcess, SmallStepsAreRaisedToATenthOfTheExposure)
{
    OpenedAe dark;
    dark.warmUp();
    ASSERT_TRUE(dark.frame(85));  // 0.176 × 0.1 × 8 = 0.14 < 0.4
    EXPECT_DOUBLE_EQ(dark.ae.total(), 8.4);

    OpenedAe bright;
    bright.warmUp();
    ASSERT_TRUE(bright.frame(120));  // −0.133 is less of a step than −0.4
    EXPECT_DOUBLE_EQ(bright.ae.total(), 7.6);

    // Above 242 a target above 242 would step upwards; the step stays downwards.
    tagAeParameters p = defaultParameters();
    p.ucTargetLuma = 250;
    p.ucTolerance = 2;
    OpenedAe high(p);
    high.warmUp();
    ASSERT_TRUE(high.frame(255));
    EXPECT_DOUBLE_EQ(high.ae.total(), 7.6);
}

TEST(AeProcess, FramesAfterAChangeAreSkipped)
{
    OpenedAe h;
    h.warmUp();
    ASSERT_TRUE(h.frame(0));  // gain and start line change, divider not
    ASSERT_TRUE(h.out.bAnyChanged);
    ASSERT_FALSE(h.out.bClockDividerChanged);
    const double total = h.ae.total();
    ASSERT_TRUE(h.frame(0));
    EXPECT_FALSE(h.out.bFrameUsable);
    EXPECT_FALSE(h.out.bAnyChanged);
    EXPECT_EQ(h.ae.total(), total);
    ASSERT_TRUE(h.frame(100));
    EXPECT_TRUE(h.out.bFrameUsable);

    // A lost frame at row 4 moves to row 5: the divider changes, 2 frames skipped.
    tagAeInput lost = neutralFrame(h.out, 100, &h.records);
    lost.ulDroppedLines = kSensorHeight;
    ASSERT_TRUE(h.process(lost));
    ASSERT_TRUE(h.out.bClockDividerChanged);
    EXPECT_EQ(h.out.usClockDivider, 9);
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_TRUE(h.frame(100));
        EXPECT_FALSE(h.out.bFrameUsable) << frame;
    }
    ASSERT_TRUE(h.frame(100));
    EXPECT_TRUE(h.out.bFrameUsable);
}

TEST(AeProcess, LostFramesAreNeverSkipped)
{
    OpenedAe h;
    h.warmUp();
    ASSERT_TRUE(h.frame(0));
    tagAeInput lost = neutralFrame(h.out, 100, &h.records);
    lost.ulDroppedLines = kSensorHeight;
    ASSERT_TRUE(h.process(lost));
    EXPECT_TRUE(h.out.bFrameUsable);
    EXPECT_EQ(h.ae.row(), 5);
}

TEST(AeProcess, NewParametersTakeHoldOnTheNextFrameInTheBand)
{
    OpenedAe h;
    h.warmUp();
    tagAeParameters p = defaultParameters();
    p.ucMainsFrequency = 50;
    ASSERT_TRUE(h.ae.SetParameters(p));
    // 4 periods of 50 Hz: 68571 clocks, 154.4 lines → start 139.
    ASSERT_TRUE(h.frame(100));
    EXPECT_TRUE(h.out.bExposureStartChanged);
    EXPECT_EQ(h.out.usExposureStartLine, 293 - 155 + 1);
    EXPECT_EQ(h.out.usGain, 10);
    EXPECT_FALSE(h.out.bGainChanged);
    // Consumed: the next frame in the band changes nothing.
    h.frame(100);
    h.frame(100);
    EXPECT_FALSE(h.out.bAnyChanged);
}

TEST(AeProcess, AlternateTableReportsTheRateBlockChanged)
{
    OpenedAe h;
    h.warmUp();
    tagAeParameters p = defaultParameters();
    p.ucAlternateTable = 1;
    ASSERT_TRUE(h.ae.SetParameters(p));
    ASSERT_TRUE(h.frame(100));
    EXPECT_TRUE(h.out.bRateChanged);
    EXPECT_TRUE(h.out.bAnyChanged);
    EXPECT_EQ(h.out.usExtra1, 400);
    EXPECT_EQ(h.out.usRateValue, 126);
}

TEST(AeProcess, StrictBandwidthSplitsAtTheLongGainFromRowSix)
{
    CAeProbe ae;
    tagAeOutput out{};
    ASSERT_TRUE(ae.Open(kSensorWidth, kSensorHeight, true, 0, defaultParameters(), &out));
    EXPECT_EQ(ae.row(), 6);
    EXPECT_EQ(out.usClockDivider, 11);
    std::vector<tagSDecompressionInformation> lines(kSensorHeight, {DECOMPRESSION_KIND_STEP5, 100});
    for (int frame = 0; frame < 10; ++frame) {
        ASSERT_TRUE(ae.Process(neutralFrame(out, 100, &lines), &out));
    }
    // 8 + 11.2 = 19.2: Floor(19.2 / 1.4) = 13 periods, gain Floor(4.77) = 4.
    ASSERT_TRUE(ae.Process(neutralFrame(out, 0, &lines), &out));
    EXPECT_EQ(ae.exposure(), 13.0);
    EXPECT_EQ(out.usGain, 4);
    EXPECT_EQ(ae.row(), 6);
}

TEST(AeProcess, InBandFramesLeaveEverythingAlone)
{
    OpenedAe h;
    h.warmUp();
    for (UCHAR luma : {90, 100, 110}) {
        const tagAeInput in = neutralFrame(h.out, luma, &h.records);
        ASSERT_TRUE(h.process(in));
        expectUnchanged(h.out, in);
        EXPECT_EQ(h.ae.total(), 8.0);
    }
}

} // namespace
} // namespace korval::testing
