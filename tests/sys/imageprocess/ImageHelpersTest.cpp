// The picture helpers: hand-worked cases and fast-versus-reference on frames.
#include "imageprocess/ImageHelpers.h"
#include "imageprocess/ImageHelpersKernels.h"

#include "host/kernel/debug_print.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Helpers : CImageHelpers {
    using CImageHelpers::BGR24toI420;
    using CImageHelpers::BGR24toI420Reference;
    using CImageHelpers::BGR24toI420Rows;
    using CImageHelpers::BGRtoY;
    using CImageHelpers::ColorBufferBorder;
    using CImageHelpers::ColorBufferEdgeRepeat;
    using CImageHelpers::CropBuffer;
    using CImageHelpers::CropColorBuffer;
    using CImageHelpers::EdgeRepeatRows;
    using CImageHelpers::I420toBGR24;
    using CImageHelpers::ScaleBuffer;
    using CImageHelpers::ScaleBufferReference;
    using CImageHelpers::SmoothBuffer;
    using CImageHelpers::SmoothBufferReference;
    using CImageHelpers::SmoothExtBuffer;
    using CImageHelpers::SubSampleBuffer;
    using CImageHelpers::SubSampleBufferReference;
};

Bytes randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

// A smooth natural-looking BGR picture: gradients plus a few sharp shapes.
Bytes naturalPicture(int width, int height)
{
    Bytes picture(static_cast<std::size_t>(width) * height * 3);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            std::uint8_t* p = &picture[(static_cast<std::size_t>(r) * width + c) * 3];
            const bool disc = (r - height / 2) * (r - height / 2) + (c - width / 3) * (c - width / 3) < 900;
            p[0] = static_cast<std::uint8_t>(disc ? 230 : (c * 255) / width);
            p[1] = static_cast<std::uint8_t>(disc ? 40 : (r * 255) / height);
            p[2] = static_cast<std::uint8_t>(((r / 16 + c / 16) % 2) ? 200 : 30);
        }
    }
    return picture;
}

Bytes solidPicture(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r)
{
    Bytes picture(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < picture.size(); i += 3) {
        picture[i] = b;
        picture[i + 1] = g;
        picture[i + 2] = r;
    }
    return picture;
}

TEST(ImageHelpersLuma, TakesTheGreenByteAndRejectsNull)
{
    const Bytes picture = {1, 2, 3, 4, 5, 6};
    Bytes plane(2);
    EXPECT_TRUE(Helpers::BGRtoY(picture.data(), plane.data(), 2, 1));
    EXPECT_EQ(plane, (Bytes{2, 5}));
    EXPECT_FALSE(Helpers::BGRtoY(nullptr, plane.data(), 2, 1));
    EXPECT_FALSE(Helpers::BGRtoY(picture.data(), nullptr, 2, 1));
}

TEST(ImageHelpersSmooth, ImpulseSpreadsWithKernelWeightsAndEdgeRowsAreCopied)
{
    const int w = 16, h = 8;
    Bytes plane(w * h, 0);
    plane[1 * w + 5] = 160;  // on row 1, so row 0 receives its copy
    std::vector<std::int16_t> smooth(w * h, -1);
    Helpers::SmoothBuffer(plane.data(), smooth.data(), w, h);
    EXPECT_EQ(smooth[1 * w + 5], 40);
    EXPECT_EQ(smooth[1 * w + 4], 20);
    EXPECT_EQ(smooth[2 * w + 5], 20);
    EXPECT_EQ(smooth[2 * w + 6], 10);
    EXPECT_EQ(smooth[0 * w + 5], 40);
    EXPECT_EQ(smooth[0 * w + 6], 20);
    EXPECT_EQ(smooth[3 * w + 5], 0);
    EXPECT_EQ(smooth[1 * w + 0], 0);
    EXPECT_EQ(smooth[7 * w + 5], smooth[6 * w + 5]);
}

TEST(ImageHelpersSmooth, FastMatchesReferenceOnFramesAndOddSizes)
{
    const int sizes[][2] = {{352, 288}, {320, 240}, {21, 7}, {10, 5}, {9, 3}, {3, 3}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        for (unsigned seed = 1; seed <= 2; ++seed) {
            const Bytes plane = randomBytes(static_cast<std::size_t>(w) * h, seed);
            std::vector<std::int16_t> fast(w * h, 7), reference(w * h, 9);
            Helpers::SmoothBuffer(plane.data(), fast.data(), w, h);
            Helpers::SmoothBufferReference(plane.data(), reference.data(), w, h);
            ASSERT_EQ(fast, reference) << w << "x" << h;
        }
    }
    const Bytes natural = naturalPicture(352, 288);
    Bytes plane(352 * 288);
    Helpers::BGRtoY(natural.data(), plane.data(), 352, 288);
    std::vector<std::int16_t> fast(352 * 288), reference(352 * 288);
    Helpers::SmoothBuffer(plane.data(), fast.data(), 352, 288);
    Helpers::SmoothBufferReference(plane.data(), reference.data(), 352, 288);
    EXPECT_EQ(fast, reference);
}

