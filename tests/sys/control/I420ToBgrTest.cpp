#include "control/I420ToBgr.h"

#include "SnapshotMachine.h"
#include "support/floating_point_scope.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using korval::snapshot_test::Bytes;
using korval::snapshot_test::randomBytes;

constexpr std::uint8_t kGuard = 0xA5;

// Both versions into guarded buffers; neither may write past the picture, and
// they must agree. Returns the picture.
Bytes convert(const Bytes& source, ULONG width, ULONG height)
{
    korval::testing::FloatingPointScope floatingPoint; // as the snapshot thread's bracket
    const std::size_t bytes = std::size_t{3} * width * height;
    Bytes fast(bytes + 64, kGuard);
    Bytes reference(bytes + 64, kGuard);
    EXPECT_TRUE(I420ToBgrBottomUp(source.data(), fast.data(), width, height));
    EXPECT_TRUE(I420ToBgrBottomUpReference(source.data(), reference.data(), width, height));
    EXPECT_EQ(Bytes(fast.begin() + bytes, fast.end()), Bytes(64, kGuard)) << "fast version overran";
    EXPECT_EQ(Bytes(reference.begin() + bytes, reference.end()), Bytes(64, kGuard)) << "reference overran";
    EXPECT_TRUE(fast == reference) << width << " x " << height;
    reference.resize(bytes);
    return reference;
}

TEST(I420ToBgr, HandWorkedPairsAndClamps)
{
    // 4 x 2: left pair neutral; right pair u = -128, v = 127:
    // b' = -226816/1000 = -226 (toward zero), g' = 44 - 90 = -46, r' = 178. Bottom row first.
    EXPECT_EQ(convert({16, 100, 200, 255, 0, 50, 128, 235, 128, 0, 128, 255}, 4, 2),
              (Bytes{0, 0, 0, 50, 50, 50, 0, 82, 255, 9, 189, 255,
                     16, 16, 16, 100, 100, 100, 0, 154, 255, 29, 209, 255}));
    // u = 127, v = -128: b' = 225, g' = -43 + 91 = 48, r' = -179 (floor division would give -44 and -180).
    EXPECT_EQ(convert({100, 100, 100, 100, 255, 0}, 2, 2), (Bytes{255, 148, 0, 255, 148, 0, 255, 148, 0, 255, 148, 0}));
    // Y = 255 with v = 127 clamps red and gives G = 255 - 90.
    EXPECT_EQ(convert({255, 255, 255, 255, 128, 255}, 2, 2),
              (Bytes{255, 165, 255, 255, 165, 255, 255, 165, 255, 255, 165, 255}));
}

TEST(I420ToBgr, FastVersionMatchesTheReferenceOnFullFrames)
{
    // 512 x 512 with U = chroma column and V = chroma row: every (u, v) pair.
    Bytes every = randomBytes(I420FrameBytes(512, 512), 7);
    for (ULONG j = 0; j < 256; ++j) {
        for (ULONG k = 0; k < 256; ++k) {
            every[512 * 512 + j * 256 + k] = static_cast<std::uint8_t>(k);
            every[512 * 512 + 256 * 256 + j * 256 + k] = static_cast<std::uint8_t>(j);
        }
    }
    convert(every, 512, 512);
    // Every delivered size, random and smooth (ramps reaching every clamp).
    const std::pair<ULONG, ULONG> sizes[] = {{640, 480}, {352, 288}, {320, 240}, {176, 144}, {160, 120}};
    for (const auto& [width, height] : sizes) {
        convert(randomBytes(I420FrameBytes(width, height), width), width, height);
        Bytes smooth(I420FrameBytes(width, height));
        for (std::size_t i = 0; i < smooth.size(); ++i) {
            smooth[i] = static_cast<std::uint8_t>(i < width * height ? (i % width) * 255 / width + i / width
                                                                     : (i * 7 / width) * 13);
        }
        convert(smooth, width, height);
    }
}

TEST(I420ToBgr, OddSizesStayInsideThePlanes)
{
    // The source is exactly the planes' size, so the sanitizer build sees any read past them.
    const std::pair<ULONG, ULONG> sizes[] = {{1, 1}, {7, 1}, {3, 3}, {17, 5}, {33, 9}, {31, 30}};
    for (const auto& [width, height] : sizes) {
        convert(randomBytes(I420FrameBytes(width, height), width * height), width, height);
    }
    // One pixel wide there is no chroma at all: grey.
    EXPECT_EQ(convert({10, 20, 30}, 1, 3), (Bytes{30, 30, 30, 20, 20, 20, 10, 10, 10}));
}

TEST(I420ToBgr, RefusesNullPointersAndWritesNothingForZeroSizes)
{
    korval::testing::FloatingPointScope floatingPoint;
    Bytes picture(12, kGuard);
    const Bytes source(6, 128);
    EXPECT_FALSE(I420ToBgrBottomUp(nullptr, picture.data(), 2, 2));
    EXPECT_FALSE(I420ToBgrBottomUp(source.data(), nullptr, 2, 2));
    EXPECT_FALSE(I420ToBgrBottomUpReference(nullptr, picture.data(), 2, 2));
    EXPECT_TRUE(I420ToBgrBottomUp(source.data(), picture.data(), 2, 0));
    EXPECT_TRUE(I420ToBgrBottomUp(source.data(), picture.data(), 0, 2));
    EXPECT_EQ(picture, Bytes(12, kGuard));
}

} // namespace
