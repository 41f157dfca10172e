#include "imageprocess/CAwb.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <utility>
#include <vector>

#include "imageprocess/CAwbKernels.h"
#include "platform/CpuFeatures.h"
#include "sys/imageprocess/IpStageFrames.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 64;  // 16 x 16 blocks

tagIpAwbParameters settings(UCHAR speed, USHORT maxGain = 256, USHORT minGain = 128)
{
    return tagIpAwbParameters{speed, 235, 90, 35, 35, 20, maxGain, minGain};
}

// A uniform surface through a phase: R 100, G 120, B 90 is near-grey for the
// sensor (R x 10/8 and B x 11/8 are close to G), so every block counts.
std::vector<std::uint8_t> surface(int phase, int red = 100, int green = 120, int blue = 90)
{
    std::vector<std::uint8_t> bayer(kWidth * kHeight);
    for (int r = 0; r < kHeight; ++r) {
        for (int c = 0; c < kWidth; ++c) {
            int channel = korval::tests::bayerChannel(phase, r, c);
            bayer[r * kWidth + c] = static_cast<std::uint8_t>(channel == 0 ? blue : (channel == 1 ? green : red));
        }
    }
    return bayer;
}

struct Result {
    std::array<UCHAR, 3> index;
    std::array<USHORT, 3> gain;
};

struct Awb {
    CAwb stage;
    explicit Awb(tagIpAwbParameters parameters, UCHAR phase = 0) { EXPECT_TRUE(stage.Open(kWidth, kHeight, phase, 0, parameters)); }
    Result run(const std::vector<std::uint8_t>& bayer, std::array<UCHAR, 3> index = {0, 0, 0},
               std::array<USHORT, 3> gain = {128, 128, 128})
    {
        Result result{{9, 9, 9}, {9, 9, 9}};
        EXPECT_TRUE(stage.Process(bayer.data(), index.data(), gain.data(), result.index.data(), result.gain.data()));
        return result;
    }
};

} // namespace

TEST(CAwb, MeasuresOnTheFirstCallAndThenOnEveryFourth)
{
    Awb awb(settings(20));
    auto grey = surface(0);
    std::array<USHORT, 3> input{128, 128, 128};
    // Indices 1, 2, 3 fold into the ratios: relR = 1.125 / 1.25 = 0.9, relB = 1.1;
    // then relR = 0.9 + (1.2 x 0.9 - 0.9) x 0.2 = 0.936 (below 1.0: 128) and
    // relB = 1.1 + (120/90 x 1.1 - 1.1) x 0.2 = 1.1733 -> 150.
    Result first = awb.run(grey, {1, 2, 3}, input);
    EXPECT_EQ(first.gain, (std::array<USHORT, 3>{128, 128, 150}));
    EXPECT_EQ(first.index, (std::array<UCHAR, 3>{0, 0, 0}));
    for (int call = 0; call < 3; ++call) {
        Result passed = awb.run(grey, {1, 2, 3}, input);
        EXPECT_EQ(passed.gain, input);
        EXPECT_EQ(passed.index, (std::array<UCHAR, 3>{1, 2, 3}));
    }
    // relR: 1 + (120/100 - 1) x 0.2 = 1.04 -> 133; relB: 1 + (120/90 - 1) x 0.2 -> 136.
    EXPECT_EQ(awb.run(grey, {0, 0, 0}, input).gain, (std::array<USHORT, 3>{133, 128, 136}));
    EXPECT_EQ(awb.run(grey, {0, 0, 0}, input).gain, input);
}

TEST(CAwb, SpeedSetsTheShareOfTheCorrection)
{
    auto grey = surface(0);
    EXPECT_EQ(Awb(settings(100, 512)).run(grey).gain, (std::array<USHORT, 3>{153, 128, 170}));  // 1.2, 1.333
    EXPECT_EQ(Awb(settings(0, 512)).run(grey, {0, 0, 0}, {150, 128, 140}).gain,
              (std::array<USHORT, 3>{150, 128, 140}));
    // Under five steps short of the balance (R 153.6, B 170.7) a rising gain still takes one step, and no more.
    EXPECT_EQ(Awb(settings(20)).run(grey, {0, 0, 0}, {150, 128, 170}).gain, (std::array<USHORT, 3>{151, 128, 170}));
}

