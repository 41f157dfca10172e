#include "sys/decoder/decoder_harness.h"
#include "sys/decoder/hand_lines.h"
#include "sys/decoder/rule_decoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace korval::testing;

struct CodedKind {
    std::uint16_t marker;
    UCHAR kind;
    int step;
    int escapeBits;
};
constexpr CodedKind kCodedKinds[] = {
    {0x1EE1, 0xE1, 5, 6},
    {0x2DD2, 0xD2, 9, 5},
    {0x3CC3, 0xC3, 17, 4},
};

TEST(FrameDecoderLines, AnAllRawFrameIsAnExactCopy)
{
    constexpr ULONG kWidth = 7, kHeight = 5;
    std::vector<std::uint8_t> body;
    std::vector<std::uint8_t> expected;
    for (ULONG y = 0; y < kHeight; y++) {
        std::vector<std::uint8_t> pixels;
        for (ULONG x = 0; x < kWidth; x++) {
            pixels.push_back(static_cast<std::uint8_t>(y * 40 + x * 3 + 1));
        }
        append(body, handRawLine(pixels));
        append(expected, pixels);
    }
    ASSERT_EQ(body.size(), kHeight * (kWidth + 2));
    DecoderHarness harness(kWidth, kHeight);
    ASSERT_TRUE(harness.process(body));
    EXPECT_EQ(harness.output(), expected);
    EXPECT_EQ(harness.frame().ulRawLines, kHeight);
    EXPECT_EQ(harness.frame().ulDroppedLines, 0u);
    for (const auto& record : harness.records()) {
        EXPECT_EQ(record.ucKind, 0xF0);
        EXPECT_EQ(record.usLength, kWidth + 2);
    }
}

TEST(FrameDecoderLines, StepZeroRepeatsTheTwoRawPixelsAcrossTheLine)
{
    for (const CodedKind& kind : kCodedKinds) {
        std::string bits;
        DecoderHarness harness(9, 1);
        // 7 codes of 2 bits: 14 bits, 2 bytes; 4 + 2 = 6 is even already.
        ASSERT_TRUE(harness.process(handCodedLine(kind.marker, 31, 200, repeatedBits(bits, "00", 7))));
        EXPECT_EQ(harness.lineCopy(0), (std::vector<std::uint8_t>{31, 200, 31, 200, 31, 200, 31, 200, 31}));
        EXPECT_EQ(harness.records()[0].ucKind, kind.kind);
        EXPECT_EQ(harness.records()[0].usLength, 6);
    }
}

TEST(FrameDecoderLines, EveryStepOfEveryKindAppliesToThePixelTwoToTheLeft)
{
    for (const CodedKind& kind : kCodedKinds) {
        const int d = kind.step;
        // +d, -d, +2d, -2d, +3d, -3d, +4d, -4d on alternating colours from 100 and 120.
        const std::string bits = "10 01 1101 1100 11101 11100 111101 111100";
        DecoderHarness harness(10, 1);
        ASSERT_TRUE(harness.process(handCodedLine(kind.marker, 100, 120, bits)));
        const std::vector<std::uint8_t> expected = {
            100, 120, static_cast<std::uint8_t>(100 + d), static_cast<std::uint8_t>(120 - d),
            static_cast<std::uint8_t>(100 + 3 * d), static_cast<std::uint8_t>(120 - 3 * d),
            static_cast<std::uint8_t>(100 + 6 * d), static_cast<std::uint8_t>(std::max(0, 120 - 6 * d)),
            static_cast<std::uint8_t>(std::min(255, 100 + 10 * d)), static_cast<std::uint8_t>(std::max(0, 120 - 10 * d))};
        EXPECT_EQ(harness.lineCopy(0), expected) << "step " << d;
    }
}

TEST(FrameDecoderLines, StepsClampAtBothEnds)
{
    for (const CodedKind& kind : kCodedKinds) {
        // +4d from 250 and -4d from 3, twice, then +d and -d from the clamped ends.
        DecoderHarness harness(8, 1);
        ASSERT_TRUE(harness.process(handCodedLine(kind.marker, 250, 3, "111101 111100 111101 111100 10 01")));
        EXPECT_EQ(harness.lineCopy(0), (std::vector<std::uint8_t>{250, 3, 255, 0, 255, 0, 255, 0}));
    }
}

