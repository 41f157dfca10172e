#include "control/I420ToBgr.h"

#include "SnapshotMachine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

using korval::snapshot_test::Bytes;
using korval::snapshot_test::randomBytes;

constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 64;

// Converts with both versions into guarded buffers; checks that neither
// writes past the picture and returns the two pictures.
std::pair<Bytes, Bytes> convertBoth(const Bytes& source, ULONG width, ULONG height)
{
    const std::size_t bytes = std::size_t{3} * width * height;
    Bytes fast(bytes + kGuardBytes, kGuard);
    Bytes reference(bytes + kGuardBytes, kGuard);
    EXPECT_TRUE(I420ToBgrBottomUp(source.data(), fast.data(), width, height));
    EXPECT_TRUE(I420ToBgrBottomUpReference(source.data(), reference.data(), width, height));
    for (std::size_t i = bytes; i < bytes + kGuardBytes; ++i) {
        EXPECT_EQ(fast[i], kGuard) << "fast version wrote past the picture at " << i;
        EXPECT_EQ(reference[i], kGuard) << "reference wrote past the picture at " << i;
    }
    fast.resize(bytes);
    reference.resize(bytes);
    return {fast, reference};
}

// A picture like a camera's: smooth luma ramps and chroma sweeping the whole
// range, so every clamp is reached somewhere.
Bytes naturalFrame(ULONG width, ULONG height)
{
    Bytes frame(I420FrameBytes(width, height));
    for (ULONG y = 0; y < height; ++y) {
        for (ULONG x = 0; x < width; ++x) {
            frame[y * width + x] = static_cast<std::uint8_t>((x * 255 / (width - 1) + y * 3) & 0xFF);
        }
    }
    const ULONG chromaWidth = width / 2;
    const ULONG chromaHeight = height / 2;
    std::uint8_t* u = frame.data() + width * height;
    std::uint8_t* v = u + chromaWidth * chromaHeight;
    for (ULONG j = 0; j < chromaHeight; ++j) {
        for (ULONG k = 0; k < chromaWidth; ++k) {
            u[j * chromaWidth + k] = static_cast<std::uint8_t>(k * 255 / (chromaWidth - 1));
            v[j * chromaWidth + k] = static_cast<std::uint8_t>(255 - j * 255 / (chromaHeight - 1));
        }
    }
    return frame;
}

TEST(I420ToBgr, TinyFrameByHand)
{
    // 4 x 2: the left pair has neutral chroma, the right pair u = -128, v = 127:
    // b' = -226816/1000 = -226 (toward zero), g' = 44 - 90 = -46, r' = 178.
    const Bytes source = {16, 100, 200, 255, // Y row 0
                          0,  50,  128, 235, // Y row 1
                          128, 0,            // U
                          128, 255};         // V
    const Bytes expected = {
        // bottom row first: source row 1
        0, 0, 0, 50, 50, 50, 0, 82, 255, 9, 189, 255,
        // then source row 0
        16, 16, 16, 100, 100, 100, 0, 154, 255, 29, 209, 255};
    const auto [fast, reference] = convertBoth(source, 4, 2);
    EXPECT_EQ(reference, expected);
    EXPECT_EQ(fast, expected);
}

TEST(I420ToBgr, NegativeProductsTruncateTowardZero)
{
    // u = 127, v = -128: b' = 225044/1000 = 225, g' = -437007/10000 - (-914048/10000) = -43 + 91 = 48,
    // r' = -179456/1000 = -179 (floor division would give -180 and -44).
    const Bytes source = {100, 100, 100, 100, 255, 0};
    const Bytes expected = {255, 148, 0, 255, 148, 0, 255, 148, 0, 255, 148, 0};
    const auto [fast, reference] = convertBoth(source, 2, 2);
    EXPECT_EQ(reference, expected);
    EXPECT_EQ(fast, expected);
}

TEST(I420ToBgr, GreyAndClampedReds)
{
    // Y = 16, U = V = 128 is grey 16; Y = 255 with v = 127 clamps red and gives G = 255 - 90.
    Bytes source = {16, 16, 16, 16, 128, 128};
    auto [fast, reference] = convertBoth(source, 2, 2);
    EXPECT_EQ(reference, Bytes(12, 16));
    EXPECT_EQ(fast, Bytes(12, 16));
    source = {255, 255, 255, 255, 128, 255};
    std::tie(fast, reference) = convertBoth(source, 2, 2);
    for (std::size_t pixel = 0; pixel < 4; ++pixel) {
        EXPECT_EQ(reference[3 * pixel], 255);
        EXPECT_EQ(reference[3 * pixel + 1], 165);
        EXPECT_EQ(reference[3 * pixel + 2], 255);
    }
    EXPECT_EQ(fast, reference);
}