TEST(CAwb, TooFewGreySamplesOnlyApplyTheLimits)
{
    std::vector<std::uint8_t> dark(kWidth * kHeight, 10);  // luma below 90: nothing counts
    EXPECT_EQ(Awb(settings(50, 256, 64)).run(dark).gain, (std::array<USHORT, 3>{128, 128, 128}));
    // Index R = 8 doubles red: relR = 2.0 x 1 / 1 -> 256 before the limits.
    EXPECT_EQ(Awb(settings(50, 512, 64)).run(dark, {8, 0, 0}).gain, (std::array<USHORT, 3>{256, 128, 128}));
    EXPECT_EQ(Awb(settings(50, 200, 64)).run(dark, {8, 0, 0}).gain, (std::array<USHORT, 3>{200, 128, 128}));
    // Green index 8 halves both: 0.5 is below the minimum of 1.0.
    EXPECT_EQ(Awb(settings(50, 256, 128)).run(dark, {0, 8, 0}).gain, (std::array<USHORT, 3>{128, 128, 128}));
    EXPECT_EQ(Awb(settings(50, 256, 32)).run(dark, {0, 8, 0}).gain, (std::array<USHORT, 3>{64, 128, 64}));
}

TEST(CAwb, LimitsHoldTheMeasuredGains)
{
    auto grey = surface(0);
    EXPECT_EQ(Awb(settings(100, 140)).run(grey).gain, (std::array<USHORT, 3>{140, 128, 140}));
    auto reddish = surface(0, 140, 120, 90);  // still near-grey: relR = 120/140 below 1.0
    Result held = Awb(tagIpAwbParameters{100, 235, 90, 35, 35, 35, 512, 128}).run(reddish);
    EXPECT_EQ(held.gain[0], 128);
}

TEST(CAwb, UpperLumaBelowLowerLumaRejectsEverySample)
{
    tagIpAwbParameters inverted{100, 80, 90, 35, 35, 20, 512, 64};
    EXPECT_EQ(Awb(inverted).run(surface(0)).gain, (std::array<USHORT, 3>{128, 128, 128}));
}

TEST(CAwb, EveryPhaseSamplesItsOwnSites)
{
    for (UCHAR phase = 0; phase < 4; ++phase) {
        EXPECT_EQ(Awb(settings(100, 512), phase).run(surface(phase)).gain, (std::array<USHORT, 3>{153, 128, 170}))
            << int(phase);
    }
}

TEST(CAwb, ZeroGreenGainStaysWithinTheLimits)
{
    // Ratios over a green gain of 0 are infinite or not a number; they end at a limit.
    Result result = Awb(settings(100, 300, 100)).run(surface(0), {0, 0, 0}, {0, 0, 128});
    EXPECT_EQ(result.gain[0], 100);
    EXPECT_EQ(result.gain[2], 300);
}

TEST(CAwb, RefusesBadCallsAndKeepsSettings)
{
    auto grey = surface(0);
    std::array<UCHAR, 3> index{};
    std::array<USHORT, 3> gain{128, 128, 128};
    CAwb stage;
    EXPECT_FALSE(stage.Process(grey.data(), index.data(), gain.data(), index.data(), gain.data()));
    ASSERT_TRUE(stage.Open(kWidth, kHeight, 4, 0, settings(20)));
    EXPECT_FALSE(stage.Open(kWidth, kHeight, 0, 0, settings(20)));
    EXPECT_FALSE(stage.Process(nullptr, index.data(), gain.data(), index.data(), gain.data()));
    EXPECT_FALSE(stage.Process(grey.data(), index.data(), gain.data(), nullptr, gain.data()));
    EXPECT_FALSE(stage.Process(grey.data(), index.data(), gain.data(), index.data(), gain.data()));  // phase 4 measures
    EXPECT_TRUE(stage.Process(grey.data(), index.data(), gain.data(), index.data(), gain.data()));   // passes through
    tagIpAwbParameters changed = settings(70, 300, 90);
    EXPECT_TRUE(stage.SetParameters(changed));
    tagIpAwbParameters readBack{};
    EXPECT_TRUE(stage.GetParameters(&readBack));
    EXPECT_EQ(readBack.ucSpeed, 70);
    EXPECT_EQ(readBack.usMaxGain, 300);
    EXPECT_FALSE(stage.GetParameters(nullptr));
    EXPECT_TRUE(stage.Close());
    EXPECT_FALSE(stage.Process(grey.data(), index.data(), gain.data(), index.data(), gain.data()));
}

namespace {

// The vector grey sums this processor runs, each compared with the plain loop.
using GreySums = void (*)(const UCHAR*, const tagAwbSampling&, double*);
std::vector<std::pair<const char*, GreySums>> greySumKernels()
{
    std::vector<std::pair<const char*, GreySums>> kernels;
    if (CpuHasSse2()) {
        kernels.emplace_back("SSE2", AwbSumGreySse2);
    }
    if (kAvx2Compiled && CpuHasAvx2()) {
        kernels.emplace_back("AVX2", AwbSumGreyAvx2);
    }
    return kernels;
}

} // namespace

