// The overlay compositor: the blend rule, the step patterns of every output
// size and the upright reading of I420 with its chroma weights.
#include <gtest/gtest.h>

#include "effects_test_support.h"

namespace korval::effects_test {
namespace {

constexpr ULONG kOverlayWidth = 352;
constexpr ULONG kOverlayHeight = 288;

struct Overlay {
    Bytes picture;  // BGR bottom-up or I420 in the bitmap's line order
    Bytes mask;
};

ULONG composite(ReadyEffects& ready, Overlay& overlay, Bytes& source, Bytes& destination)
{
    VE_PICTURE picture = describe(overlay.picture);
    VE_PICTURE mask = describe(overlay.mask);
    VE_PICTURE in = describe(source);
    VE_PICTURE out = describe(destination);
    return ready.effects->Composite(&picture, &mask, &in, &out);
}

// Overlay BGR whose pixel at stored line l, column c is (c & 0xFF, c >> 8 | 0x10, l).
Bytes coordinateOverlay()
{
    Bytes picture(336896, 0);
    for (ULONG line = 0; line < kOverlayHeight; ++line) {
        for (ULONG column = 0; column < kOverlayWidth; ++column) {
            std::uint8_t* pixel = picture.data() + (line * kOverlayWidth + column) * 3;
            pixel[0] = static_cast<std::uint8_t>(column & 0xFF);
            pixel[1] = static_cast<std::uint8_t>((column >> 8) | 0x10);
            pixel[2] = static_cast<std::uint8_t>(line);
        }
    }
    return picture;
}

std::vector<ULONG> expectedColumns(ULONG width)
{
    std::vector<ULONG> columns;
    for (ULONG x = 0; x < width; ++x) {
        switch (width) {
        case 352: columns.push_back(x); break;
        case 176: columns.push_back(2 * x); break;
        case 320: columns.push_back(x + x / 10); break;
        case 160: columns.push_back(2 * x + 2 * (x / 10)); break;
        default: columns.push_back(x / 2 + x / 20); break;
        }
    }
    return columns;
}

std::vector<ULONG> expectedLines(ULONG height)
{
    std::vector<ULONG> lines;
    for (ULONG y = 0; y < height; ++y) {
        switch (height) {
        case 288: lines.push_back(y); break;
        case 144: lines.push_back(2 * y); break;
        case 240: lines.push_back(y + y / 5); break;
        case 120: lines.push_back(2 * y + 2 * (y / 5)); break;
        default: lines.push_back(y / 2 + y / 10); break;
        }
    }
    return lines;
}

TEST(Blend, FollowsTheRuleForEveryByteTriple)
{
    Bytes source, picture, weight;
    for (int s = 0; s < 256; s += 5) {
        for (int p = 0; p < 256; p += 3) {
            for (int a = 0; a < 256; a += 17) {
                source.push_back(static_cast<std::uint8_t>(s));
                picture.push_back(static_cast<std::uint8_t>(p));
                weight.push_back(static_cast<std::uint8_t>(a));
            }
        }
    }
    Bytes fast(source.size()), plain(source.size());
    VeBlend(source.data(), picture.data(), weight.data(), fast.data(), static_cast<ULONG>(source.size()));
    VeBlendReference(source.data(), picture.data(), weight.data(), plain.data(), static_cast<ULONG>(source.size()));
    EXPECT_EQ(fast, plain);
    for (std::size_t i = 0; i < source.size(); ++i) {
        const int expected = (256 * source[i] + (picture[i] - source[i]) * (weight[i] + 1)) / 256;
        ASSERT_EQ(fast[i], expected) << i;
    }
}

TEST(Compositor, FullMaskShowsThePictureAndEmptyMaskKeepsTheVideo)
{
    for (ULONG format : {VE_FORMAT_BGR24, VE_FORMAT_I420}) {
        for (Size size : kStreamSizes) {
            ReadyEffects ready = makeReadyEffects(size.width, size.height, format);
            Overlay overlay{randomBytes(format == VE_FORMAT_I420 ? 184832 : 336896, 1), Bytes(134144, 255)};
            Bytes source = randomBytes(pictureBytes(size.width, size.height, format), 2);
            Bytes destination(source.size());
            ASSERT_EQ(composite(ready, overlay, source, destination), VE_SUCCESS);
            if (size.width == 352) {
                if (format == VE_FORMAT_BGR24) {
                    EXPECT_TRUE(std::equal(destination.begin(), destination.end(), overlay.picture.begin()));
                } else {  // upright: the I420 luma lines run from the overlay's last stored line
                    for (ULONG y = 0; y < 288; ++y) {
                        ASSERT_TRUE(std::equal(destination.begin() + y * 352, destination.begin() + (y + 1) * 352,
                                               overlay.picture.begin() + (287 - y) * 352));
                    }
                }
            }
            std::fill(overlay.mask.begin(), overlay.mask.end(), 0);
            ASSERT_EQ(composite(ready, overlay, source, destination), VE_SUCCESS);
            EXPECT_LE(maxDifference(destination, source), 1) << size.width << " format " << format;
        }
    }
}

TEST(Compositor, PicksOverlayPixelsByTheStepPatternsInBgr)
{
    for (Size size : kStreamSizes) {
        ReadyEffects ready = makeReadyEffects(size.width, size.height, VE_FORMAT_BGR24);
        Overlay overlay{coordinateOverlay(), Bytes(134144, 255)};
        Bytes source(pictureBytes(size.width, size.height, VE_FORMAT_BGR24), 0);
        Bytes destination(source.size());
        ASSERT_EQ(composite(ready, overlay, source, destination), VE_SUCCESS);
        const std::vector<ULONG> columns = expectedColumns(size.width);
        const std::vector<ULONG> lines = expectedLines(size.height);
        for (ULONG y = 0; y < size.height; ++y) {
            for (ULONG x = 0; x < size.width; ++x) {
                const std::uint8_t* pixel = destination.data() + (y * size.width + x) * 3;
                const ULONG column = pixel[0] | ((pixel[1] & 0x0F) << 8);
                ASSERT_EQ(column, columns[x]) << size.width << " x " << x;
                ASSERT_EQ(pixel[2], lines[y] & 0xFF) << size.width << " y " << y;
            }
        }
    }
}

TEST(Compositor, HalfSizeShowsTheWholeFrame)
{
    ReadyEffects ready = makeReadyEffects(176, 144, VE_FORMAT_BGR24);
    Overlay overlay{coordinateOverlay(), Bytes(134144, 255)};
    Bytes source(176 * 144 * 3, 0), destination(source.size());
    ASSERT_EQ(composite(ready, overlay, source, destination), VE_SUCCESS);
    const std::uint8_t* last = destination.data() + (143 * 176 + 175) * 3;
    EXPECT_EQ(last[0] | ((last[1] & 0x0F) << 8), 350);  // reaches the far corner
    EXPECT_EQ(last[2], 286 & 0xFF);
    EXPECT_EQ(destination[0], 0);
}

TEST(Compositor, ReadsI420UprightWithTheGivenChromaWeights)
{
    ReadyEffects ready = makeReadyEffects(352, 288, VE_FORMAT_I420);
    const ULONG lumaBytes = 352 * 288;
    Overlay overlay{Bytes(184832, 255), Bytes(134144, 0)};
    Bytes source(pictureBytes(352, 288, VE_FORMAT_I420), 0), destination(source.size());
    // Weights only under mask columns 8k .. 8k + 3 of the stored lines 287 − 2j:
    // every chroma sample shows the picture.
    for (ULONG line = 1; line < 288; line += 2) {
        for (ULONG column = 0; column < 352; ++column) {
            overlay.mask[line * 352 + column] = column % 8 < 4 ? 255 : 0;
        }
    }
    ASSERT_EQ(composite(ready, overlay, source, destination), VE_SUCCESS);
    EXPECT_EQ(Bytes(destination.begin() + lumaBytes, destination.end()), Bytes(source.size() - lumaBytes, 255));
    // Luma uses the full-resolution mask, upright: output line 0 is stored line 287.
    EXPECT_EQ(destination[0], 255);
    EXPECT_EQ(destination[4], 0);
    EXPECT_EQ(destination[352], 0);
    // The other mask columns and lines leave the chroma alone.
    for (ULONG line = 0; line < 288; ++line) {
        for (ULONG column = 0; column < 352; ++column) {
            overlay.mask[line * 352 + column] = (line % 2 == 0 || column % 8 >= 4) ? 255 : 0;
        }
    }
    ASSERT_EQ(composite(ready, overlay, source, destination), VE_SUCCESS);
    EXPECT_EQ(Bytes(destination.begin() + lumaBytes, destination.end()), Bytes(source.size() - lumaBytes, 0));
}

TEST(Compositor, I420ChromaFollowsTheStepPatternsUpright)
{
    for (Size size : kStreamSizes) {
        ReadyEffects ready = makeReadyEffects(size.width, size.height, VE_FORMAT_I420);
        Overlay overlay{Bytes(184832, 0), Bytes(134144, 255)};
        // U holds the chroma column, V the stored chroma line.
        std::uint8_t* u = overlay.picture.data() + 352 * 288;
        std::uint8_t* v = u + 176 * 144;
        for (ULONG line = 0; line < 144; ++line) {
            for (ULONG column = 0; column < 176; ++column) {
                u[line * 176 + column] = static_cast<std::uint8_t>(column);
                v[line * 176 + column] = static_cast<std::uint8_t>(line);
            }
        }
        Bytes source(pictureBytes(size.width, size.height, VE_FORMAT_I420), 0), destination(source.size());
        ASSERT_EQ(composite(ready, overlay, source, destination), VE_SUCCESS);
        const std::vector<ULONG> columns = expectedColumns(size.width);
        const std::vector<ULONG> lines = expectedLines(size.height);
        const ULONG chromaWidth = size.width / 2;
        const std::uint8_t* outU = destination.data() + size.width * size.height;
        const std::uint8_t* outV = outU + chromaWidth * (size.height / 2);
        for (ULONG j = 0; j < size.height / 2; ++j) {
            for (ULONG c = 0; c < chromaWidth; ++c) {
                ASSERT_EQ(outU[j * chromaWidth + c], columns[c]) << size.width << " c " << c;
                ASSERT_EQ(outV[j * chromaWidth + c], 143 - lines[j]) << size.width << " j " << j;
            }
        }
    }
}

TEST(Compositor, RefusesWhatItCannotLayOver)
{
    Overlay overlay{Bytes(336896, 1), Bytes(134144, 255)};
    for (Size size : {Size{400, 300}, Size{352, 240}}) {
        ReadyEffects ready = makeReadyEffects(size.width, size.height, VE_FORMAT_BGR24);
        Bytes source(pictureBytes(size.width, size.height, VE_FORMAT_BGR24), 5), destination(source.size(), 6);
        EXPECT_EQ(composite(ready, overlay, source, destination), VE_UNSUPPORTED_FORMAT);
        EXPECT_EQ(destination, Bytes(source.size(), 6));  // untouched, not reported as done
    }
    ReadyEffects ready = makeReadyEffects(352, 288, VE_FORMAT_BGR24);
    Bytes source(352 * 288 * 3, 5), destination(source.size(), 6);
    Overlay shortMask{Bytes(336896, 1), Bytes(1000, 255)};
    EXPECT_EQ(composite(ready, shortMask, source, destination), VE_NULL_POINTER);
    VE_PICTURE picture = describe(overlay.picture);
    VE_PICTURE mask = describe(overlay.mask);
    VE_PICTURE in = describe(source);
    VE_PICTURE out = describe(destination);
    EXPECT_EQ(ready.effects->Composite(nullptr, &mask, &in, &out), VE_NULL_POINTER);
    mask.ulFlags = 2;
    EXPECT_EQ(ready.effects->Composite(&picture, &mask, &in, &out), VE_FLAGS_NOT_ZERO);
    EXPECT_EQ(destination, Bytes(source.size(), 6));
}

TEST(OverlayConversion, ConvertsTheDescribedOverlayKeepingItsLineOrder)
{
    ReadyEffects ready = makeReadyEffects(640, 480, VE_FORMAT_I420);
    Bytes picture = randomBytes(336896, 4);
    Bytes i420(184832, 0);
    VE_PICTURE in = describe(picture);
    VE_PICTURE out = describe(i420);
    ASSERT_EQ(ready.effects->ConvertBgrToI420(&in, &out), VE_SUCCESS);
    Bytes expected(152064);
    VeBgrToI420Reference(picture.data(), expected.data(), 352, 288, FALSE);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), i420.begin()));
    Bytes tooSmall(152063);
    VE_PICTURE small = describe(tooSmall);
    EXPECT_EQ(ready.effects->ConvertBgrToI420(&in, &small), VE_NULL_POINTER);
    VideoEffects fresh;
    EXPECT_EQ(fresh.ConvertBgrToI420(&in, &out), VE_WRONG_STATE);
}

} // namespace
} // namespace korval::effects_test
