// The rounding helpers with their off-by-one edges, the split of a total into
// exposure and gain, and the sensor timing of an exposure.
#include <gtest/gtest.h>

#include <limits>

#include "ae_harness.h"

namespace korval::testing {
namespace {

TEST(AeRounding, FloorCeilAndGainStepAwayOnWholeNumbersAndSaturate)
{
    EXPECT_EQ(CAeProbe::Ceil(3.0), 4);
    EXPECT_EQ(CAeProbe::Ceil(-2.5), -2);
    EXPECT_EQ(CAeProbe::Ceil(0.0), 1);
    EXPECT_EQ(CAeProbe::Floor(-2.0), -3);
    EXPECT_EQ(CAeProbe::Floor(2.9), 2);
    CAeProbe ae;
    EXPECT_EQ(ae.NewGainTransform(8, 4, false), 11);
    EXPECT_EQ(ae.NewGainTransform(8, 4, true), 10);
    EXPECT_EQ(ae.NewGainTransform(7, 4, false), 8);
    // Beyond 32 bits: saturated, the rule's result kept wherever it fits.
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(CAeProbe::Floor(inf), 2147483647);
    EXPECT_EQ(CAeProbe::Ceil(-inf), -2147483647 - 1);
    EXPECT_EQ(CAeProbe::Floor(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(CAeProbe::Ceil(2147483646.0), 2147483647);
    EXPECT_EQ(CAeProbe::Floor(-2147483647.0), -2147483647 - 1);
}

struct SplitCase {
    const char* what;
    double total;
    double exposure;
    USHORT gain;
    double totalAfter;  // 0: unchanged
    bool strict = false;
    void (*change)(tagAeParameters&) = nullptr;
};

void shortLimits(tagAeParameters& p) { p.ucLongExposure = 0; }
void fractional(tagAeParameters& p) { p.ucFractionalExposure = 1; }
void strongLongGain(tagAeParameters& p) { p.usMaxGainLong = 30; }
void longGainAboveKnee(tagAeParameters& p)
{
    p.usMaxGainLong = 200;
    p.usKneeExposureLong = 0;
}
void noShortGain(tagAeParameters& p)
{
    p.ucLongExposure = 0;
    p.usMaxGain = 0;
    p.usKneeExposure = 0;
}

// Defaults: gainB 1.4, gainA 2.8, long knee 33.6, maximum 39 × 1.4 = 54.6.
const SplitCase kSplitCases[] = {
    {"below the least total", 0.01, 1, 4, 1.4},
    {"above the largest", 100, 39, 4, 39 * 1.4},
    {"power of two, gain down", 3.0, 2, 5, 0},
    {"four periods, gain down", 8.0, 4, 10, 0},
    {"on 4 × 1.4: the long branch, gain just under 4", 4 * 1.4, 4, 3, 0},
    {"up to the long knee, both up (15.0 → 16)", 20.0, 8, 16, 0},
    {"past the long knee, both down", 40.0, 28, 4, 0},
    {"short: past the knee", 35.0, 13, 17, 0, false, shortLimits},
    {"short: up to the knee", 30.0, 11, 18, 0, false, shortLimits},
    {"short: above the largest", 1000, 13, 18, 13 * 2.8, false, shortLimits},
    {"fractional: least total", 0.01, 1.0 / 32, 4, 1.4 / 32, false, fractional},
    {"fractional: a quarter period", 0.5, 0.25, 10, 0, false, fractional},
    {"fractional: log2 exactly −1 floors to −2", 0.7, 0.25, 18, 0, false, fractional},
    {"not fractional: raised to one period", 0.7, 1, 4, 1.4},
    {"strict: floored at the long gain", 10.0, 7, 4, 0, true},
    {"strict: below totalB", 1.0, 1, 4, 1.4, true},
    {"strict: long gain above the total, no division by 0", 2.0, 1, 10, 0, true, strongLongGain},
    {"long knee: long gain above the total", 10.0, 1, 90, 0, false, longGainAboveKnee},
    {"gain −1 saturates at 0, not 65535", 6.0, 7, 0, 0, false, noShortGain},
};

TEST(AeSetting, SplitsTheTotalIntoExposureAndGain)
{
    for (const SplitCase& c : kSplitCases) {
        tagAeParameters p = defaultParameters();
        if (c.change != nullptr) {
            c.change(p);
        }
        CAeProbe ae;
        tagAeOutput out{};
        ASSERT_TRUE(ae.Open(kSensorWidth, kSensorHeight, c.strict, 0, p, &out)) << c.what;
        ae.setTotal(c.total);
        double exposure = -1;
        ae.NewAeSetting(&exposure, &out);
        EXPECT_EQ(exposure, c.exposure) << c.what;
        EXPECT_EQ(out.usGain, c.gain) << c.what;
        EXPECT_DOUBLE_EQ(ae.total(), c.totalAfter != 0 ? c.totalAfter : c.total) << c.what;
    }
}

// Timing of an exposure at row 4 (divider 7) with 60 Hz mains.
tagAeOutput timing(double exposure, UCHAR sensorMode = 0, USHORT packetSize = 1023)
{
    CAeProbe ae;
    tagAeOutput out{};
    EXPECT_TRUE(ae.Open(kSensorWidth, kSensorHeight, false, sensorMode, defaultParameters(packetSize), &out));
    ae.NewAeTransform(exposure, &out);
    return out;
}

TEST(AeTransform, ExposureBecomesFrameLinesStartLineAndFineDelay)
{
    // 9.3085 periods are 299.5 lines of 444 clocks: 300 lines from line 1.
    tagAeOutput out = timing(9.3085);
    EXPECT_EQ(out.usFrameLines, 300);
    EXPECT_EQ(out.usExposureStartLine, 1);
    EXPECT_EQ(out.usFineDelay, 1);
    // 4 periods: 128.7 lines → 129, start 293 − 129 + 1.
    out = timing(4);
    EXPECT_EQ(out.usFrameLines, 293);
    EXPECT_EQ(out.usExposureStartLine, 165);
    EXPECT_EQ(out.usFineDelay, 1);
    // Half a period: 7142.86 clocks, 16.09 lines → 17; 444 × 17 − 7142 − 88.
    out = timing(0.5);
    EXPECT_EQ(out.usExposureStartLine, 277);
    EXPECT_EQ(out.usFineDelay, 318);
    // 512 clocks: 13.05 lines give 399 (bounded to 356), 13.95 lines a negative delay (5).
    EXPECT_EQ(timing(0.4677, 0, 512).usFineDelay, 356);
    EXPECT_EQ(timing(0.5, 0, 512).usFineDelay, 5);
}

TEST(AeTransform, ExtremeExposuresStayInsideTheRegisters)
{
    tagAeOutput out = timing(60000);
    EXPECT_EQ(out.usFrameLines, 0xFFFF);
    EXPECT_EQ(out.usExposureStartLine, 1);
    // Only a maximum exposure of 0 leads here; one line keeps the start inside the frame.
    out = timing(0);
    EXPECT_EQ(out.usFrameLines, 293);
    EXPECT_EQ(out.usExposureStartLine, 293);
}

TEST(AeTransform, ShortExposureValueFollowsTheSensorMode)
{
    // 4 periods are 129 lines, 1/32 period 1.005 lines (2), 1/64 period 0.503 lines (1).
    const USHORT expected[3][3] = {{46, 19, 8}, {8, 36, 40}, {8, 36, 40}};
    const double exposures[3] = {4, 1.0 / 32, 1.0 / 64};
    for (UCHAR mode = 0; mode < 3; ++mode) {
        for (int e = 0; e < 3; ++e) {
            EXPECT_EQ(timing(exposures[e], mode).usShortExposureValue, expected[mode][e])
                << "mode " << int(mode) << " exposure " << exposures[e];
        }
    }
}

} // namespace
} // namespace korval::testing
