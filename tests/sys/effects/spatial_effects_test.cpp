// Relief, sketches, mosaic, streaks, oil paint and frosted glass.
#include <gtest/gtest.h>

#include "effects/SimdDispatch.h"
#include "effects_test_support.h"
#include "host/kernel/crt_rand.h"

namespace korval::effects_test {
namespace {

std::uint8_t& at(Bytes& picture, ULONG width, ULONG x, ULONG y, ULONG channel)
{
    return picture[(static_cast<std::size_t>(y) * width + x) * 3 + channel];
}

Bytes greySketchReference(const Bytes& source, ULONG width, ULONG height)
{
    Bytes sketch(source.size());
    VeSketchReference(source.data(), sketch.data(), width, height, 0);
    VeLumaEffectReference(VeEffectGrey, sketch.data(), sketch.data(), width * height, nullptr);
    return sketch;
}

TEST(Relief, SubtractsEachByteFromTheOneThreeLinesLater)
{
    const ULONG width = 20, height = 12;
    Bytes ramp(width * height * 3);
    for (ULONG y = 0; y < height; ++y) {
        std::fill(ramp.begin() + y * width * 3, ramp.begin() + (y + 1) * width * 3, static_cast<std::uint8_t>(y * 20));
    }
    Bytes out(ramp.size());
    VeRelief(ramp.data(), out.data(), width, height);
    for (ULONG y = 0; y < height; ++y) {
        const int expected = y < 4 || y >= height - 4 ? 128 : 128 + 60;
        EXPECT_EQ(at(out, width, 7, y, 1), expected) << y;
    }
    // Steep steps clamp at both ends.
    Bytes steep(ramp.size(), 0);
    std::fill(steep.begin() + 7 * width * 3, steep.end(), 255);
    VeRelief(steep.data(), out.data(), width, height);
    EXPECT_EQ(at(out, width, 0, 4, 0), 255);
    Bytes falling(ramp.size(), 255);
    std::fill(falling.begin() + 7 * width * 3, falling.end(), 0);
    VeRelief(falling.data(), out.data(), width, height);
    EXPECT_EQ(at(out, width, 0, 4, 0), 0);
    // Pictures too short for any relief line are all 128.
    Bytes tiny(width * 5 * 3, 9), tinyOut(tiny.size());
    VeRelief(tiny.data(), tinyOut.data(), width, 5);
    EXPECT_EQ(tinyOut, Bytes(tiny.size(), 128));
}

TEST(Relief, FastLoopMatchesTheReference)
{
    for (Size size : {Size{352, 288}, Size{640, 480}, Size{7, 11}, Size{5, 9}}) {
        const Bytes source = randomBytes(size.width * size.height * 3, size.width);
        Bytes fast(source.size()), plain(source.size());
        VeRelief(source.data(), fast.data(), size.width, size.height);
        VeReliefReference(source.data(), plain.data(), size.width, size.height);
        EXPECT_EQ(fast, plain) << size.width;
    }
}

TEST(Sketch, FlatPicturesAreWhiteWithTheWidthDependentBlackTails)
{
    for (Size size : kStreamSizes) {
        const Bytes flat(size.width * size.height * 3, 90);
        Bytes out(flat.size(), 1);
        VeSketch(flat.data(), out.data(), size.width, size.height, 0);
        const ULONG tail = size.width == 640 || size.width == 320 ? 4 : (size.width == 160 ? 2 : 0);
        for (ULONG y : {0u, 1u, size.height / 2, size.height - 2, size.height - 1}) {
            const bool inner = y != 0 && y != size.height - 1;
            for (ULONG x = 0; x < size.width; ++x) {
                const int expected = inner && x >= size.width - tail ? 0 : 255;
                ASSERT_EQ(at(out, size.width, x, y, 2), expected) << size.width << " " << x << "," << y;
            }
        }
    }
}

TEST(Sketch, UsesSobelPerChannelAndRunsAcrossLineBreaks)
{
    const ULONG width = 352, height = 12;
    Bytes dot(width * height * 3, 0);
    at(dot, width, 5, 5, 0) = 100;
    Bytes out(dot.size());
    VeSketch(dot.data(), out.data(), width, height, 0);
    EXPECT_EQ(at(out, width, 4, 5, 0), 255 - 200);  // |Gx| = 2·100
    EXPECT_EQ(at(out, width, 4, 4, 0), 255 - 200);  // corner: |Gx| + |Gy| = 100 + 100
    EXPECT_EQ(at(out, width, 5, 4, 0), 255 - 200);  // |Gy| = 2·100
    EXPECT_EQ(at(out, width, 4, 5, 1), 255);        // other channels see nothing
    VeSketch(dot.data(), out.data(), width, height, 1);
    EXPECT_EQ(at(out, width, 4, 5, 0), 255 - 100);  // soft sketch halves the edge

    // The pixel after the last of line 5 is the first of line 6.
    Bytes wrap(width * height * 3, 0);
    at(wrap, width, 0, 6, 1) = 60;
    VeSketch(wrap.data(), out.data(), width, height, 0);
    EXPECT_EQ(at(out, width, width - 1, 5, 1), 255 - 120);
    EXPECT_EQ(at(out, width, width - 1, 6, 1), 255 - 120);  // and back across the break
}

TEST(Sketch, FastLoopMatchesTheReferenceIncludingThePictureEnds)
{
    for (Size size : {Size{640, 480}, Size{352, 288}, Size{160, 120}, Size{9, 3}, Size{2, 2}, Size{1, 5}}) {
        const Bytes source = randomBytes(size.width * size.height * 3, size.height);
        for (ULONG shift : {0u, 1u}) {
            Bytes fast(source.size()), plain(source.size());
            VeSketch(source.data(), fast.data(), size.width, size.height, shift);
            VeSketchReference(source.data(), plain.data(), size.width, size.height, shift);
            EXPECT_EQ(fast, plain) << size.width << "x" << size.height;
        }
    }
}

TEST(Sketch, EveryInstructionSetMatchesTheReference)
{
    const ULONG width = 352, height = 9;
    const Bytes source = randomBytes(width * height * 3, 99);
    Bytes plain(source.size());
    VeSketchReference(source.data(), plain.data(), width, height, 0);
    const LONG_PTR stride = width * 3, from = stride + 3, to = stride * (height - 1) - 3 - 5;
    for (bool avx2 : {false, true}) {
        if (avx2 && !VeHasAvx2()) {
            continue;
        }
        Bytes fast(plain.size(), 0x5A);
        const LONG_PTR done = avx2 ? VeSketchBlocksAvx2(source.data(), fast.data(), stride, from, to, 0)
                                   : VeSketchBlocksSse2(source.data(), fast.data(), stride, from, to, 0);
        EXPECT_GT(done, to - 16);
        EXPECT_LE(done, to);
        // 352 has no black tails: every byte the loop wrote is the reference's.
        EXPECT_TRUE(std::equal(fast.begin() + from, fast.begin() + done, plain.begin() + from)) << avx2;
    }
}

TEST(Mosaic, FillsBlocksWithTheirMeanAndKeepsTheOuterFrame)
{
    const ULONG width = 352, height = 288;
    Bytes source(width * height * 3);
    for (ULONG y = 0; y < height; ++y) {
        for (ULONG x = 0; x < width; ++x) {
            at(source, width, x, y, 0) = static_cast<std::uint8_t>(x / 2);
            at(source, width, x, y, 1) = static_cast<std::uint8_t>(y);
            at(source, width, x, y, 2) = static_cast<std::uint8_t>((x * 7 + y * 3) & 0xFF);
        }
    }
    Bytes out(source.size()), sums(width * 6, 0xEE);
    VeMosaic(source.data(), out.data(), width, height, sums.data());
    Bytes plain(source.size());
    VeMosaicReference(source.data(), plain.data(), width, height);
    EXPECT_EQ(out, plain);
    const auto mean = [&](ULONG left, ULONG top, ULONG columns, ULONG rows, ULONG channel) {
        ULONG sum = 0;
        for (ULONG y = top; y < top + rows; ++y) {
            for (ULONG x = left; x < left + columns; ++x) {
                sum += at(source, width, x, y, channel);
            }
        }
        return static_cast<int>(sum / (columns * rows));
    };
    for (ULONG channel = 0; channel < 3; ++channel) {
        // First block of a row: area two pixels further right.
        EXPECT_EQ(at(out, width, 1, 1, channel), mean(3, 1, 11, 11, channel));
        EXPECT_EQ(at(out, width, 11, 11, channel), mean(3, 1, 11, 11, channel));
        EXPECT_EQ(at(out, width, 12, 1, channel), mean(12, 1, 11, 11, channel));
        EXPECT_EQ(at(out, width, 22, 23, channel), mean(12, 23, 11, 11, channel));
        // Last block column and row are cut short at the outer frame.
        EXPECT_EQ(at(out, width, 350, 286, channel), mean(342, 276, 9, 11, channel));
    }
    for (ULONG x = 0; x < width; ++x) {
        EXPECT_EQ(at(out, width, x, 0, 2), at(source, width, x, 0, 2));
        EXPECT_EQ(at(out, width, x, height - 1, 2), at(source, width, x, height - 1, 2));
    }
    for (ULONG y = 0; y < height; ++y) {
        EXPECT_EQ(at(out, width, 0, y, 2), at(source, width, 0, y, 2));
        EXPECT_EQ(at(out, width, width - 1, y, 2), at(source, width, width - 1, y, 2));
    }
    // Under 30 pixels wide there are no blocks.
    const Bytes narrow = randomBytes(29 * 10 * 3, 3);
    Bytes narrowOut(narrow.size());
    VeMosaic(narrow.data(), narrowOut.data(), 29, 10, sums.data());
    EXPECT_EQ(narrowOut, narrow);
}

// The streak rule written out plainly, drawing from the same rand sequence.
Bytes streaksByTheRule(const Bytes& source, ULONG width, ULONG height)
{
    Bytes out = source;
    const ULONG maximum = width / 5;
    for (ULONG y = 1; y < height; ++y) {
        ULONG left = width;
        while (left > 0) {
            ULONG length = 0;
            while (length == 0) {
                length = (static_cast<ULONG>(rand()) * maximum) >> 15;
            }
            length = std::min(length, left);
            const ULONG end = left - 1;
            ULONG brightest = left - length;
            for (ULONG x = brightest; x <= end; ++x) {
                brightest = at(out, width, x, y, 1) > at(out, width, brightest, y, 1) ? x : brightest;
            }
            const ULONG d = end - brightest;
            for (ULONG k = 0; k < d; ++k) {
                for (ULONG c = 0; c < 3; ++c) {
                    const ULONG own = at(out, width, end - k, y, c);
                    const ULONG value = own + (at(out, width, brightest, y, c) * k) / d - (own * k) / d;
                    if (value > own) {
                        at(out, width, end - k, y, c) = static_cast<std::uint8_t>(value);
                    }
                }
            }
            left -= length;
        }
    }
    return out;
}

TEST(Mosaic, ColumnSumsMatchTheReferenceAtEveryStreamSize)
{
    for (Size size : {Size{640, 480}, Size{352, 288}, Size{320, 240}, Size{176, 144}, Size{160, 120}, Size{31, 3}, Size{61, 4}}) {
        const Bytes source = randomBytes(size.width * size.height * 3, size.width);
        Bytes fast(source.size()), plain(source.size()), sums(size.width * 6);
        VeMosaic(source.data(), fast.data(), size.width, size.height, sums.data());
        VeMosaicReference(source.data(), plain.data(), size.width, size.height);
        EXPECT_EQ(fast, plain) << size.width;
    }
}

TEST(Streaks, FollowTheRuleAndTheRandSequence)
{
    for (Size size : {Size{352, 288}, Size{640, 480}, Size{10, 4}}) {
        const Bytes source = size.width == 10 ? randomBytes(10 * 4 * 3, 5) : renderColourChart(size.width, size.height);
        host::setRandState(1);
        const Bytes expected = streaksByTheRule(source, size.width, size.height);
        host::setRandState(1);
        Bytes out(source.size());
        VeStreaks(source.data(), out.data(), size.width, size.height);
        EXPECT_EQ(out, expected) << size.width;
        if (size.width > 10) {
            EXPECT_NE(out, source);
        }
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + size.width * 3, source.begin()));  // line 0 as it is
    }
    // Too narrow to draw a segment: copied, and the call returns.
    const Bytes narrow = randomBytes(9 * 6 * 3, 8);
    Bytes out(narrow.size());
    VeStreaks(narrow.data(), out.data(), 9, 6);
    EXPECT_EQ(out, narrow);
}

