#include "imageprocess/CGamma.h"
#include "platform/CpuFeatures.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

tagIpGammaParameters tone(USHORT gamma, USHORT blackPoint, USHORT brightness)
{
    return tagIpGammaParameters{gamma, blackPoint, brightness, {{0, 0}, {0, 0}, {0, 0}, {32, 32}, {192, 192}}};
}

std::vector<std::uint8_t> everyLevel()
{
    std::vector<std::uint8_t> buffer(3 * 16 * 16);  // a 16 x 16 picture: every level three times
    for (size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<std::uint8_t>(i % 256);
    }
    return buffer;
}

} // namespace

TEST(CGamma, ContrastTableForBlackPointAndBrightness)
{
    CGamma gamma;
    ASSERT_TRUE(gamma.Open(16, 16, tone(100, 0, 255)));
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(gamma.LutContrast()[i], i);  // T = 0, brightness 255: identity
    }
    ASSERT_TRUE(gamma.SetParameters(tone(100, 5, 255)));  // k = 255 / 250 = 1.02
    EXPECT_EQ(gamma.LutContrast()[5], 0);
    EXPECT_EQ(gamma.LutContrast()[6], 1);
    EXPECT_EQ(gamma.LutContrast()[130], 127);  // trunc(125 x 1.02 = 127.5)
    EXPECT_EQ(gamma.LutContrast()[255], 255);
    ASSERT_TRUE(gamma.SetParameters(tone(100, 5, 265)));  // offset +10
    EXPECT_EQ(gamma.LutContrast()[0], 10);
    EXPECT_EQ(gamma.LutContrast()[130], 137);
    EXPECT_EQ(gamma.LutContrast()[250], 255);
    ASSERT_TRUE(gamma.SetParameters(tone(100, 5, 200)));  // offset -55
    EXPECT_EQ(gamma.LutContrast()[5], 0);
    EXPECT_EQ(gamma.LutContrast()[130], 72);
}

TEST(CGamma, BlackPointOf255MakesTheContrastTableConstant)
{
    CGamma gamma;
    ASSERT_TRUE(gamma.Open(16, 16, tone(100, 255, 300)));
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(gamma.LutContrast()[i], 45);
    }
    ASSERT_TRUE(gamma.SetParameters(tone(100, 400, 200)));
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(gamma.LutContrast()[i], 0);
        ASSERT_EQ(gamma.LutBoth()[i], 0);
    }
}

TEST(CGamma, LinearGammaOnTheDiagonalCurveIsIdentityUpToTruncation)
{
    CGamma gamma;
    ASSERT_TRUE(gamma.Open(16, 16, tone(100, 0, 255)));
    int lower = 0;
    for (int i = 0; i < 256; ++i) {
        int entry = gamma.LutCurve()[i];
        ASSERT_TRUE(entry == i || entry == i - 1) << i;
        lower += entry == i - 1;
        ASSERT_EQ(gamma.LutBoth()[i], entry);  // T = 0 and no offset: the same mapping
    }
    EXPECT_LT(lower, 256);
}

TEST(CGamma, GammaAndCurveShapeTheTables)
{
    CGamma gamma;
    ASSERT_TRUE(gamma.Open(16, 16, tone(50, 0, 255)));
    EXPECT_EQ(gamma.LutCurve()[64], 127);  // trunc(sqrt(64 / 255) x 255 = 127.75)
    EXPECT_EQ(gamma.LutCurve()[0], 0);
    EXPECT_EQ(gamma.LutCurve()[255], 255);
    // A curve that lifts the shadows: (0,0) (0,0) (0,0) (64,128) (192,224).
    tagIpGammaParameters lifted{100, 0, 255, {{0, 0}, {0, 0}, {0, 0}, {64, 128}, {192, 224}}};
    ASSERT_TRUE(gamma.SetParameters(lifted));
    EXPECT_EQ(gamma.LutCurve()[32], 64);    // slope 2 from (0,0) to (64,128)
    EXPECT_EQ(gamma.LutCurve()[128], 176);  // 128 + 64 x 0.75
    EXPECT_EQ(gamma.LutCurve()[224], 239);  // 224 + 32 x 31 / 63 = 239.7
    // LutBoth with a black point: level 5 + 250 maps through the stretched input.
    tagIpGammaParameters stretched = lifted;
    stretched.usBlackPoint = 5;
    ASSERT_TRUE(gamma.SetParameters(stretched));
    EXPECT_EQ(gamma.LutBoth()[5], 0);
    EXPECT_EQ(gamma.LutBoth()[255], 255);  // x = 255.0: the curve's end point
    // x = 125 x 1.02 = 127.5 takes the ratio of level 127: 175.25 / 127, so
    // 0.5 x 1.37992 x 255 = 175.9.
    EXPECT_EQ(gamma.LutBoth()[130], 175);
}

