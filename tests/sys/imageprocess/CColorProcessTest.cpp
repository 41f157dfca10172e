#include "imageprocess/CColorProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "imageprocess/CInterpolation.h"
#include "imageprocess/CInterpolationKernels.h"
#include "imageprocess/CRearrange.h"
#include "sys/imageprocess/IpStageFrames.h"
#include "platform/CpuFeatures.h"

using korval::tests::kCifHeight;
using korval::tests::kCifWidth;
using korval::tests::PaddedFrame;

namespace {

tagIpColorParameters identitySettings()
{
    return tagIpColorParameters{{128, 128, 128}, 0, 100, {3000, 2000, 2000, 2000, 3000, 2000, 2000, 2000, 3000}};
}

tagIpColorParameters defaultSettings()
{
    return tagIpColorParameters{{100, 100, 100}, 0, 160, {3000, 2000, 2000, 2000, 3000, 2000, 2000, 2000, 3000}};
}

bool runColour(CColorProcess& stage, PaddedFrame& frame, UCHAR phase, bool reference)
{
    return reference ? stage.ProcessReference(frame.bayer.data(), frame.green.data(), frame.packed.data(), phase)
                     : stage.Process(frame.bayer.data(), frame.green.data(), frame.packed.data(), phase);
}

} // namespace

TEST(CColorProcess, IdentitySettingsGiveANearIdentityComposite)
{
    CColorProcess stage;
    ASSERT_TRUE(stage.Open(16, 4, 0, identitySettings()));
    // Inv x Fwd: the green row is 0.299 + 0.194 x 0.299 - 0.509 x 0.701 = 0.000197,
    // 0.587 x (1 + 0.194 + 0.509) = 0.999661 and 0.114 - 0.194 x 0.886 + 0.509 x 0.114 = 0.000142.
    const SHORT expected[9] = {8192, 0, 0, 1, 8189, 1, 0, 0, 8192};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(stage.CompositeCoefficients()[i], expected[i]) << i;
    }
    EXPECT_NE(stage.CompositeMatrix()[4], 1.0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(stage.GainWords()[i], 128 * 64);
    }
}

TEST(CColorProcess, OnlyMatrixHueOrSaturationChangesRebuildTheComposite)
{
    CColorProcess stage;
    ASSERT_TRUE(stage.Open(16, 4, 0, defaultSettings()));
    ULONG builds = stage.CompositeBuilds();
    tagIpColorParameters settings = defaultSettings();
    settings.usGain[0] = 300;
    settings.usGain[2] = 90;
    ASSERT_TRUE(stage.SetParameters(settings));
    EXPECT_EQ(stage.CompositeBuilds(), builds);  // gains alone
    EXPECT_EQ(stage.GainWords()[0], 300 * 64);
    EXPECT_EQ(stage.GainWords()[2], 90 * 64);
    ASSERT_TRUE(stage.SetParameters(settings));
    EXPECT_EQ(stage.CompositeBuilds(), builds);  // nothing changed
    settings.usHue = 10;
    ASSERT_TRUE(stage.SetParameters(settings));
    EXPECT_EQ(stage.CompositeBuilds(), builds + 1);
    settings.usMatrix[1] = 2100;
    ASSERT_TRUE(stage.SetParameters(settings));
    EXPECT_EQ(stage.CompositeBuilds(), builds + 2);
    tagIpColorParameters readBack{};
    ASSERT_TRUE(stage.GetParameters(&readBack));
    EXPECT_EQ(readBack.usMatrix[1], 2100);
    EXPECT_EQ(readBack.usGain[0], 300);
    EXPECT_FALSE(stage.GetParameters(nullptr));
}

TEST(CColorProcess, FirstSettingsAlwaysBuildTheUserMatrix)
{
    // The constructor's marker words (m4 = 2000) must not leave the identity in force.
    tagIpColorParameters settings = identitySettings();
    settings.usMatrix[4] = 2000;  // green row of the user matrix all zero
    CColorProcess stage;
    ASSERT_TRUE(stage.Open(16, 4, 0, settings));
    EXPECT_EQ(stage.CompositeCoefficients()[4], 0);
}

TEST(CColorProcess, SaturationZeroKeepsOnlyLuma)
{
    // Hs = diag(1, 0, 0), so Inv x Hs x Fwd is Inv's first column times Fwd's luma row.
    tagIpColorParameters settings = identitySettings();
    settings.usSaturation = 0;
    CColorProcess stage;
    ASSERT_TRUE(stage.Open(16, 4, 0, settings));
    // Every output row is Fwd's luma row: 0.299, 0.587, 0.114.
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(stage.CompositeCoefficients()[row * 3 + 0], 2449);  // trunc(0.299 x 8192)
        EXPECT_EQ(stage.CompositeCoefficients()[row * 3 + 1], 4808);  // trunc(0.587 x 8192)
        EXPECT_EQ(stage.CompositeCoefficients()[row * 3 + 2], 933);   // trunc(0.114 x 8192)
    }
}

