// The fast reader against the plain one, and both against the tests' own
// bit-by-bit reading of the code, on whole frames of every sort.
#include "camera/codec/frame_body_builder.h"
#include "sys/decoder/bayer_scene.h"
#include "sys/decoder/decoder_harness.h"
#include "sys/decoder/hand_lines.h"
#include "sys/decoder/rule_decoder.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace korval::testing;
using korval::camera::LineKind;

struct Outcome {
    bool accepted;
    std::vector<std::uint8_t> output;
    std::vector<std::uint8_t> kinds;
    std::vector<std::uint16_t> lengths;
    ULONG counters[5];
};

Outcome decode(ULONG width, ULONG height, const std::vector<std::uint8_t>& body, bool reference)
{
    DecoderHarness harness(width, height);
    Outcome outcome{harness.process(body, reference), harness.output(), {}, {}, {}};
    for (const auto& record : harness.records()) {
        outcome.kinds.push_back(record.ucKind);
        outcome.lengths.push_back(record.usLength);
    }
    const tagSDecompressionFrame& frame = harness.frame();
    const ULONG counters[5] = {frame.ulRawLines, frame.ulStep5Lines, frame.ulStep9Lines, frame.ulStep17Lines,
                               frame.ulDroppedLines};
    std::copy(std::begin(counters), std::end(counters), outcome.counters);
    return outcome;
}

void expectSameOutcome(ULONG width, ULONG height, const std::vector<std::uint8_t>& body)
{
    const Outcome fast = decode(width, height, body, false);
    const Outcome plain = decode(width, height, body, true);
    ASSERT_EQ(fast.accepted, plain.accepted);
    ASSERT_EQ(fast.output, plain.output);
    ASSERT_EQ(fast.kinds, plain.kinds);
    ASSERT_EQ(fast.lengths, plain.lengths);
    for (int i = 0; i < 5; i++) {
        ASSERT_EQ(fast.counters[i], plain.counters[i]);
    }
}

// A frame of lines with valid markers and random bit streams, whose lengths
// come from the rule decoder; escapes, clamping and odd pads all occur.
std::vector<std::uint8_t> randomStreamFrame(std::mt19937& random, std::size_t width, std::size_t height,
                                            std::vector<std::uint8_t>* expected)
{
    const std::uint16_t markers[] = {0x1EE1, 0x2DD2, 0x3CC3, 0x0FF0};
    const int steps[] = {5, 9, 17};
    const int escapeBits[] = {6, 5, 4};
    std::vector<std::uint8_t> body;
    for (std::size_t y = 0; y < height; y++) {
        const std::size_t choice = random() % 4;
        std::vector<std::uint8_t> line;
        appendMarker(line, markers[choice]);
        for (std::size_t i = 0; i < 2 + width * 2; i++) {
            // Skewed towards 1 bits so that long codes and escapes are frequent.
            line.push_back(static_cast<std::uint8_t>(random() | (random() & random())));
        }
        if (choice == 3) {
            line.resize(width + 2);
            expected->insert(expected->end(), line.begin() + 2, line.end());
        } else {
            const RuleDecodedLine decoded =
                ruleDecodeCodedLine(line, 0, steps[choice], escapeBits[choice], width);
            line.resize(decoded.length);
            expected->insert(expected->end(), decoded.pixels.begin(), decoded.pixels.end());
        }
        append(body, line);
    }
    return body;
}

TEST(FrameDecoderFastPath, RandomStreamsDecodeAsTheRuleSaysOnBothReaders)
{
    std::mt19937 random(11);
    for (std::size_t width : {2u, 3u, 4u, 7u, 8u, 13u, 64u, 352u}) {
        for (int trial = 0; trial < 10; trial++) {
            std::vector<std::uint8_t> expected;
            const std::vector<std::uint8_t> body = randomStreamFrame(random, width, 6, &expected);
            for (bool reference : {false, true}) {
                const Outcome outcome = decode(static_cast<ULONG>(width), 6, body, reference);
                ASSERT_TRUE(outcome.accepted) << width;
                ASSERT_EQ(outcome.output, expected) << "width " << width << " reference " << reference;
            }
        }
    }
}

TEST(FrameDecoderFastPath, NaturalFramesAtEveryKindMatchTheCompressorsReconstruction)
{
    constexpr int kWidth = 352, kHeight = 288;
    const std::vector<std::uint8_t> scene = naturalBayerScene(kWidth, kHeight, 5);
    for (LineKind kind : {LineKind::Raw, LineKind::Step5, LineKind::Step9, LineKind::Step17}) {
        korval::camera::FrameBodyBuilder builder(kWidth);
        std::vector<std::uint8_t> expected(scene.size());
        std::vector<std::uint8_t> ignored;
        for (int y = 0; y < kHeight; y++) {
            builder.addLine(scene.data() + y * kWidth, kind);
            korval::camera::encodeLine(scene.data() + y * kWidth, kWidth, kind, ignored,
                                       expected.data() + y * kWidth);
        }
        const Outcome fast = decode(kWidth, kHeight, builder.body(), false);
        ASSERT_TRUE(fast.accepted);
        EXPECT_EQ(fast.output, expected);
        expectSameOutcome(kWidth, kHeight, builder.body());
    }
}

TEST(FrameDecoderFastPath, EveryTruncationAndExtensionOfAFrameAgrees)
{
    std::mt19937 random(13);
    std::vector<std::uint8_t> expected;
    const std::vector<std::uint8_t> body = randomStreamFrame(random, 24, 5, &expected);
    for (std::size_t length = 1; length <= body.size() + 12; length++) {
        std::vector<std::uint8_t> cut(body.begin(), body.begin() + static_cast<long>(std::min(length, body.size())));
        cut.resize(length, 0x5A);
        expectSameOutcome(24, 5, cut);
        const Outcome fast = decode(24, 5, cut, false);
        EXPECT_EQ(fast.accepted, length <= body.size() && length + 2 >= body.size()) << length;
    }
}

TEST(FrameDecoderFastPath, ArbitraryBytesGiveTheSameVerdictOnBothReaders)
{
    std::mt19937 random(17);
    const std::uint8_t markerBytes[] = {0x0F, 0xF0, 0x1E, 0xE1, 0x2D, 0xD2, 0x3C, 0xC3, 0x4B, 0xB4};
    for (int trial = 0; trial < 3000; trial++) {
        const ULONG width = 1 + random() % 40;
        const ULONG height = 1 + random() % 6;
        std::vector<std::uint8_t> body(1 + random() % 200);
        for (auto& byte : body) {
            // Mostly marker bytes, so that the decoder gets deep into frames.
            byte = (random() % 3 == 0) ? static_cast<std::uint8_t>(random()) : markerBytes[random() % 10];
        }
        expectSameOutcome(width, height, body);
    }
}

TEST(FrameDecoderFastPath, AFullFrameRunsOverTheBodyEndOnlyByZeros)
{
    // Every line a long escape run: the fast reader's eight-byte loads meet the end of the body.
    std::string bits;
    std::vector<std::uint8_t> body;
    for (int y = 0; y < 4; y++) {
        append(body, handCodedLine(0x1EE1, 1, 2, repeatedBits(bits, "11111 111111", 30)));
    }
    DecoderHarness harness(32, 4);
    ASSERT_TRUE(harness.process(body));
    for (ULONG y = 0; y < 4; y++) {
        EXPECT_EQ(harness.line(y)[31], 0xFC);
    }
    expectSameOutcome(32, 4, body);
}

} // namespace