TEST(Streaks, FastSmearMatchesThePlainLoopOnRandomAndChartPictures)
{
    for (Size size : {Size{640, 480}, Size{352, 288}, Size{176, 144}, Size{1600, 12}, Size{37, 5}, Size{10, 4}}) {
        // 1600 draws segments longer than 128 pixels: the 32-bit smear.
        for (bool chart : {false, true}) {
            const Bytes source = chart ? renderColourChart(size.width, size.height)
                                       : randomBytes(size.width * size.height * 3, size.width + 3);
            host::setRandState(7);
            Bytes plain(source.size());
            VeStreaksReference(source.data(), plain.data(), size.width, size.height);
            const std::uint32_t after = host::randState();
            host::setRandState(7);
            Bytes fast(source.size());
            VeStreaks(source.data(), fast.data(), size.width, size.height);
            EXPECT_EQ(fast, plain) << size.width << (chart ? " chart" : " random");
            EXPECT_EQ(host::randState(), after);  // the same number of draws
        }
    }
}

TEST(Brightest, SeparableSearchMatchesTheFullNeighbourhoodScan)
{
    for (Size size : {Size{352, 288}, Size{5, 4}, Size{1, 1}, Size{9, 2}}) {
        for (ULONG radius : {2u, 3u}) {
            // Few grey levels make many ties, where the first in reading order wins.
            Bytes grey = randomBytes(size.width * size.height * 3, size.width * radius, 3);
            const Bytes source = randomBytes(grey.size(), radius);
            Bytes fast(source.size()), plain(source.size());
            VeBrightestSourceReference(grey.data(), source.data(), plain.data(), size.width, size.height, radius);
            VeBrightestSource(grey.data(), source.data(), fast.data(), size.width, size.height, radius);
            EXPECT_EQ(fast, plain) << size.width << " r" << radius;
        }
    }
}