TEST(CColorProcess, GainStepSaturates)
{
    EXPECT_EQ(IpGainStep(100, 128 * 64), 100 * 64);    // 1.0
    EXPECT_EQ(IpGainStep(100, 256 * 64), 200 * 64);    // 2.0, still in range
    EXPECT_EQ(IpGainStep(255, 511 * 64), 16383);       // 8 x 8144 held at 16383
    EXPECT_EQ(IpGainStep(200, 256 * 64), 16383);
    // An overshoot of 400 at gain 328/128: t = 8200, and 8t = 65600 would wrap
    // to 64 (nearly black) in 16 bits; it saturates instead.
    EXPECT_EQ(IpGainStep(400, 328 * 64), 16383);
    EXPECT_EQ(IpGainStep(0, 511 * 64), 0);
}

TEST(CColorProcess, GainWordsAbove511AreHeldAt511)
{
    tagIpColorParameters settings = identitySettings();
    settings.usGain[1] = 600;
    CColorProcess stage;
    ASSERT_TRUE(stage.Open(16, 4, 0, settings));
    EXPECT_EQ(stage.GainWords()[1], 511 * 64);
}

TEST(CColorProcess, AgreesWithThePlainDemosaicForIdentitySettingsUpToRounding)
{
    PaddedFrame colour = korval::tests::naturalFrame(kCifWidth, kCifHeight, 0);
    PaddedFrame plain = colour;
    CColorProcess stage;
    ASSERT_TRUE(stage.Open(kCifWidth, kCifHeight, 0, identitySettings()));
    ASSERT_TRUE(runColour(stage, colour, 0, false));
    CInterpolation interpolation;
    interpolation.Open(kCifWidth + 4, kCifHeight + 4, 0);
    ASSERT_TRUE(interpolation.Process(plain.bayer.data(), plain.green.data(), plain.packed.data(), 0));
    // c4 = 8189 takes green 1 lower wherever it is not 0; red and blue are exact.
    int greenDifferences = 0;
    for (int r = 0; r < kCifHeight; ++r) {
        for (int k = 0; k < kCifWidth; ++k) {
            int a[3], b[3];
            korval::tests::packedPixel(colour.packed, kCifWidth, r, k, a);
            korval::tests::packedPixel(plain.packed, kCifWidth, r, k, b);
            ASSERT_EQ(a[0], b[0]);
            ASSERT_EQ(a[2], b[2]);
            ASSERT_EQ(a[1], b[1] > 0 ? b[1] - 1 : 0);
            greenDifferences += a[1] != b[1];
        }
    }
    EXPECT_GT(greenDifferences, kCifWidth * kCifHeight / 2);
}

TEST(CColorProcess, PhasesTwoAndThreeExchangeRedAndBlue)
{
    // A flat surface of B 40, G 100, R 200 comes out the same in every phase.
    for (UCHAR phase = 0; phase < 4; ++phase) {
        PaddedFrame frame(16, 4);
        for (int r = -2; r < 6; ++r) {
            for (int c = -2; c < 18; ++c) {
                int channel = korval::tests::bayerChannel(phase, r & 3, c & 3);
                frame.at(r, c) = channel == 0 ? 40 : (channel == 1 ? 100 : 200);
            }
        }
        CColorProcess stage;
        ASSERT_TRUE(stage.Open(16, 4, 0, identitySettings()));
        ASSERT_TRUE(runColour(stage, frame, phase, false));
        for (int r = 0; r < 4; ++r) {
            for (int k = 0; k < 16; ++k) {
                int bgr[3];
                korval::tests::packedPixel(frame.packed, 16, r, k, bgr);
                ASSERT_EQ(bgr[0], 40) << int(phase);
                ASSERT_EQ(bgr[1], 99) << int(phase);
                ASSERT_EQ(bgr[2], 200) << int(phase);
            }
        }
    }
}

TEST(CColorProcess, RefusesBadCalls)
{
    PaddedFrame frame(16, 4);
    CColorProcess stage;
    EXPECT_FALSE(runColour(stage, frame, 0, false));  // not open
    EXPECT_FALSE(stage.Open(12, 4, 0, identitySettings()));
    EXPECT_FALSE(stage.Open(16, 3, 0, identitySettings()));
    ASSERT_TRUE(stage.Open(16, 4, 0, identitySettings()));
    EXPECT_FALSE(stage.Open(16, 4, 0, identitySettings()));
    EXPECT_FALSE(stage.Process(nullptr, frame.green.data(), frame.packed.data()));
    EXPECT_FALSE(stage.Process(frame.bayer.data(), nullptr, frame.packed.data()));
    EXPECT_FALSE(stage.Process(frame.bayer.data(), frame.green.data(), nullptr));
    EXPECT_FALSE(runColour(stage, frame, 4, false));
    EXPECT_TRUE(stage.Close());
    EXPECT_FALSE(runColour(stage, frame, 0, false));
}

