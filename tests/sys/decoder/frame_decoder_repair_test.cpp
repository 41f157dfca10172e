#include "sys/decoder/decoder_harness.h"
#include "sys/decoder/hand_lines.h"

#include <gtest/gtest.h>

namespace {

using namespace korval::testing;

using Line = std::vector<std::uint8_t>;

// A body of raw lines, with the listed lines dropped instead.
std::vector<std::uint8_t> bodyOf(const std::vector<Line>& lines, const std::vector<int>& dropped)
{
    std::vector<std::uint8_t> body;
    for (std::size_t y = 0; y < lines.size(); y++) {
        const bool drop = std::find(dropped.begin(), dropped.end(), static_cast<int>(y)) != dropped.end();
        append(body, drop ? handDroppedLine() : handRawLine(lines[y]));
    }
    return body;
}

std::vector<Line> flatLines(int height, int width, std::uint8_t value)
{
    return std::vector<Line>(static_cast<std::size_t>(height), Line(static_cast<std::size_t>(width), value));
}

TEST(FrameDecoderRepair, AMiddleLineBecomesTheAverageOfItsSameColourNeighbours)
{
    std::vector<Line> lines = flatLines(7, 5, 9);
    lines[1] = {10, 20, 30, 40, 50};
    lines[5] = {41, 60, 89, 1, 100};
    DecoderHarness harness(5, 7);
    ASSERT_TRUE(harness.process(bodyOf(lines, {3})));
    EXPECT_EQ(harness.records()[3].ucKind, 0xB4);
    EXPECT_EQ(harness.frame().ulDroppedLines, 1u);
    // Differences below 60 everywhere: floor averages, ends included.
    EXPECT_EQ(harness.lineCopy(3), (Line{25, 40, 59, 20, 75}));
}

// Line 2 of 7 is dropped; A = line 0, B = line 4 differ by 100 at every column.
// The gradient lines are 1 and 3 (or 0 and 4 when line 3 is dropped too).
struct GradientCase {
    const char* name;
    Line upper;
    Line lower;
    std::uint8_t expectedMiddle; // at columns 1..3
};

TEST(FrameDecoderRepair, AcrossAStrongEdgeTheSmootherSideWins)
{
    const Line above(5, 50);
    const Line below(5, 150);
    const GradientCase cases[] = {
        {"upper busier: take below", {0, 0, 30, 0, 0}, {9, 9, 9, 9, 9}, 150},
        {"lower busier: take above", {9, 9, 9, 9, 9}, {0, 0, 30, 0, 0}, 50},
        {"within 20: average", {0, 0, 20, 0, 0}, {9, 9, 9, 9, 9}, 100},
    };
    for (const GradientCase& c : cases) {
        // Columns 1 and 3 see |x-1 - x+1| = 30 on a busy line ({0,0,30,0,0}); column 2 sees 0.
        std::vector<Line> lines = {above, c.upper, Line(5, 7), c.lower, below, Line(5, 1), Line(5, 1)};
        DecoderHarness harness(5, 7);
        ASSERT_TRUE(harness.process(bodyOf(lines, {2})));
        const Line repaired = harness.lineCopy(2);
        EXPECT_EQ(repaired[0], 100) << c.name;
        EXPECT_EQ(repaired[4], 100) << c.name;
        EXPECT_EQ(repaired[1], c.expectedMiddle) << c.name;
        EXPECT_EQ(repaired[3], c.expectedMiddle) << c.name;
        EXPECT_EQ(repaired[2], 100) << c.name;
    }
}

TEST(FrameDecoderRepair, WithTheNextLineDroppedTooTheGradientsComeFromAAndB)
{
    // Lines 2 and 3 dropped: line 2's gradients use lines 0 and 4 themselves.
    const Line above = {50, 50, 110, 50, 50}; // |50 - 50| at column 2, |50 - 110| = 60 at 1 and 3
    const Line below = {150, 150, 150, 150, 150};
    std::vector<Line> lines = {above, Line(5, 3), Line(5, 7), Line(5, 7), below, Line(5, 4), Line(5, 200)};
    DecoderHarness harness(5, 7);
    harness.output().assign(35, 0);
    ASSERT_TRUE(harness.process(bodyOf(lines, {2, 3})));
    const Line repaired = harness.lineCopy(2);
    // Column 1: |A-B| = 100, gU = |50 - 110| = 60, gD = 0: take B.
    EXPECT_EQ(repaired[1], 150);
    // Column 2: |A-B| = 40: average.
    EXPECT_EQ(repaired[2], 130);
    EXPECT_EQ(repaired[3], 150);
    // Line 3 (repaired from 1 and 5 with gradients 1 and 5, both flat): averages.
    EXPECT_EQ(harness.lineCopy(3), Line(5, 3));
}

TEST(FrameDecoderRepair, ARepairedLineServesTheLineTwoBelowIt)
{
    std::vector<Line> lines = flatLines(9, 4, 0);
    lines[0] = Line(4, 100);
    lines[6] = Line(4, 140);
    DecoderHarness harness(4, 9);
    harness.output().assign(36, 0);
    // Lines 2 and 4 dropped: 2 = (0 + old 4 = 0) / 2 = 50, then 4 = (50 + 140) / 2 = 95.
    ASSERT_TRUE(harness.process(bodyOf(lines, {2, 4})));
    EXPECT_EQ(harness.lineCopy(2), Line(4, 50));
    EXPECT_EQ(harness.lineCopy(4), Line(4, 95));
}

TEST(FrameDecoderRepair, TheLastTwoLinesCopyTheLinesTwoAbove)
{
    std::vector<Line> lines = flatLines(6, 3, 0);
    lines[2] = {1, 2, 3};
    lines[3] = {4, 5, 6};
    DecoderHarness harness(3, 6);
    ASSERT_TRUE(harness.process(bodyOf(lines, {4, 5})));
    EXPECT_EQ(harness.lineCopy(4), (Line{1, 2, 3}));
    EXPECT_EQ(harness.lineCopy(5), (Line{4, 5, 6}));
}

TEST(FrameDecoderRepair, LinesZeroAndOneKeepWhatTheOutputHeld)
{
    std::vector<Line> lines = flatLines(6, 3, 80);
    DecoderHarness harness(3, 6);
    harness.output().assign(18, 0xEE);
    ASSERT_TRUE(harness.process(bodyOf(lines, {0, 1})));
    EXPECT_EQ(harness.lineCopy(0), Line(3, 0xEE));
    EXPECT_EQ(harness.lineCopy(1), Line(3, 0xEE));
    EXPECT_EQ(harness.frame().ulDroppedLines, 2u);
}

TEST(FrameDecoderRepair, ShortFramesRepairOnlyWhatHasLinesTwoAbove)
{
    for (ULONG height = 1; height <= 4; height++) {
        std::vector<Line> lines = flatLines(static_cast<int>(height), 2, 0);
        for (ULONG y = 0; y < height; y++) {
            lines[y] = Line(2, static_cast<std::uint8_t>(10 * (y + 1)));
        }
        std::vector<int> dropped;
        for (ULONG y = 0; y < height; y++) {
            dropped.push_back(static_cast<int>(y));
        }
        DecoderHarness harness(2, height);
        harness.output().assign(2 * height, 0xEE);
        ASSERT_TRUE(harness.process(bodyOf(lines, dropped))) << height;
        EXPECT_EQ(harness.output(), std::vector<std::uint8_t>(2 * height, 0xEE)) << height;
    }
}

TEST(FrameDecoderRepair, ARejectedFrameIsNotRepaired)
{
    std::vector<Line> lines = flatLines(5, 2, 60);
    std::vector<std::uint8_t> body = bodyOf(lines, {4});
    body.push_back(0); // one byte too many
    DecoderHarness harness(2, 5);
    harness.output().assign(10, 0xEE);
    EXPECT_FALSE(harness.process(body));
    EXPECT_EQ(harness.lineCopy(4), Line(2, 0xEE));
}

} // namespace
