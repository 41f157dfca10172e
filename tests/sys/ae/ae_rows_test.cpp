// The timing rows: the line-by-line bandwidth test, the moves to faster and
// slower rows on the decoder's line counts, and fitting the row to the exposure.
#include <gtest/gtest.h>

#include <vector>

#include "ae_harness.h"

namespace korval::testing {
namespace {

std::vector<tagSDecompressionInformation> linesOf(std::initializer_list<USHORT> lengths)
{
    std::vector<tagSDecompressionInformation> lines;
    for (USHORT length : lengths) {
        lines.push_back({DECOMPRESSION_KIND_STEP5, length});
    }
    return lines;
}

// An opened CAe over `height` lines, moved to row 1 (budget of row 0: 112 bytes).
struct RegionProbe {
    explicit RegionProbe(ULONG height) : h(defaultParameters(), height) { h.ae.setRow(1); }
    bool test(std::initializer_list<USHORT> lengths)
    {
        const auto lines = linesOf(lengths);
        return h.ae.CompressedRegionTest(lines.data());
    }
    OpenedAe h;
};

TEST(AeRegionTest, ExcessMustStayWithinTheFifoAllowance)
{
    RegionProbe probe(3);
    EXPECT_TRUE(probe.test({112 + 512, 112 + 512, 112}));       // exactly 1024
    EXPECT_FALSE(probe.test({112 + 512, 112 + 513, 0}));        // 1025
    EXPECT_TRUE(probe.test({112 + 1000, 0, 112 + 136}));        // 1000, 888, 1024
    EXPECT_FALSE(probe.test({112 + 1000, 0, 112 + 137}));
    EXPECT_FALSE(probe.test({112 + 1025, 0, 0}));
}

TEST(AeRegionTest, ShortLinesDoNotBankCredit)
{
    // Without clearing a negative backlog, the first line would pay for 100 of the second's bytes.
    RegionProbe probe(2);
    EXPECT_FALSE(probe.test({12, 112 + 1025}));
    EXPECT_TRUE(probe.test({12, 112 + 1024}));
}

TEST(AeRegionTest, FastestRowOrNoLinesFails)
{
    RegionProbe probe(2);
    EXPECT_FALSE(probe.h.ae.CompressedRegionTest(nullptr));
    probe.h.ae.setRow(0);
    EXPECT_FALSE(probe.test({0, 0}));
    // Row 5 tests against row 4's budget of 261 bytes.
    probe.h.ae.setRow(5);
    EXPECT_TRUE(probe.test({261 + 1024, 261}));
    EXPECT_FALSE(probe.test({261 + 1024, 262}));
}

// A frame that qualifies for a faster row with the default thresholds.
tagAeInput goodFrame(OpenedAe& h, ULONG ratio, UCHAR luma = 100)
{
    tagAeInput in = neutralFrame(h.out, luma, &h.records);
    in.ulStep5Lines = 260;
    in.ulStep9Lines = 28;
    in.ulCompressionRatio = ratio;
    return in;
}

TEST(AeFasterRow, TwoGoodFramesMoveOneRowFaster)
{
    OpenedAe h;
    h.warmUp();
    ASSERT_TRUE(h.process(goodFrame(h, 200)));
    EXPECT_EQ(h.ae.row(), 4);
    EXPECT_EQ(h.ae.upCount(), 1);
    ASSERT_TRUE(h.process(goodFrame(h, 200)));
    EXPECT_EQ(h.ae.row(), 3);  // 200 does not reach row 2's 230
    EXPECT_EQ(h.ae.upCount(), 0);
    EXPECT_TRUE(h.out.bClockDividerChanged);
    EXPECT_EQ(h.out.usClockDivider, 6);
    EXPECT_EQ(h.out.usRateValue, 108);
    EXPECT_TRUE(h.out.bRateChanged);
}

TEST(AeFasterRow, HighRatioSkipsSeveralRows)
{
    OpenedAe h;
    h.warmUp();
    h.process(goodFrame(h, 300));
    h.process(goodFrame(h, 300));
    EXPECT_EQ(h.ae.row(), 1);  // 300 reaches 230 and 288, not 384
    EXPECT_EQ(h.out.usClockDivider, 4);
}

TEST(AeFasterRow, NeverPassesMinRow)
{
    OpenedAe h(defaultParameters(1023, 3));
    h.warmUp();
    h.process(goodFrame(h, 1000));
    h.process(goodFrame(h, 1000));
    EXPECT_EQ(h.ae.row(), 3);
}

TEST(AeFasterRow, RequiresConsecutiveGoodFramesAndEveryThreshold)
{
    OpenedAe h;
    h.warmUp();
    h.process(goodFrame(h, 200));
    h.frame(100);  // a low ratio: not good, the count restarts
    h.process(goodFrame(h, 200));
    EXPECT_EQ(h.ae.row(), 4);

    auto expectNoMove = [](const char* what, auto change) {
        OpenedAe o;
        o.warmUp();
        for (int frame = 0; frame < 4; ++frame) {
            tagAeInput in = goodFrame(o, 200);
            change(in);
            o.process(in);
        }
        EXPECT_GE(o.ae.row(), 4) << what;
    };
    expectNoMove("dropped", [](tagAeInput& in) { in.ulDroppedLines = 1; });
    expectNoMove("step17", [](tagAeInput& in) { in.ulStep17Lines = 1; });
    expectNoMove("step9", [](tagAeInput& in) { in.ulStep9Lines = 31; });
    expectNoMove("step5", [](tagAeInput& in) { in.ulStep5Lines = 249; });
    expectNoMove("ratio at threshold", [](tagAeInput& in) { in.ulCompressionRatio = 192; });

    tagAeParameters p = defaultParameters();
    p.ucRatioMargin = 10;
    OpenedAe margin(p);
    margin.warmUp();
    margin.process(goodFrame(margin, 202));
    margin.process(goodFrame(margin, 202));
    EXPECT_EQ(margin.ae.row(), 4);
    margin.process(goodFrame(margin, 203));
    margin.process(goodFrame(margin, 203));
    EXPECT_EQ(margin.ae.row(), 3);
}

TEST(AeFasterRow, LinesThatWouldOverflowTheFasterRowHoldItBack)
{
    OpenedAe h;
    h.warmUp();
    // Row 3's budget is 224 bytes a line; 288 lines of 228 overflow 1024 bytes.
    for (auto& line : h.records) {
        line.usLength = 228;
    }
    for (int frame = 0; frame < 5; ++frame) {
        h.process(goodFrame(h, 200));
    }
    EXPECT_EQ(h.ae.row(), 4);
    EXPECT_GE(h.ae.upCount(), 2);
    // Once the lines fit, the very next good frame moves.
    for (auto& line : h.records) {
        line.usLength = 224;
    }
    h.process(goodFrame(h, 200));
    EXPECT_EQ(h.ae.row(), 3);
}

tagAeInput badFrame(OpenedAe& h)
{
    tagAeInput in = neutralFrame(h.out, 100, &h.records);
    in.ulStep17Lines = 3;
    return in;
}

TEST(AeSlowerRow, BadFramesMoveSlowerUpToRowFive)
{
    OpenedAe h;
    h.warmUp();
    h.ae.setRow(2);
    h.process(badFrame(h));
    EXPECT_EQ(h.ae.row(), 3);
    for (int frame = 0; frame < 10; ++frame) {
        h.process(badFrame(h));
    }
    EXPECT_EQ(h.ae.row(), 5);
}

TEST(AeSlowerRow, RowFiveAndAboveAreNeverSlowedByLineCounts)
{
    OpenedAe h(defaultParameters(1023, 5));
    h.warmUp();
    for (int frame = 0; frame < 10; ++frame) {
        tagAeInput in = badFrame(h);
        in.ulDroppedLines = 100;
        in.ulStep9Lines = 289;
        h.process(in);
        EXPECT_EQ(h.ae.row(), 5);
        EXPECT_FALSE(h.out.bClockDividerChanged);
    }
    tagAeInput lost = neutralFrame(h.out, 100, &h.records);
    lost.ulDroppedLines = kSensorHeight;
    h.process(lost);
    EXPECT_EQ(h.ae.row(), 5);
}

TEST(AeSlowerRow, EachDownThresholdCounts)
{
    auto moves = [](auto change) {
        OpenedAe h;
        h.warmUp();
        tagAeInput in = neutralFrame(h.out, 100, &h.records);
        change(in);
        h.process(in);
        return h.ae.row() == 5;
    };
    EXPECT_FALSE(moves([](tagAeInput&) {}));
    EXPECT_TRUE(moves([](tagAeInput& in) { in.ulDroppedLines = 1; }));
    EXPECT_TRUE(moves([](tagAeInput& in) { in.ulStep17Lines = 3; }));
    EXPECT_FALSE(moves([](tagAeInput& in) { in.ulStep17Lines = 2; }));
    EXPECT_TRUE(moves([](tagAeInput& in) { in.ulStep9Lines = 289; }));
}

TEST(AeSlowerRow, DownFramesCountsConsecutiveBadFrames)
{
    tagAeParameters p = defaultParameters();
    p.ucDownFrames = 2;
    OpenedAe h(p);
    h.warmUp();
    h.process(badFrame(h));
    h.frame(100);
    h.process(badFrame(h));
    EXPECT_EQ(h.ae.row(), 4);
    h.process(badFrame(h));
    EXPECT_EQ(h.ae.row(), 5);
}

TEST(AeSlowerRow, LostFrameMovesSlowerEvenWhenDroppedLinesAreAllowed)
{
    tagAeParameters p = defaultParameters();
    p.usDownMaxDropped = 1000;
    OpenedAe h(p);
    h.warmUp();
    tagAeInput lost = neutralFrame(h.out, 100, &h.records);
    lost.ulDroppedLines = kSensorHeight;
    h.process(lost);
    EXPECT_EQ(h.ae.row(), 5);
}

TEST(AeRowFit, LongExposureMovesToTheRowThatAllowsIt)
{
    OpenedAe h;
    h.warmUp();
    // Two black frames: 8 → 19.2 (7 periods) → skipped → 19.2 → 46.08 (32 periods).
    h.frame(0);
    h.frame(0);
    h.frame(0);
    EXPECT_EQ(h.ae.exposure(), 32.0);
    EXPECT_EQ(h.ae.row(), 6);  // row 6 allows the long maximum, 39
    EXPECT_EQ(h.out.usClockDivider, 11);
    EXPECT_EQ(h.out.usRateValue, 178);
    EXPECT_TRUE(h.out.bClockDividerChanged);
    // 32 periods at divider 11: 290909.1 clocks, 655.2 lines.
    EXPECT_EQ(h.out.usFrameLines, 656);
    EXPECT_EQ(h.out.usExposureStartLine, 1);
}

TEST(AeRowFit, ShorterExposureReturnsToAFasterRowFromTheFullRateRow)
{
    OpenedAe h;
    h.warmUp();
    h.frame(0);
    h.frame(0);
    h.frame(0);
    ASSERT_EQ(h.ae.row(), 6);
    h.frame(100);  // the two frames after the divider change
    h.frame(100);
    // Saturated: 46.08 × 0.609 = 28.05, Ceil(28.05 / 2.8) = 11 periods. Row 6
    // sends at rate 178, so the row falls back to the fastest that allows 11.
    h.frame(255);
    EXPECT_EQ(h.ae.exposure(), 11.0);
    EXPECT_EQ(h.ae.row(), 5);
    EXPECT_EQ(h.out.usClockDivider, 9);
    // Row 5 sends at 162: shorter exposures no longer move it.
    h.frame(100);
    h.frame(100);
    h.frame(255);
    EXPECT_EQ(h.ae.exposure(), 7.0);
    EXPECT_EQ(h.ae.row(), 5);
}

TEST(AeRowFit, WithoutFullRateOrRawFramesTheRowStays)
{
    OpenedAe h(defaultParameters(512));
    h.warmUp();
    h.frame(0);
    h.frame(0);
    h.frame(0);
    ASSERT_EQ(h.ae.row(), 6);
    ASSERT_EQ(h.out.usRateValue, 99);
    h.frame(100);
    h.frame(100);
    h.frame(255);
    h.frame(100);
    h.frame(255);
    EXPECT_EQ(h.ae.exposure(), 7.0);
    EXPECT_EQ(h.ae.row(), 6);
    h.frame(100);
    // An all-raw frame lets it move back, here as far as row 0 (5 periods at 512 bytes).
    tagAeInput raw = neutralFrame(h.out, 255, &h.records);
    raw.ulRawLines = kSensorHeight;
    raw.ulStep5Lines = 0;
    h.process(raw);
    EXPECT_EQ(h.ae.exposure(), 4.0);
    EXPECT_EQ(h.ae.row(), 0);
}

} // namespace
} // namespace korval::testing