TEST(OilPaint, TakesTheBrightestColourTimesTheSoftSketch)
{
    const ULONG width = 176, height = 144;
    const Bytes source = renderColourChart(width, height);
    Bytes grey = greySketchReference(source, width, height);
    Bytes expected(source.size()), soft(source.size());
    VeBrightestSourceReference(grey.data(), source.data(), expected.data(), width, height, 3);
    VeSketchReference(source.data(), soft.data(), width, height, 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expected[i] = static_cast<std::uint8_t>((soft[i] * expected[i] + 1) / 256);
    }
    Bytes out(source.size()), scratchA(source.size()), scratchB(source.size());
    VeOilPaint(source.data(), out.data(), width, height, scratchA.data(), scratchB.data());
    EXPECT_EQ(out, expected);
}

TEST(FrostedGlass, ScattersTheBrightestPicturePixelsByTheRandSequence)
{
    const ULONG width = 176, height = 144;
    const Bytes source = renderColourChart(width, height);
    Bytes grey = greySketchReference(source, width, height);
    Bytes brightest(source.size());
    VeBrightestSourceReference(grey.data(), source.data(), brightest.data(), width, height, 2);
    Bytes expected = brightest;
    host::setRandState(1);
    for (ULONG y = 3; y <= height - 4; ++y) {
        for (ULONG x = 3; x <= width - 6; ++x) {
            const ULONG pick = ((static_cast<ULONG>(rand()) + 1) * 24) / 32768;
            for (ULONG c = 0; c < 3; ++c) {
                at(expected, width, x, y, c) = at(brightest, width, x + pick % 5 - 2, y + pick / 5 - 2, c);
            }
        }
    }
    const std::uint32_t stateAfter = host::randState();
    Bytes out(source.size()), scratchA(source.size()), scratchB(source.size());
    host::setRandState(1);
    VeFrostedGlass(source.data(), out.data(), width, height, scratchA.data(), scratchB.data());
    EXPECT_EQ(out, expected);
    EXPECT_EQ(host::randState(), stateAfter);  // one draw per inner pixel
    Bytes again(source.size());
    host::setRandState(1);
    VeFrostedGlass(source.data(), again.data(), width, height, scratchA.data(), scratchB.data());
    EXPECT_EQ(again, out);
}

} // namespace
} // namespace korval::effects_test
