// The rounding helpers with their off-by-one edges, the split of a total into
// exposure and gain, and the sensor timing of an exposure.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ae_harness.h"

namespace korval::testing {
namespace {

TEST(AeRounding, FloorAndCeilStepAwayOnWholeNumbers)
{
    EXPECT_EQ(CAeProbe::Ceil(3.0), 4);
    EXPECT_EQ(CAeProbe::Ceil(2.5), 3);
    EXPECT_EQ(CAeProbe::Ceil(-2.5), -2);
    EXPECT_EQ(CAeProbe::Ceil(-2.0), -2);
    EXPECT_EQ(CAeProbe::Ceil(0.0), 1);
    EXPECT_EQ(CAeProbe::Floor(-2.0), -3);
    EXPECT_EQ(CAeProbe::Floor(-2.5), -3);
    EXPECT_EQ(CAeProbe::Floor(2.0), 2);
    EXPECT_EQ(CAeProbe::Floor(2.9), 2);
}

TEST(AeRounding, OutOfRangeValuesSaturateInsteadOfOverflowing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(CAeProbe::Floor(inf), 2147483647);
    EXPECT_EQ(CAeProbe::Ceil(inf), 2147483647);
    EXPECT_EQ(CAeProbe::Floor(-inf), -2147483647 - 1);
    EXPECT_EQ(CAeProbe::Ceil(-1e300), -2147483647 - 1);
    EXPECT_EQ(CAeProbe::Floor(nan), 0);
    EXPECT_EQ(CAeProbe::Ceil(nan), 0);
    // The rule's own results at the edges are kept.
    EXPECT_EQ(CAeProbe::Ceil(2147483646.0), 2147483647);
    EXPECT_EQ(CAeProbe::Floor(-2147483647.0), -2147483647 - 1);
    EXPECT_EQ(CAeProbe::Floor(2147483646.5), 2147483646);
}

TEST(AeRounding, GainTransformRoundsUpEvenExactValues)
{
    CAeProbe ae;
    EXPECT_EQ(ae.NewGainTransform(8, 4, false), 11);
    EXPECT_EQ(ae.NewGainTransform(8, 4, true), 10);
    EXPECT_EQ(ae.NewGainTransform(7, 4, true), 7);
    EXPECT_EQ(ae.NewGainTransform(7, 4, false), 8);
}

// Splits `total` with the given parameters and returns {exposure, gain, total after}.
struct Split {
    double exposure;
    USHORT gain;
    double total;
};

Split split(const tagAeParameters& parameters, double total, bool strict = false)
{
    CAeProbe ae;
    tagAeOutput out{};
    EXPECT_TRUE(ae.Open(kSensorWidth, kSensorHeight, strict, 0, parameters, &out));
    ae.setTotal(total);
    double exposure = -1;
    ae.NewAeSetting(&exposure, &out);
    return {exposure, out.usGain, ae.total()};
}

TEST(AeSetting, LongExposureDefaultsFollowTheKnees)
{
    const tagAeParameters p = defaultParameters();
    // Below the smallest total: one flicker period at the base gain.
    Split s = split(p, 0.01);
    EXPECT_EQ(s.exposure, 1.0);
    EXPECT_EQ(s.gain, 4);
    EXPECT_DOUBLE_EQ(s.total, 1.4);
    // Above the largest: the longest exposure at the long gain.
    s = split(p, 100);
    EXPECT_EQ(s.exposure, 39.0);
    EXPECT_EQ(s.gain, 4);
    EXPECT_DOUBLE_EQ(s.total, 39 * 1.4);
    // Between totalB and 4 periods' worth: a power of two, gain rounded down.
    s = split(p, 3.0);
    EXPECT_EQ(s.exposure, 2.0);
    EXPECT_EQ(s.gain, 5);
    // Up to 4 × gainA: 4 periods, gain rounded down.
    s = split(p, 8.0);
    EXPECT_EQ(s.exposure, 4.0);
    EXPECT_EQ(s.gain, 10);
    // Up to the long knee: exposure and gain rounded up (15.0 becomes 16).
    s = split(p, 20.0);
    EXPECT_EQ(s.exposure, 8.0);
    EXPECT_EQ(s.gain, 16);
    // Past the long knee: exposure at the long gain, both rounded down.
    s = split(p, 40.0);
    EXPECT_EQ(s.exposure, 28.0);
    EXPECT_EQ(s.gain, 4);
}

TEST(AeSetting, TotalOnTheFourPeriodEdgeTakesTheLongBranch)
{
    // 4 × 1.4 is the double nearest 5.6, so it is not below total4B: 4 periods,
    // and (5.6 / 4 − 1) × 10 lands just under 4.
    const Split s = split(defaultParameters(), 4 * 1.4);
    EXPECT_EQ(s.exposure, 4.0);
    EXPECT_EQ(s.gain, 3);
}

TEST(AeSetting, ShortExposureLimitsUseTheMaxGainKnee)
{
    tagAeParameters p = defaultParameters();
    p.ucLongExposure = 0;
    Split s = split(p, 35.0);
    EXPECT_EQ(s.exposure, 13.0);
    EXPECT_EQ(s.gain, 17);
    s = split(p, 30.0);
    EXPECT_EQ(s.exposure, 11.0);
    EXPECT_EQ(s.gain, 18);
    s = split(p, 1000.0);
    EXPECT_EQ(s.exposure, 13.0);
    EXPECT_EQ(s.gain, 18);
    EXPECT_DOUBLE_EQ(s.total, 13 * 2.8);
}

TEST(AeSetting, FractionalExposureUsesPowersOfTwoBelowOnePeriod)
{
    tagAeParameters p = defaultParameters();
    p.ucFractionalExposure = 1;
    Split s = split(p, 0.01);
    EXPECT_EQ(s.exposure, 1.0 / 32);
    EXPECT_EQ(s.gain, 4);
    EXPECT_DOUBLE_EQ(s.total, 1.4 / 32);
    s = split(p, 0.5);
    EXPECT_EQ(s.exposure, 0.25);
    EXPECT_EQ(s.gain, 10);
    // log2 of exactly 0.5 is −1, which Floor turns into −2: a quarter period.
    s = split(p, 0.7);
    EXPECT_EQ(s.exposure, 0.25);
    EXPECT_EQ(s.gain, 18);
    // Without fractional exposure the same total is raised to one period.
    p.ucFractionalExposure = 0;
    s = split(p, 0.7);
    EXPECT_EQ(s.exposure, 1.0);
    EXPECT_DOUBLE_EQ(s.total, 1.4);
}

TEST(AeSetting, StrictBandwidthFloorsTheExposureAtTheLongGain)
{
    const tagAeParameters p = defaultParameters();
    Split s = split(p, 10.0, true);
    EXPECT_EQ(s.exposure, 7.0);
    EXPECT_EQ(s.gain, 4);
    s = split(p, 1.0, true);
    EXPECT_EQ(s.exposure, 1.0);
    EXPECT_EQ(s.gain, 4);
    EXPECT_DOUBLE_EQ(s.total, 1.4);
}

TEST(AeSetting, LongGainAboveTheTotalNeverDividesByZero)
{
    // gainD = 4 > T = 2 would make Floor(T / gainD) 0.
    tagAeParameters p = defaultParameters();
    p.usMaxGainLong = 30;
    Split s = split(p, 2.0, true);
    EXPECT_EQ(s.exposure, 1.0);
    EXPECT_EQ(s.gain, 10);
    // The same through the long knee without strict bandwidth.
    p.usMaxGainLong = 200;
    p.usKneeExposureLong = 0;
    s = split(p, 10.0);
    EXPECT_EQ(s.exposure, 1.0);
    EXPECT_EQ(s.gain, 90);
}

TEST(AeSetting, GainNeverWrapsBelowZero)
{
    // maxGain 0 makes gainC 1: Ceil(6.0) = 7 periods for a total of 6 would ask
    // for gain −1; the register gets 0 instead of 65535.
    tagAeParameters p = defaultParameters();
    p.ucLongExposure = 0;
    p.usMaxGain = 0;
    p.usKneeExposure = 0;
    const Split s = split(p, 6.0);
    EXPECT_EQ(s.exposure, 7.0);
    EXPECT_EQ(s.gain, 0);
}

// Timing of an exposure at row 4 (divider 7, 444 clocks) with 60 Hz mains,
// unless the packet size changes the line clocks.
tagAeOutput timing(double exposure, UCHAR sensorMode = 0, USHORT packetSize = 1023)
{
    CAeProbe ae;
    tagAeOutput out{};
    EXPECT_TRUE(ae.Open(kSensorWidth, kSensorHeight, false, sensorMode, defaultParameters(packetSize), &out));
    ae.NewAeTransform(exposure, &out);
    return out;
}

TEST(AeTransform, LongExposureLengthensTheFrame)
{
    // 9.3085 periods are 299.5 lines: 300 lines, exposure from line 1.
    const tagAeOutput out = timing(9.3085);
    EXPECT_EQ(out.usFrameLines, 300);
    EXPECT_EQ(out.usExposureStartLine, 1);
    EXPECT_EQ(out.usFineDelay, 1);
    EXPECT_EQ(out.usShortExposureValue, 46);
}

TEST(AeTransform, ShortExposureMovesTheStartLineAndSetsTheFineDelay)
{
    // 4 periods: 57142.86 clocks, 128.7 lines → 129; start 293 − 129 + 1.
    tagAeOutput out = timing(4);
    EXPECT_EQ(out.usFrameLines, 293);
    EXPECT_EQ(out.usExposureStartLine, 165);
    EXPECT_EQ(out.usFineDelay, 1);
    // Half a period: 7142.86 clocks, 16.09 lines → 17; 444 × 17 − 7142 − 88.
    out = timing(0.5);
    EXPECT_EQ(out.usExposureStartLine, 277);
    EXPECT_EQ(out.usFineDelay, 318);
}

TEST(AeTransform, FineDelayIsBoundedOnBothSides)
{
    // 512 clocks per line: 0.4677 periods are 13.05 lines; 512 × 14 − 6681 − 88 = 399.
    EXPECT_EQ(timing(0.4677, 0, 512).usFineDelay, 356);
    // Half a period is 13.95 lines; 512 × 14 − 7142 − 88 < 0 in a 293-line frame.
    EXPECT_EQ(timing(0.5, 0, 512).usFineDelay, 5);
}

TEST(AeTransform, ShortExposureValueFollowsTheSensorMode)
{
    // 1/32 period is 1.005 lines (2), 1/64 period 0.503 lines (1).
    EXPECT_EQ(timing(1.0 / 32).usShortExposureValue, 19);
    EXPECT_EQ(timing(1.0 / 64).usShortExposureValue, 8);
    EXPECT_EQ(timing(4, 1).usShortExposureValue, 8);
    EXPECT_EQ(timing(1.0 / 32, 1).usShortExposureValue, 36);
    EXPECT_EQ(timing(1.0 / 64, 2).usShortExposureValue, 40);
}

TEST(AeTransform, ZeroExposureStillStartsInsideTheFrame)
{
    // Only a maximum exposure of 0 leads here; one line keeps the start at 293.
    const tagAeOutput out = timing(0);
    EXPECT_EQ(out.usFrameLines, 293);
    EXPECT_EQ(out.usExposureStartLine, 293);
    EXPECT_EQ(out.usShortExposureValue, 8);
}

TEST(AeTransform, HugeExposureSaturatesTheFrameLines)
{
    const tagAeOutput out = timing(60000);
    EXPECT_EQ(out.usFrameLines, 0xFFFF);
    EXPECT_EQ(out.usExposureStartLine, 1);
}

} // namespace
} // namespace korval::testing