TEST(CColorProcess, FastMatchesReferenceOnFullFrames)
{
    std::mt19937 generator(5);
    tagIpColorParameters strong{{511, 260, 40}, 75, 200, {3500, 1600, 2300, 1900, 2800, 2100, 2400, 1500, 3900}};
    tagIpColorParameters extreme{{65535, 0, 511}, 300, 999, {65535, 0, 2000, 2000, 65535, 0, 0, 2000, 40000}};
    for (const tagIpColorParameters& settings : {defaultSettings(), strong, extreme}) {
        for (UCHAR phase = 0; phase < 4; ++phase) {
            for (int kind = 0; kind < 2; ++kind) {
                PaddedFrame fast = kind == 0 ? korval::tests::randomFrame(kCifWidth, kCifHeight, generator())
                                             : korval::tests::naturalFrame(kCifWidth, kCifHeight, phase);
                PaddedFrame reference = fast;
                CColorProcess stage;
                ASSERT_TRUE(stage.Open(kCifWidth, kCifHeight, 0, settings));
                ASSERT_TRUE(runColour(stage, fast, phase, false));
                ASSERT_TRUE(runColour(stage, reference, phase, true));
                ASSERT_EQ(fast.green, reference.green);
                ASSERT_EQ(fast.packed, reference.packed) << "phase " << int(phase) << " kind " << kind;
            }
        }
    }
}

// Both demosaics asked for BGR24 rows: on a processor with SSSE3 (SSE2 or AVX2
// path) the colour pass writes them itself, with their green plane, elsewhere
// the packed groups are rearranged; either way the rows are the reference's
// packed groups rearranged.
TEST(CColorProcess, RowsWrittenDirectlyMatchTheReferenceRearranged)
{
    const tagIpColorParameters strong{{511, 260, 40}, 75, 200, {3500, 1600, 2300, 1900, 2800, 2100, 2400, 1500, 3900}};
    // The SSE2 path and the one this run is on (KORVAL_CPU_PATH may have lowered it).
    const CPU_PATH before = CpuCurrentPath();
    struct RestorePath {
        CPU_PATH path;
        ~RestorePath() { CpuFeaturesLimit(path); }
    } restore{before};
    for (CPU_PATH path : {before < CpuPathSse2 ? before : CpuPathSse2, before}) {
        CpuFeaturesLimit(path);
        const bool direct = CpuHasSsse3();
        // Widths with 0 to 3 groups past the last 32-pixel step.
        for (int width : {352, 176, 56, 40, 8}) {
            for (UCHAR phase = 0; phase < 4; ++phase) {
                for (bool colour : {true, false}) {
                    for (UCHAR mirror = 0; mirror < 3; ++mirror) {
                        for (UCHAR flip = 0; flip < 2; ++flip) {
                            PaddedFrame fast = korval::tests::randomFrame(width, 12, 40 + width + phase);
                            PaddedFrame reference = fast;
                            std::vector<std::uint8_t> rows(fast.packed.size(), 1), expected(fast.packed.size(), 2);
                            std::vector<std::uint8_t> green(fast.packed.size() / 3, 3);
                            tagIpImageRows target{rows.data(), green.data(), mirror, flip, FALSE};
                            CColorProcess colourStage;
                            CInterpolation plainStage;
                            ASSERT_TRUE(colourStage.Open(width, 12, 0, strong));
                            ASSERT_TRUE(plainStage.Open(width + 4, 16, 0));
                            if (colour) {
                                ASSERT_TRUE(colourStage.Process(fast.bayer.data(), fast.green.data(),
                                                                fast.packed.data(), phase, &target));
                                ASSERT_TRUE(runColour(colourStage, reference, phase, true));
                            } else {
                                ASSERT_TRUE(plainStage.Process(fast.bayer.data(), fast.green.data(),
                                                               fast.packed.data(), phase, &target));
                                ASSERT_TRUE(plainStage.ProcessReference(reference.bayer.data(), reference.green.data(),
                                                                        reference.packed.data(), phase));
                            }
                            if (!target.bWritten) {
                                CRearrange fastRearrange;
                                ASSERT_TRUE(fastRearrange.Open(width, 12));
                                ASSERT_TRUE(fastRearrange.Process_4B4G4R(fast.packed.data(), rows.data(), mirror, flip));
                            }
                            CRearrange rearrange;
                            ASSERT_TRUE(rearrange.Open(width, 12));
                            ASSERT_TRUE(rearrange.Process_4B4G4RReference(reference.packed.data(), expected.data(),
                                                                          mirror, flip));
                            EXPECT_EQ(bool(target.bWritten), direct) << path;
                            for (size_t i = 0; target.bWritten && i < green.size(); ++i) {
                                ASSERT_EQ(green[i], expected[3 * i + 1]) << "green plane " << i;
                            }
                            ASSERT_EQ(rows, expected) << "path " << path << " width " << width << " phase "
                                                      << int(phase) << " colour " << colour << " mirror "
                                                      << int(mirror) << " flip " << int(flip);
                        }
                    }
                }
            }
        }
    }
}