TEST(I420ToBgr, EveryChromaPairMatchesTheReference)
{
    // 512 x 512: chroma column k holds U = k and chroma row j holds V = j, so
    // all 65536 (u, v) pairs meet random luma.
    const ULONG size = 512;
    Bytes source = randomBytes(I420FrameBytes(size, size), 7);
    std::uint8_t* u = source.data() + size * size;
    std::uint8_t* v = u + (size / 2) * (size / 2);
    for (ULONG j = 0; j < size / 2; ++j) {
        for (ULONG k = 0; k < size / 2; ++k) {
            u[j * (size / 2) + k] = static_cast<std::uint8_t>(k);
            v[j * (size / 2) + k] = static_cast<std::uint8_t>(j);
        }
    }
    const auto [fast, reference] = convertBoth(source, size, size);
    EXPECT_TRUE(fast == reference);
}

TEST(I420ToBgr, FullFramesOfEveryFormatMatchTheReference)
{
    const std::pair<ULONG, ULONG> sizes[] = {{640, 480}, {352, 288}, {320, 240}, {176, 144}, {160, 120}};
    std::uint32_t seed = 1;
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        const auto [fastRandom, referenceRandom] = convertBoth(randomBytes(I420FrameBytes(width, height), seed++),
                                                               width, height);
        EXPECT_TRUE(fastRandom == referenceRandom);
        const auto [fastNatural, referenceNatural] = convertBoth(naturalFrame(width, height), width, height);
        EXPECT_TRUE(fastNatural == referenceNatural);
    }
}

TEST(I420ToBgr, OddSizesStayInsideThePlanes)
{
    // The source is exactly as large as the planes, so a read past them is an
    // out-of-bounds read that the sanitizer build reports.
    const std::pair<ULONG, ULONG> sizes[] = {{1, 1}, {1, 6}, {7, 1}, {3, 3}, {17, 5}, {33, 9}, {18, 7}, {31, 30}};
    std::uint32_t seed = 100;
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        const Bytes source = randomBytes(I420FrameBytes(width, height), seed++);
        const auto [fast, reference] = convertBoth(source, width, height);
        EXPECT_TRUE(fast == reference);
    }
    // One pixel wide: no chroma at all, so the picture is grey.
    const Bytes column = {10, 20, 30};
    const auto [fast, reference] = convertBoth(column, 1, 3);
    EXPECT_EQ(reference, (Bytes{30, 30, 30, 20, 20, 20, 10, 10, 10}));
    EXPECT_EQ(fast, reference);
}

TEST(I420ToBgr, OddEdgesReuseTheNearestChromaSample)
{
    // 3 x 3: one chroma sample (u = -128) serves all nine pixels.
    const Bytes source = {200, 200, 200, 200, 200, 200, 200, 200, 200, 0, 128};
    const auto [fast, reference] = convertBoth(source, 3, 3);
    for (std::size_t pixel = 0; pixel < 9; ++pixel) {
        EXPECT_EQ(reference[3 * pixel], 0) << pixel;       // 200 - 226 clamps
        EXPECT_EQ(reference[3 * pixel + 1], 244) << pixel; // 200 + 44
        EXPECT_EQ(reference[3 * pixel + 2], 200) << pixel;
    }
    EXPECT_EQ(fast, reference);
}

TEST(I420ToBgr, RefusesNullPointersAndWritesNothingForZeroHeight)
{
    Bytes picture(12, kGuard);
    const Bytes source(6, 128);
    EXPECT_FALSE(I420ToBgrBottomUp(nullptr, picture.data(), 2, 2));
    EXPECT_FALSE(I420ToBgrBottomUp(source.data(), nullptr, 2, 2));
    EXPECT_FALSE(I420ToBgrBottomUpReference(nullptr, picture.data(), 2, 2));
    EXPECT_FALSE(I420ToBgrBottomUpReference(source.data(), nullptr, 2, 2));
    EXPECT_TRUE(I420ToBgrBottomUp(source.data(), picture.data(), 2, 0));
    EXPECT_TRUE(I420ToBgrBottomUp(source.data(), picture.data(), 0, 2));
    EXPECT_TRUE(I420ToBgrBottomUpReference(source.data(), picture.data(), 2, 0));
    EXPECT_EQ(picture, Bytes(12, kGuard));
}

} // namespace
