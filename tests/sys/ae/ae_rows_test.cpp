// The timing rows: the line-by-line bandwidth test, the moves to faster and
// slower rows on the decoder's line counts, and fitting the row to the exposure.
#include <gtest/gtest.h>

#include <vector>

#include "ae_harness.h"

namespace korval::testing {
namespace {

// CompressedRegionTest over lines of the given lengths, at `row`.
bool regionFits(std::initializer_list<USHORT> lengths, USHORT row = 1)
{
    std::vector<tagSDecompressionInformation> lines;
    for (USHORT length : lengths) {
        lines.push_back({DECOMPRESSION_KIND_STEP5, length});
    }
    OpenedAe h(defaultParameters(), static_cast<ULONG>(lines.size()));
    h.ae.setRow(row);
    return h.ae.CompressedRegionTest(lines.data());
}

TEST(AeRegionTest, ExcessOverTheFasterBudgetMustStayWithinTheFifo)
{
    // Row 1 tests against row 0's 112 bytes a line and 1024 bytes of FIFO.
    EXPECT_TRUE(regionFits({112 + 512, 112 + 512, 112}));
    EXPECT_FALSE(regionFits({112 + 512, 112 + 513, 0}));
    EXPECT_TRUE(regionFits({112 + 1000, 0, 112 + 136}));  // 1000, 888, 1024
    EXPECT_FALSE(regionFits({112 + 1000, 0, 112 + 137}));
    // Short lines do not bank credit: without the clamp at 0 this would fit.
    EXPECT_FALSE(regionFits({12, 112 + 1025}));
    EXPECT_TRUE(regionFits({12, 112 + 1024}));
    // Row 5 tests against row 4's 261 bytes; row 0 and missing records never pass.
    EXPECT_TRUE(regionFits({261 + 1024, 261}, 5));
    EXPECT_FALSE(regionFits({261 + 1024, 262}, 5));
    EXPECT_FALSE(regionFits({0, 0}, 0));
    OpenedAe h;
    EXPECT_FALSE(h.ae.CompressedRegionTest(nullptr));
}

// A frame that qualifies for a faster row with the default thresholds.
tagAeInput goodFrame(OpenedAe& h, ULONG ratio)
{
    tagAeInput in = neutralFrame(h.out, 100, &h.records);
    in.ulStep5Lines = 260;
    in.ulStep9Lines = 28;
    in.ulCompressionRatio = ratio;
    return in;
}

TEST(AeFasterRow, ConsecutiveGoodFramesMoveFasterAsFarAsTheRatioAllows)
{
    struct Case {
        ULONG ratio;
        USHORT minRow;
        USHORT row;
    };
    // Thresholds of rows 3, 2, 1, 0: 192, 230, 288, 384.
    const Case cases[] = {{200, 0, 3}, {300, 0, 1}, {1000, 0, 0}, {1000, 3, 3}};
    for (const Case& c : cases) {
        OpenedAe h(defaultParameters(1023, c.minRow));
        h.warmUp();
        ASSERT_TRUE(h.process(goodFrame(h, c.ratio)));
        EXPECT_EQ(h.ae.row(), 4);
        EXPECT_EQ(h.ae.upCount(), 1);
        ASSERT_TRUE(h.process(goodFrame(h, c.ratio)));
        EXPECT_EQ(h.ae.row(), c.row) << "ratio " << c.ratio;
        EXPECT_EQ(h.out.usClockDivider, h.ae.timingRow(c.row).usClockDivider);
        EXPECT_EQ(h.out.bClockDividerChanged, c.row != 4);
    }
}

TEST(AeFasterRow, EveryThresholdAndAnInterruptionHoldItBack)
{
    using Change = void (*)(tagAeInput&);
    const Change changes[] = {
        [](tagAeInput& in) { in.ulDroppedLines = 1; },
        [](tagAeInput& in) { in.ulStep17Lines = 1; },
        [](tagAeInput& in) { in.ulStep9Lines = 31; },
        [](tagAeInput& in) { in.ulStep5Lines = 249; },
        [](tagAeInput& in) { in.ulCompressionRatio = 192; },
    };
    for (Change change : changes) {
        OpenedAe h;
        h.warmUp();
        for (int frame = 0; frame < 4; ++frame) {
            tagAeInput in = goodFrame(h, 200);
            change(in);
            h.process(in);
        }
        EXPECT_GE(h.ae.row(), 4);
    }
    OpenedAe h;
    h.warmUp();
    h.process(goodFrame(h, 200));
    h.frame(100);  // a low ratio: the count restarts
    h.process(goodFrame(h, 200));
    EXPECT_EQ(h.ae.row(), 4);

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
    // Once the lines fit, the very next good frame moves.
    for (auto& line : h.records) {
        line.usLength = 224;
    }
    h.process(goodFrame(h, 200));
    EXPECT_EQ(h.ae.row(), 3);
}

TEST(AeSlowerRow, EachDownThresholdMovesOneRowSlowerUpToRowFive)
{
    using Change = void (*)(tagAeInput&);
    const std::pair<Change, bool> cases[] = {
        {[](tagAeInput&) {}, false},
        {[](tagAeInput& in) { in.ulDroppedLines = 1; }, true},
        {[](tagAeInput& in) { in.ulStep17Lines = 3; }, true},
        {[](tagAeInput& in) { in.ulStep17Lines = 2; }, false},
        {[](tagAeInput& in) { in.ulStep9Lines = 289; }, true},
    };
    for (const auto& [change, moves] : cases) {
        OpenedAe h;
        h.warmUp();
        h.ae.setRow(3);
        tagAeInput in = neutralFrame(h.out, 100, &h.records);
        change(in);
        h.process(in);
        EXPECT_EQ(h.ae.row(), moves ? 4 : 3);
    }
    // Bad frames keep moving until row 5 and never beyond it, lost frames included.
    OpenedAe h;
    h.warmUp();
    for (int frame = 0; frame < 20; ++frame) {
        tagAeInput in = neutralFrame(h.out, 100, &h.records);
        in.ulStep17Lines = 100;
        in.ulDroppedLines = frame % 2 == 0 ? 50 : kSensorHeight;
        h.process(in);
        EXPECT_LE(h.ae.row(), 5);
    }
    EXPECT_EQ(h.ae.row(), 5);
}

TEST(AeSlowerRow, DownFramesAndLostFrames)
{
    tagAeParameters p = defaultParameters();
    p.ucDownFrames = 2;
    OpenedAe h(p);
    h.warmUp();
    tagAeInput bad = neutralFrame(h.out, 100, &h.records);
    bad.ulStep17Lines = 3;
    h.process(bad);
    h.frame(100);
    h.process(bad);
    EXPECT_EQ(h.ae.row(), 4);
    h.process(bad);
    EXPECT_EQ(h.ae.row(), 5);

    // With dropped lines allowed, a lost frame still moves slower.
    p = defaultParameters();
    p.usDownMaxDropped = 1000;
    OpenedAe allowed(p);
    allowed.warmUp();
    tagAeInput lost = neutralFrame(allowed.out, 100, &allowed.records);
    lost.ulDroppedLines = kSensorHeight;
    allowed.process(lost);
    EXPECT_EQ(allowed.ae.row(), 5);
}

// Three black frames from the start: 8 → 19.2 (7 periods), a skipped frame,
// then 46.08 (32 periods), which needs row 6.
void darkenToRowSix(OpenedAe& h)
{
    h.warmUp();
    h.frame(0);
    h.frame(0);
    h.frame(0);
    ASSERT_EQ(h.ae.exposure(), 32.0);
    ASSERT_EQ(h.ae.row(), 6);
    h.frame(100);  // the two frames after the divider change
    h.frame(100);
}

TEST(AeRowFit, LongExposureTakesRowSixAndFullRateLetsItReturn)
{
    OpenedAe h;
    darkenToRowSix(h);
    EXPECT_EQ(h.out.usClockDivider, 11);
    EXPECT_EQ(h.out.usRateValue, 178);
    EXPECT_EQ(h.out.usFrameLines, 656);  // 290909 clocks, 655.2 lines
    EXPECT_EQ(h.out.usExposureStartLine, 1);
    // Saturated: 46.08 × 0.609 = 28.05, Ceil(28.05 / 2.8) = 11 periods. Row 6
    // sends at rate 178, so the row falls back to the fastest that allows 11.
    h.frame(255);
    EXPECT_EQ(h.ae.exposure(), 11.0);
    EXPECT_EQ(h.ae.row(), 5);
    // Row 5 sends at 162: shorter exposures no longer move it.
    h.frame(100);
    h.frame(100);
    h.frame(255);
    EXPECT_EQ(h.ae.exposure(), 7.0);
    EXPECT_EQ(h.ae.row(), 5);
}

TEST(AeRowFit, BelowFullRateOnlyAllRawFramesLetTheRowReturn)
{
    OpenedAe h(defaultParameters(512));
    darkenToRowSix(h);
    ASSERT_EQ(h.out.usRateValue, 99);
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
