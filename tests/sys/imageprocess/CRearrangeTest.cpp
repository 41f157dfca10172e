#include "imageprocess/CRearrange.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// A packed buffer whose pixel (r, k) holds B = k, G = r, R = k ^ r, for the
// pixels of whole groups; the bytes of a partial group are left at 0.
std::vector<std::uint8_t> labelledPacked(int w, int h)
{
    std::vector<std::uint8_t> packed(static_cast<size_t>(3) * w * h);
    for (int r = 0; r < h; ++r) {
        for (int k = 0; k < w / 8 * 8; ++k) {
            std::uint8_t* group = packed.data() + static_cast<size_t>(r) * 3 * w + (k / 8) * 24;
            int i = k % 8;
            group[(i & 1) * 12 + 0 + (i >> 1)] = static_cast<std::uint8_t>(k);
            group[(i & 1) * 12 + 4 + (i >> 1)] = static_cast<std::uint8_t>(r);
            group[(i & 1) * 12 + 8 + (i >> 1)] = static_cast<std::uint8_t>(k ^ r);
        }
    }
    return packed;
}

struct Rearranged {
    std::vector<std::uint8_t> image;
    int w;
    const std::uint8_t* pixel(int r, int c) const { return image.data() + (static_cast<size_t>(r) * w + c) * 3; }
};

Rearranged rearrange(int w, int h, UCHAR mirror, UCHAR flip, bool reference = false)
{
    CRearrange stage;
    EXPECT_TRUE(stage.Open(w, h));
    std::vector<std::uint8_t> packed = labelledPacked(w, h);
    Rearranged out{std::vector<std::uint8_t>(static_cast<size_t>(3) * w * h, 0xEE), w};
    bool ok = reference ? stage.Process_4B4G4RReference(packed.data(), out.image.data(), mirror, flip)
                        : stage.Process_4B4G4R(packed.data(), out.image.data(), mirror, flip);
    EXPECT_TRUE(ok);
    return out;
}

} // namespace

TEST(CRearrange, UnpacksGroupsIntoBgrPixels)
{
    Rearranged out = rearrange(16, 3, 0, 0);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 16; ++c) {
            EXPECT_EQ(out.pixel(r, c)[0], c);
            EXPECT_EQ(out.pixel(r, c)[1], r);
            EXPECT_EQ(out.pixel(r, c)[2], c ^ r);
        }
    }
}

TEST(CRearrange, MirrorAndFlipActOnlyOnTheValueOne)
{
    Rearranged mirrored = rearrange(16, 3, 1, 0);
    Rearranged flipped = rearrange(16, 3, 0, 1);
    Rearranged both = rearrange(16, 3, 1, 1);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 16; ++c) {
            EXPECT_EQ(mirrored.pixel(r, c)[0], 15 - c);
            EXPECT_EQ(mirrored.pixel(r, c)[1], r);
            EXPECT_EQ(flipped.pixel(r, c)[0], c);
            EXPECT_EQ(flipped.pixel(r, c)[1], 2 - r);
            EXPECT_EQ(both.pixel(r, c)[0], 15 - c);
            EXPECT_EQ(both.pixel(r, c)[2], (15 - c) ^ (2 - r));
        }
    }
    EXPECT_EQ(rearrange(16, 3, 2, 2).image, rearrange(16, 3, 0, 0).image);
    EXPECT_EQ(rearrange(16, 3, 255, 0).image, rearrange(16, 3, 0, 0).image);
}

TEST(CRearrange, OnlyWholeGroupsAreWritten)
{
    // 12 pixels: one group of 8; with mirror it lands at columns 11..4.
    Rearranged plain = rearrange(12, 1, 0, 0);
    Rearranged mirrored = rearrange(12, 1, 1, 0);
    for (int c = 0; c < 12; ++c) {
        EXPECT_EQ(plain.pixel(0, c)[0], c < 8 ? c : 0xEE);
        EXPECT_EQ(mirrored.pixel(0, c)[0], c >= 4 ? 11 - c : 0xEE);
    }
}

TEST(CRearrange, FastMatchesReferenceOnFullFrames)
{
    std::mt19937 generator(9);
    for (int w : {352, 16, 40}) {
        int h = w == 352 ? 288 : 6;
        std::vector<std::uint8_t> packed(static_cast<size_t>(3) * w * h);
        for (auto& byte : packed) {
            byte = static_cast<std::uint8_t>(generator());
        }
        for (UCHAR mirror = 0; mirror < 3; ++mirror) {
            for (UCHAR flip = 0; flip < 2; ++flip) {
                CRearrange stage;
                ASSERT_TRUE(stage.Open(w, h));
                std::vector<std::uint8_t> fast(packed.size(), 1), reference(packed.size(), 1);
                ASSERT_TRUE(stage.Process_4B4G4R(packed.data(), fast.data(), mirror, flip));
                ASSERT_TRUE(stage.Process_4B4G4RReference(packed.data(), reference.data(), mirror, flip));
                ASSERT_EQ(fast, reference) << w << " " << int(mirror) << " " << int(flip);
            }
        }
    }
}

TEST(CRearrange, RefusesBadCalls)
{
    std::vector<std::uint8_t> buffer(3 * 16 * 2);
    CRearrange stage;
    EXPECT_FALSE(stage.Process_4B4G4R(buffer.data(), buffer.data(), 0, 0));
    ASSERT_TRUE(stage.Open(16, 2));
    EXPECT_FALSE(stage.Open(16, 2));
    EXPECT_FALSE(stage.Process_4B4G4R(nullptr, buffer.data(), 0, 0));
    EXPECT_FALSE(stage.Process_4B4G4R(buffer.data(), nullptr, 0, 0));
    EXPECT_TRUE(stage.Close());
    EXPECT_FALSE(stage.Process_4B4G4R(buffer.data(), buffer.data(), 0, 0));
    EXPECT_TRUE(stage.Open(16, 2));
}