TEST(CGamma, RepeatedSettingsRebuildNothing)
{
    CGamma gamma;
    ASSERT_TRUE(gamma.Open(16, 16, tagIpGammaParameters{}));
    EXPECT_EQ(gamma.TableBuilds(), 0u);  // all-zero settings equal the cleared ones
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(gamma.LutCurve()[i] | gamma.LutContrast()[i] | gamma.LutBoth()[i], 0);
    }
    ASSERT_TRUE(gamma.SetParameters(tone(70, 5, 255)));
    EXPECT_EQ(gamma.TableBuilds(), 1u);
    ASSERT_TRUE(gamma.SetParameters(tone(70, 5, 255)));
    EXPECT_EQ(gamma.TableBuilds(), 1u);
    ASSERT_TRUE(gamma.SetParameters(tone(80, 5, 255)));
    EXPECT_EQ(gamma.TableBuilds(), 2u);
    tagIpGammaParameters readBack{};
    ASSERT_TRUE(gamma.GetParameters(&readBack));
    EXPECT_EQ(readBack.usGamma, 80);
    EXPECT_EQ(readBack.asCurve[4].ucX, 192);
    EXPECT_FALSE(gamma.GetParameters(nullptr));
}

TEST(CGamma, FlagsChooseTheTable)
{
    CGamma gamma;
    ASSERT_TRUE(gamma.Open(16, 16, tone(50, 20, 280)));
    auto mapped = [&](UCHAR gammaFlag, UCHAR contrastFlag) {
        std::vector<std::uint8_t> buffer = everyLevel();
        EXPECT_TRUE(gamma.Process(buffer.data(), gammaFlag, contrastFlag));
        return buffer;
    };
    auto through = [](const UCHAR* table) {
        std::vector<std::uint8_t> buffer = everyLevel();
        for (auto& byte : buffer) {
            byte = table[byte];
        }
        return buffer;
    };
    for (USHORT brightness : {280, 200}) {  // new settings: no table of the last ones is used again
        ASSERT_TRUE(gamma.SetParameters(tone(50, 20, brightness)));
        EXPECT_EQ(mapped(0, 0), everyLevel());
        EXPECT_EQ(mapped(1, 0), through(gamma.LutCurve()));
        EXPECT_EQ(mapped(0, 1), through(gamma.LutContrast()));
        EXPECT_EQ(mapped(1, 1), through(gamma.LutBoth()));
    }
}