TEST(ImageHelpersSmooth, ExtendedSmoothingLeavesAZeroFrameOfTwo)
{
    const int w = 8, h = 6;
    Bytes plane(w * h, 80);
    Bytes scratch(w * h, 1);
    Helpers::SmoothExtBuffer(plane.data(), scratch.data(), w, h);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            const bool inside = r >= 2 && r < h - 2 && c >= 2 && c < w - 2;
            EXPECT_EQ(plane[r * w + c], inside ? 80 : 0) << r << "," << c;
        }
    }
}

TEST(ImageHelpersCrop, CentredCropWholeCopyAndInvalidSizes)
{
    const int w = 6, h = 4;
    Bytes picture(w * h * 3);
    for (std::size_t i = 0; i < picture.size(); ++i) {
        picture[i] = static_cast<std::uint8_t>(i);
    }
    Bytes crop(2 * 2 * 3);
    ASSERT_TRUE(Helpers::CropColorBuffer(picture.data(), crop.data(), w, h, 2, 2));
    // rows 1..2, columns 2..3
    EXPECT_EQ(crop, (Bytes{24, 25, 26, 27, 28, 29, 42, 43, 44, 45, 46, 47}));

    Bytes whole(picture.size());
    ASSERT_TRUE(Helpers::CropColorBuffer(picture.data(), whole.data(), w, h, w, h));
    EXPECT_EQ(whole, picture);

    korval::host::clearDebugLines();
    EXPECT_FALSE(Helpers::CropColorBuffer(picture.data(), whole.data(), w, h, w + 1, h));
    EXPECT_FALSE(Helpers::CropBuffer(picture.data(), whole.data(), w, h, w, h + 1));
    EXPECT_FALSE(Helpers::CropColorBuffer(nullptr, whole.data(), w, h, 2, 2));
    EXPECT_EQ(korval::host::debugLines(),
              std::vector<std::string>(3, "\tERROR: Invalid Parameters in CropBuffer\n"));

    Bytes planeCrop(3);
    ASSERT_TRUE(Helpers::CropBuffer(picture.data(), planeCrop.data(), w, h, 3, 1));
    EXPECT_EQ(planeCrop, (Bytes{7, 8, 9}));  // row 1, columns 1..3
}

TEST(ImageHelpersBorder, ClearsTheOutermostPixelsOnly)
{
    Bytes two = solidPicture(4, 2, 9, 9, 9);
    ASSERT_TRUE(Helpers::ColorBufferBorder(two.data(), 4, 2));
    EXPECT_EQ(two, Bytes(24, 0));

    const int w = 4, h = 4;
    Bytes picture = solidPicture(w, h, 9, 9, 9);
    ASSERT_TRUE(Helpers::ColorBufferBorder(picture.data(), w, h));
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            const bool edge = r == 0 || r == h - 1 || c == 0 || c == w - 1;
            EXPECT_EQ(picture[(r * w + c) * 3 + 1], edge ? 0 : 9) << r << "," << c;
        }
    }
    EXPECT_FALSE(Helpers::ColorBufferBorder(nullptr, w, h));
}

TEST(ImageHelpersScale, OneColourKeepsEvenLevelsAndHalvesOddOnes)
{
    const int w = 4, h = 3;
    Bytes source = solidPicture(w, h + 1, 101, 58, 255);  // one spare row: the rule reads a pixel past
    Bytes scaled(static_cast<std::size_t>(4 * w * h * 3), 0);
    ASSERT_TRUE(Helpers::ScaleBuffer(source.data(), scaled.data(), w, h));
    for (int r = 0; r < 2 * h; ++r) {
        for (int c = 0; c < 2 * w; ++c) {
            const std::uint8_t* p = &scaled[(r * 2 * w + c) * 3];
            const bool copied = r % 2 == 0 && c % 2 == 0;
            const bool lastCopy = r == 2 * h - 1 && c % 2 == 0;
            if (copied || lastCopy) {
                EXPECT_EQ(p[0], 101);
                EXPECT_EQ(p[2], 255);
            } else {
                EXPECT_EQ(p[0], 100) << r << "," << c;
                EXPECT_EQ(p[2], 254) << r << "," << c;
            }
            EXPECT_EQ(p[1], 58);
        }
    }
}

