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
    EXPECT_EQ(out.usGain, in.usGain);
    EXPECT_EQ(out.usClockDivider, in.usClockDivider);
    EXPECT_EQ(out.usExposureStartLine, in.usExposureStartLine);
}

TEST(AeProcess, WarmUpOfTenFramesAfterEveryOpen)
{
    OpenedAe h;
    for (int open = 0; open < 2; ++open) {
        for (int frame = 0; frame < 10; ++frame) {
            const tagAeInput in = neutralFrame(h.out, 0, &h.records);
            ASSERT_TRUE(h.process(in));
            expectUnchanged(h.out, in);
            EXPECT_TRUE(h.out.bFrameUsable);
        }
        ASSERT_TRUE(h.ae.Close());
        ASSERT_TRUE(h.ae.Open(kSensorWidth, kSensorHeight, false, 0, defaultParameters(), &h.out));
    }
    h.warmUp();
    ASSERT_TRUE(h.frame(0));
    EXPECT_TRUE(h.out.bAnyChanged);
}

TEST(AeProcess, DisabledClosedOrWithoutOutputChangesNothing)
{
    tagAeParameters p = defaultParameters();
    p.ucEnable = 0;
    OpenedAe h(p);
    for (int frame = 0; frame < 30; ++frame) {
        const tagAeInput in = neutralFrame(h.out, 0, &h.records);
        ASSERT_TRUE(h.process(in));
        expectUnchanged(h.out, in);
    }
    EXPECT_FALSE(h.ae.Process(neutralFrame(h.out, 0), nullptr));

    CAe closed;
    tagAeOutput out{};
    out.usGain = 77;
    EXPECT_FALSE(closed.Process(neutralFrame(out, 0), &out));
    EXPECT_EQ(out.usGain, 77);
}

// Auto exposure off with a manual exposure: the value is the exposure time in
// milliseconds, held whatever the picture's brightness, at the base gain, on
// the fastest row long enough for it.
TEST(AeProcess, ManualExposureHoldsTheTimeItIsGiven)
{
    const struct {
        UCHAR milliseconds;
        double periods; // at 60 Hz: 120 flicker periods a second
        USHORT row;
    } cases[] = {{0, 1.0 / 32, 0}, {25, 3.0, 0}, {50, 6.0, 1}, {100, 12.0, 5}, {255, 30.6, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.milliseconds));
        tagAeParameters p = defaultParameters();
        p.ucEnable = 0;
        p.ucManualExposure = 1;
        p.ucTargetLuma = c.milliseconds;
        OpenedAe h(p);
        h.warmUp();
        for (UCHAR luma : {0, 250, 100}) {
            ASSERT_TRUE(h.frame(luma));
            EXPECT_NEAR(h.ae.exposure(), c.periods, 1e-9);
            EXPECT_EQ(h.ae.row(), c.row);
            EXPECT_EQ(h.out.usGain, 4);
        }
    }
}

TEST(AeProcess, BrightnessStepsFromATotalOfEight)
{
    struct Case {
        UCHAR luma;
        UCHAR target;
        UCHAR boost;
        double totalAfter;
    };
    const double overStep = (100.0 / 242 - 1) * 2 / 3;
    const Case cases[] = {
        {0, 100, 0, 8 + 7 * 1.0 * 0.2 * 8},          // black: (8 − 1) × stepFactor × 0.2 × T
        {0, 100, 4, 8 + 7 * 2.0 * 0.2 * 8},
        {12, 96, 0, 8 + 7 * 0.2 * 8},                // ratio exactly 8 also takes 0.2
        {40, 100, 0, 8 + 1.5 * 0.1 * 8},             // ratio 2.5: 0.1
        {85, 100, 0, 8.4},                           // too small a step: a tenth of E = 4
        {250, 100, 0, 8 + overStep * 8},             // saturated: × (1 + overStep)
        {220, 100, 0, 8 + (100.0 / 220 - 1) * 0.5 * 8},
        {200, 100, 0, 8 + (0.5 - 1) * 0.3 * 8},
        {120, 100, 0, 7.6},                          // too small a step downwards
        {255, 250, 0, 7.6},                          // a target above 242 still steps down
    };
    for (const Case& c : cases) {
        tagAeParameters p = defaultParameters();
        p.ucTargetLuma = c.target;
        p.ucTolerance = c.target == 250 ? 2 : 10;
        p.ucStepBoost = c.boost;
        OpenedAe h(p);
        h.warmUp();
        ASSERT_TRUE(h.frame(c.luma));
        EXPECT_DOUBLE_EQ(h.ae.total(), c.totalAfter) << "luma " << int(c.luma) << " boost " << int(c.boost);
    }
}