TEST(FrameDecoderLines, EscapesCarryTheirBitsInTheTopOfThePixel)
{
    struct Case {
        std::uint16_t marker;
        const char* bits;
        std::uint8_t pixel;
    };
    const Case cases[] = {
        {0x3CC3, "11111 1111", 0xF0},     {0x3CC3, "11111 0001", 0x10},   {0x2DD2, "11111 10101", 0xA8},
        {0x2DD2, "11111 11111", 0xF8},    {0x1EE1, "11111 111111", 0xFC}, {0x1EE1, "11111 000001", 0x04},
        {0x1EE1, "11111 000000", 0x00},
    };
    for (const Case& c : cases) {
        // The escape, then a +d step from the escaped value proves the code length was right.
        DecoderHarness harness(4, 1);
        const std::string bits = std::string(c.bits) + " 00";
        ASSERT_TRUE(harness.process(handCodedLine(c.marker, 7, 9, bits)));
        EXPECT_EQ(harness.lineCopy(0), (std::vector<std::uint8_t>{7, 9, c.pixel, 9})) << c.bits;
    }
}

TEST(FrameDecoderLines, OddCodedLinesOccupyOneMoreByteAndTheNextMarkerFollowsThePad)
{
    // 3 two-bit codes: one stream byte; 2 + 2 + 1 = 5 bytes, padded to 6.
    std::vector<std::uint8_t> body = handCodedLine(0x1EE1, 50, 60, "10 10 10");
    ASSERT_EQ(body.size(), 6u);
    body[5] = 0x0F; // the pad byte's content does not matter
    append(body, handRawLine({1, 2, 3, 4, 5}));
    DecoderHarness harness(5, 2);
    ASSERT_TRUE(harness.process(body));
    EXPECT_EQ(harness.lineCopy(0), (std::vector<std::uint8_t>{50, 60, 55, 65, 60}));
    EXPECT_EQ(harness.records()[0].usLength, 6);
    EXPECT_EQ(harness.lineCopy(1), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
}

TEST(FrameDecoderLines, EvenCodedLinesTakeNoPadAndUnusedBitsOfTheLastByteAreDropped)
{
    // 11 bits of escape: two stream bytes, 6 in all; the next marker starts right after.
    std::vector<std::uint8_t> body = handCodedLine(0x1EE1, 1, 2, "11111 101010");
    ASSERT_EQ(body.size(), 6u);
    body[5] |= 0x1F; // garbage in the unused low bits
    append(body, handCodedLine(0x2DD2, 3, 4, "11111 00001"));
    DecoderHarness harness(3, 2);
    ASSERT_TRUE(harness.process(body));
    EXPECT_EQ(harness.lineCopy(0), (std::vector<std::uint8_t>{1, 2, 0xA8}));
    EXPECT_EQ(harness.lineCopy(1), (std::vector<std::uint8_t>{3, 4, 0x08}));
    EXPECT_EQ(harness.records()[1].usLength, 6);
}

TEST(FrameDecoderLines, CountersAndRecordsFollowEveryLineKind)
{
    std::vector<std::uint8_t> body;
    append(body, handRawLine({9, 9, 9, 9}));
    append(body, handCodedLine(0x1EE1, 1, 2, "00 00"));
    append(body, handCodedLine(0x2DD2, 1, 2, "00 00"));
    append(body, handCodedLine(0x3CC3, 1, 2, "11111 1111 11111 1111")); // 18 bits: 3 bytes, 7 → 8
    append(body, handDroppedLine());
    append(body, handCodedLine(0x1EE1, 1, 2, "00 00"));
    DecoderHarness harness(4, 6);
    ASSERT_TRUE(harness.process(body));
    const tagSDecompressionFrame& frame = harness.frame();
    EXPECT_EQ(frame.ulRawLines, 1u);
    EXPECT_EQ(frame.ulStep5Lines, 2u);
    EXPECT_EQ(frame.ulStep9Lines, 1u);
    EXPECT_EQ(frame.ulStep17Lines, 1u);
    EXPECT_EQ(frame.ulDroppedLines, 1u);
    const UCHAR kinds[] = {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xE1};
    const USHORT lengths[] = {6, 6, 6, 8, 4, 6}; // a dropped line records the width
    for (int y = 0; y < 6; y++) {
        EXPECT_EQ(harness.records()[y].ucKind, kinds[y]) << y;
        EXPECT_EQ(harness.records()[y].usLength, lengths[y]) << y;
    }
}

TEST(FrameDecoderLines, BodyLengthMayFallShortByOneOrTwoBytesOnly)
{
    // The last line is raw, so a short body loses pixel bytes, which decode as zero.
    std::vector<std::uint8_t> body;
    append(body, handCodedLine(0x1EE1, 5, 6, "10 10"));
    append(body, handRawLine({1, 2, 3, 4}));
    DecoderHarness harness(4, 2);

    auto withLength = [&](std::size_t length) {
        std::vector<std::uint8_t> cut(body.begin(), body.begin() + static_cast<long>(std::min(length, body.size())));
        cut.resize(length, 0);
        return cut;
    };
    ASSERT_TRUE(harness.process(withLength(body.size())));
    EXPECT_EQ(harness.lineCopy(1), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    ASSERT_TRUE(harness.process(withLength(body.size() - 1)));
    EXPECT_EQ(harness.lineCopy(1), (std::vector<std::uint8_t>{1, 2, 3, 0}));
    ASSERT_TRUE(harness.process(withLength(body.size() - 2)));
    EXPECT_EQ(harness.lineCopy(1), (std::vector<std::uint8_t>{1, 2, 0, 0}));
    EXPECT_EQ(harness.frame().ulDroppedLines, 0u);

    for (std::size_t length : {body.size() + 1, body.size() + 2, body.size() - 3}) {
        EXPECT_FALSE(harness.process(withLength(length))) << length;
        EXPECT_EQ(harness.frame().ulDroppedLines, 2u);
    }
}

TEST(FrameDecoderLines, ACodedLastLineMayLoseItsPadAndLastStreamByte)
{
    // 9 codes of 2 bits: 3 stream bytes, 7 → 8 with the pad.
    std::string bits;
    const std::vector<std::uint8_t> line = handCodedLine(0x2DD2, 40, 80, repeatedBits(bits, "10", 9));
    ASSERT_EQ(line.size(), 8u);
    DecoderHarness harness(11, 1);
    ASSERT_TRUE(harness.process(std::vector<std::uint8_t>(line.begin(), line.end() - 1)));
    EXPECT_EQ(harness.line(0)[10], 40 + 9 * 5);
    ASSERT_TRUE(harness.process(std::vector<std::uint8_t>(line.begin(), line.end() - 2)));
    // The last stream byte is gone: its code reads as zero bits, a step of 0.
    EXPECT_EQ(harness.line(0)[10], 40 + 9 * 4);
    EXPECT_EQ(harness.records()[0].usLength, 8);
}

TEST(FrameDecoderLines, AnUnknownMarkerRejectsTheFrameAndKeepsTheLinesBeforeIt)
{
    std::vector<std::uint8_t> body;
    append(body, handRawLine({7, 8, 9}));
    append(body, {0x1E, 0xE2, 0, 0, 0, 0});
    append(body, handRawLine({1, 1, 1}));
    DecoderHarness harness(3, 3);
    EXPECT_FALSE(harness.process(body));
    EXPECT_EQ(harness.frame().ulDroppedLines, 3u);
    EXPECT_EQ(harness.lineCopy(0), (std::vector<std::uint8_t>{7, 8, 9}));
    EXPECT_EQ(harness.records()[0].ucKind, 0xF0);
    EXPECT_EQ(harness.records()[1].ucKind, 0);
}

TEST(FrameDecoderLines, TinyWidthsNeverWriteBeyondTheFrame)
{
    // A coded line always carries two raw bytes; at width 1 only the first is a pixel.
    std::vector<std::uint8_t> body = handCodedLine(0x1EE1, 77, 88, "");
    append(body, handCodedLine(0x3CC3, 66, 99, ""));
    DecoderHarness harness(1, 2);
    ASSERT_TRUE(harness.process(body));
    EXPECT_EQ(harness.output(), (std::vector<std::uint8_t>{77, 66}));
    EXPECT_EQ(harness.records()[1].usLength, 4);
}

TEST(FrameDecoderLines, MarkersRunningPastTheBodyRejectTheFrame)
{
    // The second line's marker lies in the 2 bytes the total check would forgive.
    std::vector<std::uint8_t> body = handRawLine({1, 2});
    DecoderHarness harness(2, 2);
    EXPECT_FALSE(harness.process(body));
    append(body, {0x4B});
    EXPECT_FALSE(harness.process(body));
    EXPECT_EQ(harness.frame().ulDroppedLines, 2u);
}

} // namespace
