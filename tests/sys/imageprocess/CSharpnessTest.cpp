// Sharpening: hand-worked Laplacian, coring, limits and strength, and the
// eight-lane version against the per-pixel one on whole frames.
#include "imageprocess/CSharpness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using Plane = std::vector<std::int16_t>;
using Bytes = std::vector<std::uint8_t>;

constexpr int kPlaneWidth = 16;
constexpr int kPlaneHeight = 8;

USHORT word(int threshold, int strength)
{
    return static_cast<USHORT>(strength << 8 | threshold);
}

struct SharpnessCase {
    CSharpness sharpness;
    Plane smooth = Plane(kPlaneWidth * kPlaneHeight, 0);
    Bytes picture = Bytes(kPlaneWidth * kPlaneHeight * 3, 100);

    explicit SharpnessCase(USHORT sharpnessWord) { sharpness.Open(kPlaneWidth, kPlaneHeight, sharpnessWord); }
    std::uint8_t channel(int r, int c, int k) const { return picture[(r * kPlaneWidth + c) * 3 + k]; }
    bool run() { return sharpness.ProcessMMX(smooth.data(), picture.data()); }
};

TEST(CSharpness, FlatPictureIsUnchanged)
{
    SharpnessCase test(word(0, 255));
    test.smooth.assign(kPlaneWidth * kPlaneHeight, 200);
    ASSERT_TRUE(test.run());
    EXPECT_EQ(test.picture, Bytes(kPlaneWidth * kPlaneHeight * 3, 100));
}

TEST(CSharpness, BrightSmoothedPixelIsLimitedToEighty)
{
    SharpnessCase test(word(20, 16));
    test.smooth[4 * kPlaneWidth + 6] = 255;
    ASSERT_TRUE(test.run());
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(test.channel(4, 6, k), 180);  // L = 2040, limited to 80, x 16 >> 4
        EXPECT_EQ(test.channel(4, 5, k), 20);   // neighbours: L = -255, limited to -80
        EXPECT_EQ(test.channel(3, 7, k), 20);
    }
    EXPECT_EQ(test.channel(2, 6, 0), 100);
}

TEST(CSharpness, CoringAtZeroAndAtTheTop)
{
    SharpnessCase everything(word(0, 1));
    everything.smooth[4 * kPlaneWidth + 6] = 1;  // L = 8 at the pixel, -1 around it
    ASSERT_TRUE(everything.run());
    EXPECT_EQ(everything.channel(4, 6, 1), 100);  // 8 x 1 >> 4 = 0
    EXPECT_EQ(everything.channel(4, 7, 1), 99);   // -1 x 1 >> 4 = -1 (arithmetic shift)

    SharpnessCase atThreshold(word(8, 16));
    atThreshold.smooth[4 * kPlaneWidth + 6] = 1;
    ASSERT_TRUE(atThreshold.run());
    EXPECT_EQ(atThreshold.picture, Bytes(kPlaneWidth * kPlaneHeight * 3, 100));  // |L| <= T stays

    // T = 255 cores every |L| up to 255 (here 248 at the pixel, -31 around it) ...
    SharpnessCase nothing(word(255, 16));
    nothing.smooth[4 * kPlaneWidth + 6] = 31;
    ASSERT_TRUE(nothing.run());
    EXPECT_EQ(nothing.picture, Bytes(kPlaneWidth * kPlaneHeight * 3, 100));
    // ... but not a Laplacian above it: coring comes before the limit to 80.
    nothing.smooth[4 * kPlaneWidth + 6] = 32;
    ASSERT_TRUE(nothing.run());
    EXPECT_EQ(nothing.channel(4, 6, 0), 180);
    EXPECT_EQ(nothing.channel(4, 7, 0), 100);
}

TEST(CSharpness, ClampsChannelsAndLeavesTheFrameAlone)
{
    SharpnessCase test(word(0, 64));
    test.picture.assign(test.picture.size(), 250);
    test.smooth[1 * kPlaneWidth + 2] = 255;
    test.smooth[6 * kPlaneWidth + 13] = 255;
    test.smooth[0 * kPlaneWidth + 8] = 255;  // row 0 is never sharpened, but its neighbours read it
    ASSERT_TRUE(test.run());
    EXPECT_EQ(test.channel(1, 2, 0), 255);
    EXPECT_EQ(test.channel(6, 13, 2), 255);
    EXPECT_EQ(test.channel(1, 8, 0), 0);  // 250 - 320 limited at 0
    for (int c = 0; c < kPlaneWidth; ++c) {
        EXPECT_EQ(test.channel(0, c, 0), 250);
        EXPECT_EQ(test.channel(kPlaneHeight - 1, c, 0), 250);
    }
    for (int r = 0; r < kPlaneHeight; ++r) {
        EXPECT_EQ(test.channel(r, 1, 0), 250);
        EXPECT_EQ(test.channel(r, kPlaneWidth - 2, 0), 250);
    }
}

TEST(CSharpness, StrengthZeroAndBadCalls)
{
    SharpnessCase test(word(0, 0));
    test.smooth[4 * kPlaneWidth + 6] = 255;
    ASSERT_TRUE(test.run());
    EXPECT_EQ(test.picture, Bytes(kPlaneWidth * kPlaneHeight * 3, 100));
    EXPECT_FALSE(test.sharpness.ProcessMMX(nullptr, test.picture.data()));
    EXPECT_FALSE(test.sharpness.ProcessMMX(test.smooth.data(), nullptr));
    EXPECT_FALSE(test.sharpness.Open(kPlaneWidth, kPlaneHeight, 0));

    CSharpness closed;
    EXPECT_FALSE(closed.ProcessMMX(test.smooth.data(), test.picture.data()));
    USHORT value = 0;
    EXPECT_FALSE(closed.GetParameters(nullptr));
    closed.SetParameters(0x0614);
    ASSERT_TRUE(closed.GetParameters(&value));
    EXPECT_EQ(value, 0x0614);
    EXPECT_TRUE(test.sharpness.Close());
    EXPECT_FALSE(test.sharpness.ProcessMMX(test.smooth.data(), test.picture.data()));
}

TEST(CSharpness, EightLanesMatchPerPixelOnFrames)
{
    const int w = 352, h = 288;
    std::mt19937 random(5);
    const USHORT words[] = {word(20, 6), word(0, 255), word(3, 16), word(40, 1)};
    for (USHORT sharpnessWord : words) {
        Plane smooth(w * h);
        Bytes picture(w * h * 3);
        for (int i = 0; i < w * h; ++i) {
            // half the frame noise, half a smooth ramp with edges
            smooth[i] = static_cast<std::int16_t>(i < w * h / 2 ? random() % 256 : ((i % w) / 32) * 23 % 256);
        }
        for (auto& b : picture) {
            b = static_cast<std::uint8_t>(random());
        }
        Bytes reference = picture;
        CSharpness sharpness;
        sharpness.Open(w, h, sharpnessWord);
        ASSERT_TRUE(sharpness.ProcessMMX(smooth.data(), picture.data()));
        ASSERT_TRUE(sharpness.ProcessReference(smooth.data(), reference.data()));
        ASSERT_EQ(picture, reference) << std::hex << sharpnessWord;
    }
}

} // namespace