TEST(ImageHelpersScale, LastPixelOfARowBlendsWithTheNextRowsFirst)
{
    const int w = 2, h = 2;
    Bytes source = {10, 10, 10, 20, 20, 20,   // row 0
                    100, 100, 100, 40, 40, 40,  // row 1
                    200, 200, 200};             // the pixel past the last row
    Bytes scaled(4 * w * h * 3);
    Helpers::ScaleBuffer(source.data(), scaled.data(), w, h);
    EXPECT_EQ(scaled[3 * 3], 10 + 50);   // row 0, pixel 3 blends 20 and the next row's 100
    EXPECT_EQ(scaled[3 * 1], 5 + 10);    // row 0, pixel 1 blends 10 and 20
    EXPECT_EQ(scaled[(2 * 4 + 3) * 3], 20 + 100);  // row 2, pixel 3 blends 40 and the 200 past the end
    EXPECT_EQ(scaled[(1 * 4 + 0) * 3], 5 + 50);    // row 1 halves rows 0 and 2
}

TEST(ImageHelpersScale, FastMatchesReferenceReadingAtMostOnePixelPast)
{
    const int w = 320, h = 240;
    for (unsigned seed = 1; seed <= 3; ++seed) {
        Bytes source = seed == 3 ? naturalPicture(w, h) : randomBytes(static_cast<std::size_t>(w) * h * 3, seed);
        source.resize(source.size() + 3, 77);  // exactly the one pixel the rule reads past the end
        Bytes fast(4 * w * h * 3, 1), reference(4 * w * h * 3, 2);
        Helpers::ScaleBuffer(source.data(), fast.data(), w, h);
        Helpers::ScaleBufferReference(source.data(), reference.data(), w, h);
        ASSERT_EQ(fast, reference);
    }
}

TEST(ImageHelpersSubSample, AveragesEachTwoByTwoBlockPerByte)
{
    Bytes source = {0, 4, 255, 1, 4, 255,  //
                    2, 4, 255, 3, 4, 254};
    Bytes reduced(3);
    ASSERT_TRUE(Helpers::SubSampleBuffer(source.data(), reduced.data(), 2, 2));
    EXPECT_EQ(reduced, (Bytes{1, 4, 254}));
    EXPECT_FALSE(Helpers::SubSampleBuffer(nullptr, reduced.data(), 2, 2));

    for (int w : {352, 320, 14, 9}) {
        for (unsigned seed = 0; seed < 2; ++seed) {
            const int h = 10;
            const Bytes picture = seed == 0 ? naturalPicture(w, h) : randomBytes(w * h * 3, 4);
            Bytes fast(w / 2 * (h / 2) * 3), reference(fast.size());
            ASSERT_TRUE(Helpers::SubSampleBuffer(picture.data(), fast.data(), w, h));
            Helpers::SubSampleBufferReference(picture.data(), reference.data(), w, h);
            ASSERT_EQ(fast, reference) << w;
        }
    }
}

TEST(ImageHelpersI420, WhiteBlackAndTheTruncatedDoubleSum)
{
    Bytes white = solidPicture(2, 2, 255, 255, 255);
    Bytes i420(6);
    ASSERT_TRUE(Helpers::BGR24toI420(white.data(), i420.data(), 2, 2));
    EXPECT_EQ(i420, (Bytes{255, 255, 255, 255, 128, 128}));
    Bytes black = solidPicture(2, 2, 0, 0, 0);
    ASSERT_TRUE(Helpers::BGR24toI420(black.data(), i420.data(), 2, 2));
    EXPECT_EQ(i420, (Bytes{0, 0, 0, 0, 128, 128}));
    // 0.587 x 19 + 0.114 x 82 + 0.499 is 21 exactly, but the double sum lands below it.
    Bytes edge = solidPicture(2, 2, 82, 19, 0);
    ASSERT_TRUE(Helpers::BGR24toI420(edge.data(), i420.data(), 2, 2));
    EXPECT_EQ(i420[0], 20);
}

TEST(ImageHelpersI420, ChromaComesFromTheLeftPixelOfOddRows)
{
    Bytes picture = solidPicture(2, 2, 0, 0, 0);
    picture[(1 * 2 + 0) * 3 + 0] = 255;  // row 1, left pixel: pure blue
    Bytes i420(6);
    ASSERT_TRUE(Helpers::BGR24toI420(picture.data(), i420.data(), 2, 2));
    EXPECT_EQ(i420[2], 29);  // trunc(0.114 x 255 + 0.499)
    EXPECT_EQ(i420[4], 255);  // trunc(127.5 + 128.4999)
    EXPECT_EQ(i420[5], 107);  // trunc(-20.7315 + 128.4999)
}