TEST(CGamma, UnsafeSettingsAreHeldToSoundValues)
{
    CGamma gamma;
    // x5 = 0 would divide by zero at level 0; the level takes the slope instead.
    ASSERT_TRUE(gamma.Open(16, 16, tagIpGammaParameters{100, 0, 255, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}}));
    for (int i = 0; i < 256; ++i) {
        ASSERT_LE(std::abs(gamma.LutCurve()[i] - i), 1) << i;
    }
    // Brightness above 510 is held at 510 instead of wrapping in the table.
    ASSERT_TRUE(gamma.SetParameters(tone(100, 10, 600)));
    EXPECT_EQ(gamma.LutContrast()[0], 255);
    EXPECT_EQ(gamma.LutBoth()[0], 255);
    tagIpGammaParameters readBack{};
    ASSERT_TRUE(gamma.GetParameters(&readBack));
    EXPECT_EQ(readBack.usBrightness, 600);  // the setting itself is kept as given
    // Gamma 0 with a steep curve: 255 x 255 must not wrap through 16 bits.
    ASSERT_TRUE(gamma.SetParameters(tagIpGammaParameters{0, 0, 255, {{1, 255}, {0, 0}, {0, 0}, {0, 0}, {255, 255}}}));
    EXPECT_EQ(gamma.LutCurve()[0], 255);
}

TEST(CGamma, UnwrittenRatiosStartAtOne)
{
    // x5 = 255 skips the last segment, so level 255 keeps its initial ratio.
    CGamma gamma;
    ASSERT_TRUE(gamma.Open(16, 16, tagIpGammaParameters{100, 0, 255, {{0, 0}, {0, 0}, {0, 0}, {32, 32}, {255, 255}}}));
    EXPECT_EQ(gamma.LutCurve()[255], 255);
}

TEST(CGamma, FastMappingMatchesReference)
{
    std::mt19937 generator(21);
    for (ULONG count : {0u, 1u, 31u, 32u, 35u, 36u, 37u, 63u, 64u, 65u, 71u, 72u, 1000u, 304128u, 304129u}) {
        std::vector<std::uint8_t> table(256), buffer(count);
        for (auto& entry : table) {
            entry = static_cast<std::uint8_t>(generator());
        }
        for (size_t i = 0; i < buffer.size(); ++i) {
            buffer[i] = static_cast<std::uint8_t>(i < 256 ? i : generator());
        }
        std::vector<std::uint8_t> fast = buffer, paired = buffer, reference = buffer;
        std::vector<USHORT> pairs(CGamma::kPairEntries);
        CGamma::BuildPairTable(table.data(), pairs.data());
        CGamma::MapBytes(fast.data(), count, table.data());
        CGamma::MapBytesPairs(paired.data(), count, pairs.data());
        CGamma::MapBytesReference(reference.data(), count, table.data());
        ASSERT_EQ(fast, reference) << count;
        ASSERT_EQ(paired, reference) << count;
        if constexpr (kAvx2Compiled) {
            if (CpuHasAvx512Vbmi()) {  // MapBytes took the AVX-512 kernel: the AVX2 one too
                std::vector<std::uint8_t> narrower = buffer;
                GammaMapBytesAvx2(narrower.data(), count, table.data());
                ASSERT_EQ(narrower, reference) << count;
            }
        }
    }
    CGamma gamma;
    ASSERT_TRUE(gamma.Open(352, 288, tone(70, 5, 255)));
    std::vector<std::uint8_t> picture(3 * 352 * 288);
    for (auto& byte : picture) {
        byte = static_cast<std::uint8_t>(generator());
    }
    std::vector<std::uint8_t> fast = picture, reference = picture;
    ASSERT_TRUE(gamma.Process(fast.data(), 1, 1));
    ASSERT_TRUE(gamma.ProcessReference(reference.data(), 1, 1));
    EXPECT_EQ(fast, reference);
}

TEST(CGamma, RefusesBadCalls)
{
    std::vector<std::uint8_t> buffer = everyLevel();
    CGamma gamma;
    EXPECT_FALSE(gamma.Process(buffer.data(), 1, 1));
    ASSERT_TRUE(gamma.Open(16, 16, tone(70, 5, 255)));
    EXPECT_FALSE(gamma.Open(16, 16, tone(70, 5, 255)));
    EXPECT_FALSE(gamma.Process(nullptr, 1, 1));
    EXPECT_TRUE(gamma.Close());
    EXPECT_FALSE(gamma.Process(buffer.data(), 1, 1));
    EXPECT_EQ(gamma.LutContrast()[255], 255);  // Close leaves the tables
}
