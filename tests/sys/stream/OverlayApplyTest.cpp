// Blending a loaded overlay frame over the delivered picture: hand-worked
// values for weights 0, 128 and 255 in both output formats, the half-size
// stream, and the cases in which the picture is delivered without the frame.
#include "overlay_test_support.h"

#include "support/png_file.h"

#include <algorithm>
#include <cstdlib>

namespace korval::overlay_test {
namespace {

// Source (B, G, R) = (10, 250, 60) under picture (250, 10, 60), per the blend
// out = (256 s + (p − s)(a + 1)) / 256:
//   a = 0:   (2560 + 240) / 256 = 10,  (64000 − 240) / 256 = 249 (one level), 60
//   a = 128: (2560 + 30960) / 256 = 130, (64000 − 30960) / 256 = 129, 60
//   a = 255: the picture exactly.
struct Expected {
    std::uint8_t b, g, r;
};
constexpr Expected kBgrByWeight[] = {{10, 249, 60}, {130, 129, 60}, {250, 10, 60}};

int band(ULONG storedLine, ULONG lines)
{
    return static_cast<int>(storedLine * 3 / lines);
}

class OverlayApply : public OverlayMachine {
protected:
    void loadFrame(const Bytes& picture)
    {
        installFrame(5, "deco", picture, bandedMask());
        ASSERT_TRUE(load(5));
        device_->CurOverlayFrame = 5;
    }
};

TEST_F(OverlayApply, Bgr352WeighsEachBandByItsMask)
{
    openStream(352, 288, false);
    loadFrame(uniformPicture(250, 10, 60));
    Bytes source = uniformPicture(10, 250, 60);
    Bytes destination(source.size(), 0x5A);
    ASSERT_TRUE(apply(source, destination));
    for (ULONG line = 0; line < 288; ++line) {
        const Expected& want = kBgrByWeight[band(line, 288)];
        for (ULONG x = 0; x < 352; x += 7) {
            const std::uint8_t* pixel = destination.data() + (line * 352 + x) * 3;
            ASSERT_EQ(pixel[0], want.b) << line << "," << x;
            ASSERT_EQ(pixel[1], want.g) << line << "," << x;
            ASSERT_EQ(pixel[2], want.r) << line << "," << x;
        }
    }
    EXPECT_TRUE(source == uniformPicture(10, 250, 60)) << "source untouched";
}

TEST_F(OverlayApply, I420ReadsTheFrameUprightWithItsChromaWeights)
{
    openStream(352, 288, true);
    loadFrame(uniformPicture(200, 200, 200)); // grey: Y 200, U = V = 128
    const Bytes loaded = pictureI420();
    ASSERT_EQ(loaded[0], 200);
    ASSERT_EQ(loaded[352 * 288], 128);
    ASSERT_EQ(loaded[352 * 288 + 176 * 144], 128);

    Bytes source(352 * 288 * 3 / 2);
    std::fill_n(source.begin(), 352 * 288, 10);
    std::fill_n(source.begin() + 352 * 288, 176 * 144, 250);
    std::fill_n(source.begin() + 352 * 288 + 176 * 144, 176 * 144, 60);
    Bytes destination(source.size(), 0x5A);
    ASSERT_TRUE(apply(source, destination));

    // Rows counted from the top; the top third of the picture is the mask's
    // top stored third (weight 255). Y 10 under 200, U 250 and V 60 under 128:
    //   a = 0: 10, 249, 60   a = 128: 105, 188, 94   a = 255: 200, 128, 128
    constexpr std::uint8_t kY[] = {200, 105, 10}, kU[] = {128, 188, 249}, kV[] = {128, 94, 60};
    for (ULONG row = 0; row < 288; ++row) {
        const int weightBand = 2 - band(287 - row, 288); // 0: weight 255 ... 2: weight 0
        ASSERT_EQ(destination[row * 352 + 100], kY[weightBand]) << "luma row " << row;
    }
    // Chroma row j is weighed by stored mask line 287 − 2j.
    for (ULONG j = 0; j < 144; ++j) {
        const int weightBand = 2 - band(287 - 2 * j, 288);
        ASSERT_EQ(destination[352 * 288 + j * 176 + 33], kU[weightBand]) << "U row " << j;
        ASSERT_EQ(destination[352 * 288 + 176 * 144 + j * 176 + 33], kV[weightBand]) << "V row " << j;
    }
}

// Random pictures: an opaque mask shows the frame exactly (upright in I420),
// a clear one moves the video by at most one level.
TEST_F(OverlayApply, OpaqueMaskShowsTheFrameAndClearMaskKeepsTheVideo)
{
    for (const bool i420 : {false, true}) {
        closeStream();
        openStream(352, 288, i420);
        const Bytes frame = randomBytes(OVERLAY_PICTURE_BYTES, 11);
        const std::size_t bytes = i420 ? 352 * 288 * 3 / 2 : OVERLAY_PICTURE_BYTES;
        Bytes source = randomBytes(bytes, 12), destination(bytes);
        device_->CurOverlayFrame = 5;

        installFrame(5, "deco", frame, Bytes(OVERLAY_MASK_BYTES, 255));
        ASSERT_TRUE(load(5));
        ASSERT_TRUE(apply(source, destination));
        if (!i420) {
            EXPECT_TRUE(destination == frame);
        } else {
            const Bytes stored = pictureI420();
            for (ULONG row = 0; row < 288; ++row) {
                ASSERT_TRUE(std::equal(destination.begin() + row * 352, destination.begin() + (row + 1) * 352,
                                       stored.begin() + (287 - row) * 352))
                    << "luma row " << row;
            }
            for (ULONG plane = 0; plane < 2; ++plane) {
                const std::size_t base = 352 * 288 + plane * 176 * 144;
                for (ULONG j = 0; j < 144; ++j) {
                    ASSERT_TRUE(std::equal(destination.begin() + base + j * 176,
                                           destination.begin() + base + (j + 1) * 176,
                                           stored.begin() + base + (143 - j) * 176))
                        << "chroma plane " << plane << " row " << j;
                }
            }
        }

        installFrame(5, "deco", frame, Bytes(OVERLAY_MASK_BYTES, 0));
        ASSERT_TRUE(load(5));
        ASSERT_TRUE(apply(source, destination));
        for (std::size_t i = 0; i < bytes; ++i) {
            ASSERT_LE(std::abs(destination[i] - source[i]), 1) << (i420 ? "I420" : "BGR") << " byte " << i;
        }
    }
}

TEST_F(OverlayApply, HalfSizeStreamShowsTheWholeFrame)
{
    openStream(176, 144, false);
    // Each overlay pixel carries its own coordinates; the mask shows it whole.
    Bytes coordinates(OVERLAY_PICTURE_BYTES);
    for (ULONG line = 0; line < 288; ++line) {
        for (ULONG x = 0; x < 352; ++x) {
            std::uint8_t* pixel = coordinates.data() + (line * 352 + x) * 3;
            pixel[0] = static_cast<std::uint8_t>(x);
            pixel[1] = static_cast<std::uint8_t>(x >> 8);
            pixel[2] = static_cast<std::uint8_t>(line);
        }
    }
    installFrame(5, "deco", coordinates, Bytes(OVERLAY_MASK_BYTES, 255));
    ASSERT_TRUE(load(5));
    device_->CurOverlayFrame = 5;
    Bytes source(176 * 144 * 3, 0), destination(176 * 144 * 3, 0);
    ASSERT_TRUE(apply(source, destination));
    for (ULONG y = 0; y < 144; ++y) {
        for (ULONG x = 0; x < 176; ++x) {
            const std::uint8_t* pixel = destination.data() + (y * 176 + x) * 3;
            ASSERT_EQ(pixel[0] | (pixel[1] << 8), static_cast<int>(2 * x)) << x << "," << y;
            ASSERT_EQ(pixel[2], static_cast<std::uint8_t>(2 * y)) << x << "," << y;
        }
    }
}

TEST_F(OverlayApply, FrameNumberZeroAndUnusablePicturesDeliverTheSource)
{
    openStream(352, 288, false);
    loadFrame(uniformPicture(250, 10, 60));
    Bytes source = uniformPicture(10, 250, 60);
    Bytes destination(source.size(), 0x5A);
    device_->CurOverlayFrame = 0;
    EXPECT_FALSE(apply(source, destination)) << "frame 0 is no frame";
    EXPECT_TRUE(destination == Bytes(source.size(), 0x5A));
    EXPECT_TRUE(picture() == uniformPicture(250, 10, 60)) << "switching off clears nothing";

    device_->CurOverlayFrame = 5;
    Bytes shortDestination(source.size() - 1, 0x5A);
    EXPECT_FALSE(apply(source, shortDestination));
    EXPECT_TRUE(shortDestination == Bytes(source.size() - 1, 0x5A));
    korval::testing::FloatingPointScope floatingPoint;
    EXPECT_FALSE(ApplyOverlayFrame(nullptr, 0, destination.data(), static_cast<ULONG>(destination.size()),
                                   device_.get()));
    EXPECT_FALSE(ApplyOverlayFrame(source.data(), 1, destination.data(), 1, nullptr));
    EXPECT_TRUE(apply(source, destination));
}

TEST_F(OverlayApply, OutputSizeWithoutAStepPatternIsLeftUnwritten)
{
    openStream(200, 100, false);
    loadFrame(uniformPicture(250, 10, 60));
    Bytes source(200 * 100 * 3, 1), destination(200 * 100 * 3, 0x5A);
    EXPECT_FALSE(apply(source, destination)) << "the pipeline then delivers the source";
    EXPECT_TRUE(destination == Bytes(destination.size(), 0x5A));
}

TEST_F(OverlayApply, WithoutEffectsObjectNothingIsBlended)
{
    openStream(352, 288, false, false);
    installFrame(5, "deco", uniformPicture(250, 10, 60), bandedMask());
    ASSERT_TRUE(load(5));
    device_->CurOverlayFrame = 5;
    Bytes source = uniformPicture(10, 250, 60), destination(source.size(), 0x5A);
    EXPECT_FALSE(apply(source, destination));
}

// For a person to look at: a grey ramp behind a frame whose mask fades from
// transparent at the bottom to opaque at the top.
TEST_F(OverlayApply, PictureOfAFadingFrame)
{
    openStream(352, 288, false);
    Bytes fading(OVERLAY_MASK_BYTES);
    for (ULONG line = 0; line < 288; ++line) {
        std::fill_n(fading.begin() + line * 352, 352, static_cast<std::uint8_t>(line * 255 / 287));
    }
    installFrame(5, "deco", uniformPicture(40, 120, 230), fading);
    ASSERT_TRUE(load(5));
    device_->CurOverlayFrame = 5;
    Bytes source(OVERLAY_PICTURE_BYTES);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<std::uint8_t>((i / 3) % 352 * 255 / 351);
    }
    Bytes destination(source.size());
    ASSERT_TRUE(apply(source, destination));
    korval::testing::writeBgrBottomUpPng("overlay_fading_frame", 352, 288, destination.data());
}

} // namespace
} // namespace korval::overlay_test