TEST(AeProcess, NewTotalReachesTheCameraValues)
{
    // Black: 19.2 → 7 periods (Ceil of 19.2 / 2.8), gain Ceil(17.43) = 18, 226 lines.
    OpenedAe h;
    h.warmUp();
    ASSERT_TRUE(h.frame(0));
    EXPECT_EQ(h.ae.exposure(), 7.0);
    EXPECT_EQ(h.out.usGain, 18);
    EXPECT_EQ(h.out.ulExposure1024, 7u * 1024);
    EXPECT_EQ(h.out.usExposureStartLine, 293 - 226 + 1);
    EXPECT_TRUE(h.out.bGainChanged && h.out.bExposureStartChanged && h.out.bTimingChanged);
    EXPECT_FALSE(h.out.bClockDividerChanged || h.out.bRateChanged);
    // Saturated: 8 × 0.609 = 4.87, below 4 × 1.4: 2 periods, gain Floor(14.35).
    OpenedAe s;
    s.warmUp();
    ASSERT_TRUE(s.frame(250));
    EXPECT_EQ(s.ae.exposure(), 2.0);
    EXPECT_EQ(s.out.usGain, 14);
    // Inside the band, edges included, nothing moves.
    for (UCHAR luma : {90, 110}) {
        OpenedAe b;
        b.warmUp();
        const tagAeInput in = neutralFrame(b.out, luma, &b.records);
        ASSERT_TRUE(b.process(in));
        expectUnchanged(b.out, in);
    }
}

TEST(AeProcess, FramesAfterAChangeAreSkippedUnlessLost)
{
    OpenedAe h;
    h.warmUp();
    ASSERT_TRUE(h.frame(0));  // gain and start line change, divider not: 1 frame
    ASSERT_FALSE(h.out.bClockDividerChanged);
    const double total = h.ae.total();
    ASSERT_TRUE(h.frame(0));
    EXPECT_FALSE(h.out.bFrameUsable);
    EXPECT_EQ(h.ae.total(), total);
    ASSERT_TRUE(h.frame(100));
    EXPECT_TRUE(h.out.bFrameUsable);

    // A lost frame is never skipped; at row 4 it moves to row 5: 2 frames skipped.
    ASSERT_TRUE(h.frame(80));  // 7 → 8 periods: another change, 1 frame pending
    ASSERT_TRUE(h.out.bAnyChanged);
    tagAeInput lost = neutralFrame(h.out, 100, &h.records);
    lost.ulDroppedLines = kSensorHeight;
    ASSERT_TRUE(h.process(lost));
    EXPECT_TRUE(h.out.bFrameUsable);
    ASSERT_TRUE(h.out.bClockDividerChanged);
    EXPECT_EQ(h.out.usClockDivider, 9);
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_TRUE(h.frame(100));
        EXPECT_FALSE(h.out.bFrameUsable) << frame;
    }
    ASSERT_TRUE(h.frame(100));
    EXPECT_TRUE(h.out.bFrameUsable);
}

TEST(AeProcess, NewParametersTakeHoldOnTheNextFrameInTheBand)
{
    OpenedAe h;
    h.warmUp();
    tagAeParameters p = defaultParameters();
    p.ucMainsFrequency = 50;
    p.ucAlternateTable = 1;
    ASSERT_TRUE(h.ae.SetParameters(p));
    // 4 periods of 50 Hz: 154.4 lines → start 139; the alternate pass-through values.
    ASSERT_TRUE(h.frame(100));
    EXPECT_EQ(h.out.usExposureStartLine, 293 - 155 + 1);
    EXPECT_TRUE(h.out.bExposureStartChanged);
    EXPECT_EQ(h.out.usExtra1, 400);
    EXPECT_TRUE(h.out.bRateChanged);
    EXPECT_FALSE(h.out.bGainChanged);
    // Consumed: after the skipped frame nothing changes any more.
    h.frame(100);
    h.frame(100);
    EXPECT_FALSE(h.out.bAnyChanged);
}

TEST(AeProcess, StrictBandwidthSplitsAtTheLongGainFromRowSix)
{
    CAeProbe ae;
    tagAeOutput out{};
    ASSERT_TRUE(ae.Open(kSensorWidth, kSensorHeight, true, 0, defaultParameters(), &out));
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

TEST(AeProcess, InconsistentGainLimitsSaturateTheReportedExposure)
{
    // Strict bandwidth divides by the long gain even without long exposure:
    // a large short gain and no long gain allow exposures of 10^8 periods.
    tagAeParameters p = defaultParameters();
    p.ucLongExposure = 0;
    p.usMaxExposure = 0xFFFF;
    p.usMaxGain = 0xFFFF;
    p.usMaxGainLong = 0;
    CAeProbe ae;
    tagAeOutput out{};
    ASSERT_TRUE(ae.Open(kSensorWidth, kSensorHeight, true, 0, p, &out));
    int saturated = 0;
    for (int frame = 0; frame < 200; ++frame) {
        ASSERT_TRUE(ae.Process(neutralFrame(out, 0), &out));
        if (ae.exposure() * 1024 > 4294967295.0) {
            ++saturated;
            EXPECT_EQ(out.ulExposure1024, 0xFFFFFFFFu);
            EXPECT_EQ(out.usFrameLines, 0xFFFF);
        }
    }
    EXPECT_GT(saturated, 0);
    EXPECT_EQ(ae.row(), 9);
}

} // namespace
} // namespace korval::testing