TEST(ImageHelpersI420, IntegerConversionEqualsTheDoubleRulesForEveryColour)
{
    const int w = 256, h = 2;
    Bytes picture(w * h * 3), fast(w * h * 3 / 2), reference(w * h * 3 / 2);
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int i = 0; i < w * h; ++i) {
                picture[3 * i] = static_cast<std::uint8_t>(i);  // blue runs 0..255 on both rows
                picture[3 * i + 1] = static_cast<std::uint8_t>(g);
                picture[3 * i + 2] = static_cast<std::uint8_t>(r);
            }
            Helpers::BGR24toI420(picture.data(), fast.data(), w, h);
            Helpers::BGR24toI420Reference(picture.data(), reference.data(), w, h);
            ASSERT_EQ(fast, reference) << "r " << r << " g " << g;
        }
    }
}

TEST(ImageHelpersI420, PerPixelLumaEqualsTheDoubleRuleEverywhere)
{
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                const int expected = static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b + 0.499);
                ASSERT_EQ(LumaOfPixel(b, g, r), expected) << r << " " << g << " " << b;
            }
        }
    }
}

TEST(ImageHelpersI420, VectorAndPerPixelEdgesAgreeOnNaturalFrames)
{
    for (int w : {40, 352, 18, 176}) {  // 176: vector steps that overlap at the row end
        const int h = 6;
        const Bytes picture = naturalPicture(w, h);
        Bytes fast(w * h * 3 / 2), reference(w * h * 3 / 2);
        ASSERT_TRUE(Helpers::BGR24toI420(picture.data(), fast.data(), w, h));
        Helpers::BGR24toI420Reference(picture.data(), reference.data(), w, h);
        ASSERT_EQ(fast, reference) << w;
        Bytes green(w * h);
        ASSERT_TRUE(Helpers::BGRtoY(picture.data(), green.data(), w, h));
        for (int i = 0; i < w * h; ++i) {
            ASSERT_EQ(green[i], picture[3 * i + 1]);
        }
    }
}

TEST(ImageHelpersI420, BandsOfRowsGiveTheWholePicture)
{
    const int w = 48, h = 20;
    for (int band : {2, 4, 6, 16, 20}) {
        Bytes whole = naturalPicture(w, h), banded = whole;
        Bytes wholeI420(w * h * 3 / 2), bandedI420(w * h * 3 / 2, 0xCD);
        ASSERT_TRUE(Helpers::ColorBufferEdgeRepeat(whole.data(), w, h));
        ASSERT_TRUE(Helpers::BGR24toI420(whole.data(), wholeI420.data(), w, h));
        for (int first = 0; first < h; first += band) {
            const int rows = std::min(band, h - first);
            Helpers::EdgeRepeatRows(banded.data(), w, h, first, rows);
            Helpers::BGR24toI420Rows(banded.data(), bandedI420.data(), w, h, first, rows);
        }
        EXPECT_EQ(banded, whole) << band;
        EXPECT_EQ(bandedI420, wholeI420) << band;
    }
}

TEST(ImageHelpersI420, BackToBgrIsBottomUpWithRoundingAndLimits)
{
    // 2 x 4 frame: Y rows 100, 100, 250, 250; chroma block 0 (u 50, v -30), block 1 (u 127, v 0).
    Bytes i420 = {100, 100, 100, 100, 250, 250, 250, 250, 178, 255, 98, 128};
    Bytes picture(2 * 4 * 3);
    ASSERT_TRUE(Helpers::I420toBGR24(i420.data(), picture.data(), 2, 4));
    const std::uint8_t* top = &picture[3 * 2 * 3];  // source row 0 lands in the last picture row
    EXPECT_EQ(top[0], 189);  // trunc(100 + 88.6 + 0.5)
    EXPECT_EQ(top[1], 104);  // trunc(100 - 17.205 + 21.423 + 0.5)
    EXPECT_EQ(top[2], 58);   // trunc(100 - 42.06 + 0.5)
    const std::uint8_t* bottom = &picture[0];
    EXPECT_EQ(bottom[0], 255);  // 250 + 225.044 limited
    EXPECT_EQ(bottom[2], 250);
    korval::host::clearDebugLines();
    EXPECT_FALSE(Helpers::I420toBGR24(nullptr, picture.data(), 2, 4));
    EXPECT_FALSE(Helpers::BGR24toI420(picture.data(), nullptr, 2, 4));
    EXPECT_EQ(korval::host::debugText(), " ERROR: Buffer == NULL\n ERROR: Buffer == NULL\n");
}

} // namespace
