#include "camera/codec/frame_body_builder.h"
#include "camera/codec/line_compressor.h"
#include "sys/decoder/bayer_scene.h"
#include "sys/decoder/decoder_harness.h"
#include "sys/decoder/rule_decoder.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace korval::testing;
using korval::camera::LineKind;

struct KindFacts {
    LineKind kind;
    int step;
    int escapeBits;
    int worstError; // the escape's rounding, or the gap above its largest value
};
constexpr KindFacts kCoded[] = {
    {LineKind::Step5, 5, 6, 3},
    {LineKind::Step9, 9, 5, 7},
    {LineKind::Step17, 17, 4, 15},
};

std::vector<std::uint8_t> randomLine(std::mt19937& random, std::size_t width)
{
    std::vector<std::uint8_t> line(width);
    for (auto& pixel : line) {
        pixel = static_cast<std::uint8_t>(random() & 0xFF);
    }
    return line;
}

// Every value a code can produce for a pixel predicted from previous.
int nearestPossibleError(int previous, int target, const KindFacts& facts)
{
    int best = 256;
    for (int multiple = -4; multiple <= 4; multiple++) {
        const int value = std::clamp(previous + multiple * facts.step, 0, 255);
        best = std::min(best, std::abs(value - target));
    }
    for (int v = 0; v < (1 << facts.escapeBits); v++) {
        best = std::min(best, std::abs((v << (8 - facts.escapeBits)) - target));
    }
    return best;
}

void expectCodedLineIsNearestAndDecodable(const std::vector<std::uint8_t>& line, const KindFacts& facts)
{
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> reconstructed(line.size());
    const std::size_t size = korval::camera::encodeLine(line.data(), line.size(), facts.kind, bytes,
                                                        reconstructed.data());
    ASSERT_EQ(size, bytes.size());
    EXPECT_EQ(size % 2, 0u);
    EXPECT_EQ(korval::camera::codedLineSize(line.data(), line.size(), facts.kind), size);
    const RuleDecodedLine decoded = ruleDecodeCodedLine(bytes, 0, facts.step, facts.escapeBits, line.size());
    EXPECT_EQ(decoded.length, size);
    ASSERT_EQ(decoded.pixels, reconstructed);
    for (std::size_t x = 2; x < line.size(); x++) {
        const int error = std::abs(reconstructed[x] - line[x]);
        ASSERT_EQ(error, nearestPossibleError(reconstructed[x - 2], line[x], facts)) << "x " << x;
        ASSERT_LE(error, facts.worstError);
    }
}

TEST(LineCompressor, CodedLinesTakeTheNearestCodeAndDecodeByTheRule)
{
    std::mt19937 random(7);
    const std::vector<std::uint8_t> scene = naturalBayerScene(352, 288);
    for (const KindFacts& facts : kCoded) {
        for (std::size_t width : {3u, 4u, 5u, 17u, 352u}) {
            for (int trial = 0; trial < 20; trial++) {
                expectCodedLineIsNearestAndDecodable(randomLine(random, width), facts);
            }
        }
        for (int y = 0; y < 288; y += 7) {
            expectCodedLineIsNearestAndDecodable({scene.begin() + y * 352, scene.begin() + (y + 1) * 352}, facts);
        }
    }
}

TEST(LineCompressor, ExtremesUseEscapesAndClamping)
{
    // A jump from 0 to 255 is beyond 4 steps: the escape's largest value.
    const std::vector<std::uint8_t> jump = {0, 0, 255, 255, 0, 0};
    for (const KindFacts& facts : kCoded) {
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint8_t> reconstructed(jump.size());
        korval::camera::encodeLine(jump.data(), jump.size(), facts.kind, bytes, reconstructed.data());
        EXPECT_EQ(reconstructed[2], 255 - facts.worstError);
        EXPECT_EQ(reconstructed[4], 0);
    }
    // Near 255 a clamped step lands exactly: 250 + 5 clamps to 255.
    const std::vector<std::uint8_t> top = {250, 250, 255, 255};
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> reconstructed(4);
    korval::camera::encodeLine(top.data(), 4, LineKind::Step5, bytes, reconstructed.data());
    EXPECT_EQ(reconstructed, top);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x1E, 0xE1, 250, 250, 0xA0, 0}));
}

TEST(LineCompressor, RawAndDroppedLinesAreMarkersAroundTheirBytes)
{
    const std::vector<std::uint8_t> line = {1, 2, 3};
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(korval::camera::encodeLine(line.data(), 3, LineKind::Raw, bytes), 5u);
    EXPECT_EQ(korval::camera::encodeLine(line.data(), 3, LineKind::Dropped, bytes), 2u);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x0F, 0xF0, 1, 2, 3, 0x4B, 0xB4}));
    EXPECT_EQ(korval::camera::codedLineSize(line.data(), 3, LineKind::Raw), 5u);
    EXPECT_EQ(korval::camera::codedLineSize(nullptr, 3, LineKind::Dropped), 2u);
    EXPECT_EQ(korval::camera::lineMarker(LineKind::Step9), 0x2DD2);
    EXPECT_EQ(korval::camera::lineMarker(LineKind::Step17), 0x3CC3);
}

TEST(LineCompressor, AFlatLineCostsTwoBitsAPixel)
{
    const std::vector<std::uint8_t> flat(352, 128);
    // 350 codes of 2 bits: 700 bits, 88 bytes; 4 + 88 = 92.
    for (const KindFacts& facts : kCoded) {
        EXPECT_EQ(korval::camera::codedLineSize(flat.data(), flat.size(), facts.kind), 92u);
    }
}

TEST(FrameBodyBuilder, BuildsBodiesTheDecoderExpandsToTheReconstructedFrame)
{
    constexpr int kWidth = 352, kHeight = 288;
    const std::vector<std::uint8_t> scene = naturalBayerScene(kWidth, kHeight, 3);
    korval::camera::FrameBodyBuilder builder(kWidth);
    std::vector<std::uint8_t> expected(scene.size());
    const LineKind cycle[] = {LineKind::Raw, LineKind::Step5, LineKind::Step9, LineKind::Step17};
    for (int y = 0; y < kHeight; y++) {
        const std::uint8_t* line = scene.data() + y * kWidth;
        const LineKind kind = cycle[y % 4];
        std::vector<std::uint8_t> bytes;
        korval::camera::encodeLine(line, kWidth, kind, bytes, expected.data() + y * kWidth);
        EXPECT_EQ(builder.addLine(line, kind), bytes.size());
    }
    EXPECT_EQ(builder.lineCount(), 288u);
    EXPECT_EQ(builder.linesOfKind(LineKind::Step9), 72u);

    DecoderHarness harness(kWidth, kHeight);
    ASSERT_TRUE(harness.process(builder.body()));
    EXPECT_EQ(harness.output(), expected);
    EXPECT_EQ(harness.frame().ulRawLines, 72u);
    EXPECT_EQ(harness.frame().ulStep17Lines, 72u);
    std::size_t total = 0;
    for (const auto& record : harness.records()) {
        total += record.usLength;
    }
    EXPECT_EQ(total, builder.body().size());

    builder.clear();
    EXPECT_TRUE(builder.body().empty());
    EXPECT_EQ(builder.linesOfKind(LineKind::Raw), 0u);
}

} // namespace