TEST(CAwb, FastSumsMatchTheReferenceOnFullFrames)
{
    using korval::tests::kCifHeight;
    using korval::tests::kCifWidth;
    std::mt19937 generator(17);
    for (int kind = 0; kind < 2; ++kind) {
        auto padded = kind == 0 ? korval::tests::randomFrame(kCifWidth, kCifHeight, 5)
                                : korval::tests::naturalFrame(kCifWidth, kCifHeight, 0);
        std::vector<std::uint8_t> bayer(kCifWidth * kCifHeight);
        for (int r = 0; r < kCifHeight; ++r) {
            for (int c = 0; c < kCifWidth; ++c) {
                bayer[r * kCifWidth + c] = padded.at(r, c);
            }
        }
        for (int trial = 0; trial < 20; ++trial) {
            ULONG width = trial % 2 == 0 ? kCifWidth : kCifWidth - 8;  // 86 blocks: a scalar tail
            tagAwbSampling sampling{width, kCifHeight / 4, width / 4, width + 1, 1, 0,
                                    1.0 + (generator() % 100) / 50.0, 1.0 + (generator() % 100) / 50.0,
                                    {(generator() % 512) / 128.0, (generator() % 512) / 128.0, (generator() % 512) / 128.0},
                                    double(generator() % 256), double(generator() % 128), double(generator() % 256),
                                    double(generator() % 256), double(generator() % 256)};
            double reference[3] = {0, 0, 0};
            AwbSumGreyReference(bayer.data(), sampling, reference);
            for (const auto& [name, kernel] : greySumKernels()) {
                double fast[3] = {0, 0, 0};
                kernel(bayer.data(), sampling, fast);
                for (int ch = 0; ch < 3; ++ch) {
                    ASSERT_EQ(fast[ch], reference[ch]) << name << " " << kind << " " << trial << " " << ch;
                }
            }
        }
        Awb fastStage(settings(60, 400, 64)), referenceStage(settings(60, 400, 64));
        std::array<UCHAR, 3> index{2, 1, 3}, nextFast{}, nextReference{};
        std::array<USHORT, 3> gain{150, 120, 170}, gainFast{}, gainReference{};
        ASSERT_TRUE(fastStage.stage.Process(bayer.data(), index.data(), gain.data(), nextFast.data(), gainFast.data()));
        ASSERT_TRUE(referenceStage.stage.ProcessReference(bayer.data(), index.data(), gain.data(), nextReference.data(),
                                                          gainReference.data()));
        EXPECT_EQ(gainFast, gainReference);
    }
}

// Grey blocks sit exactly on the limits: with unit factors U and V of a grey
// sample are zero up to the rounding of the double formulas, and its luma is
// its level up to the same rounding, so only the double-precision sums decide
// whether it counts. The fast sums must decide every block the same way.
TEST(CAwb, FastSumsDecideSamplesOnTheLimitsAsTheReferenceDoes)
{
    constexpr ULONG kGreyWidth = 352, kGreyHeight = 64;  // 88 x 16 blocks
    std::vector<std::uint8_t> bayer(kGreyWidth * kGreyHeight);
    for (ULONG r = 0; r < kGreyHeight; ++r) {
        for (ULONG c = 0; c < kGreyWidth; ++c) {
            bayer[r * kGreyWidth + c] = static_cast<std::uint8_t>(((r / 4) * 88 + c / 4) * 7 % 256);
        }
    }
    for (int level : {0, 1, 7, 49, 100, 128, 200, 235, 254, 255}) {
        for (double colourLimit : {0.0, 1.0, 255.0}) {
            tagAwbSampling sampling{kGreyWidth, kGreyHeight / 4, kGreyWidth / 4, kGreyWidth + 1, 1, 0, 1.0, 1.0,
                                    {1.0, 1.5, 2.0}, double(level), double(level > 0 ? level - 1 : 0),
                                    colourLimit, colourLimit, colourLimit};
            double reference[3] = {0, 0, 0};
            AwbSumGreyReference(bayer.data(), sampling, reference);
            for (const auto& [name, kernel] : greySumKernels()) {
                double fast[3] = {0, 0, 0};
                kernel(bayer.data(), sampling, fast);
                for (int ch = 0; ch < 3; ++ch) {
                    ASSERT_EQ(fast[ch], reference[ch]) << name << " " << level << " " << colourLimit << " " << ch;
                }
            }
        }
    }
}
