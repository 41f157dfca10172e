#include "imageprocess/CInterpolation.h"

#include <gtest/gtest.h>

#include <vector>

#include "imageprocess/CInterpolationKernels.h"
#include "sys/imageprocess/IpStageFrames.h"
#include "support/png_file.h"

using korval::tests::PaddedFrame;
using korval::tests::packedPixel;

namespace {

struct Demosaic {
    CInterpolation stage;
    explicit Demosaic(int w, int h, UCHAR smoothing = 0) { stage.Open(w + 4, h + 4, smoothing); }
    bool run(PaddedFrame& frame, UCHAR phase)
    {
        return stage.Process(frame.bayer.data(), frame.green.data(), frame.packed.data(), phase);
    }
    bool runReference(PaddedFrame& frame, UCHAR phase)
    {
        return stage.ProcessReference(frame.bayer.data(), frame.green.data(), frame.packed.data(), phase);
    }
};

// A 16 x 8 plane of 100s with one B site (phase 0) at image (4, 8) whose
// horizontal gradient exceeds its vertical one by `excess`.
PaddedFrame edgeCase(int excess)
{
    PaddedFrame frame(16, 8);
    std::fill(frame.bayer.begin(), frame.bayer.end(), 100);
    frame.at(4, 6) = static_cast<std::uint8_t>(100 + excess);  // P(0,-2)
    frame.at(3, 8) = 60;                                        // P(-1,0)
    frame.at(5, 8) = 61;                                        // P(+1,0)
    frame.at(4, 7) = 200;                                       // P(0,-1)
    frame.at(4, 9) = 201;                                       // P(0,+1)
    return frame;
}

} // namespace

TEST(CInterpolation, FlatGreyGivesTheSameGreyEverywhere)
{
    for (UCHAR phase = 0; phase < 4; ++phase) {
        PaddedFrame frame(32, 8);
        std::fill(frame.bayer.begin(), frame.bayer.end(), 117);
        Demosaic demosaic(32, 8);
        ASSERT_TRUE(demosaic.runReference(frame, phase));
        for (auto value : frame.green) {
            ASSERT_EQ(value, 117);  // Ga, and the filled frame too
        }
        for (auto value : frame.packed) {
            ASSERT_EQ(value, 117);
        }
    }
}

TEST(CInterpolation, EdgeThresholdOf40ChoosesBetweenVerticalAndAverage)
{
    Demosaic demosaic(16, 8);
    PaddedFrame above = edgeCase(41);  // |Dv - Dh| = 41, Dh > Dv: Gv = (60 + 61) >> 1
    ASSERT_TRUE(demosaic.runReference(above, 0));
    EXPECT_EQ(above.greenAt(4, 8), 60);
    PaddedFrame at = edgeCase(40);  // exactly 40: Ga = (60 + (200 + 201) / 2) / 2
    ASSERT_TRUE(demosaic.runReference(at, 0));
    EXPECT_EQ(at.greenAt(4, 8), (60 + 200) >> 1);
    PaddedFrame fast = edgeCase(41);
    ASSERT_TRUE(demosaic.run(fast, 0));
    EXPECT_EQ(fast.greenAt(4, 8), 60);
}

TEST(CInterpolation, ColourDifferencesAtEachSiteKind)
{
    // A flat coloured surface: B sites 40, G sites 100, R sites 200 (phase 0),
    // with one B site raised to 41 so that the floor of negative halves and
    // quarters shows.
    PaddedFrame frame(16, 8);
    for (int r = -2; r < 10; ++r) {
        for (int c = -2; c < 18; ++c) {
            int channel = korval::tests::bayerChannel(0, r & 3, c & 3);
            frame.at(r, c) = channel == 0 ? 40 : (channel == 1 ? 100 : 200);
        }
    }
    frame.at(4, 8) = 41;
    Demosaic demosaic(16, 8);
    ASSERT_TRUE(demosaic.runReference(frame, 0));
    int bgr[3];
    packedPixel(frame.packed, 16, 4, 8, bgr);  // B site: own 41, G = Ga = 100, R from diagonals
    EXPECT_EQ(bgr[0], 41);
    EXPECT_EQ(bgr[1], 100);
    EXPECT_EQ(bgr[2], 200);
    packedPixel(frame.packed, 16, 4, 9, bgr);  // G in a B row: B = 100 + ((41 + 40 - 200) >> 1) = 40
    EXPECT_EQ(bgr[0], 40);
    EXPECT_EQ(bgr[1], 100);
    EXPECT_EQ(bgr[2], 200);  // R = 100 + ((400 - 200) >> 1)
    packedPixel(frame.packed, 16, 5, 9, bgr);  // R site: B = 100 + ((161 - 400) >> 2) = 40, not 41
    EXPECT_EQ(bgr[0], 40);
    EXPECT_EQ(bgr[1], 100);
    EXPECT_EQ(bgr[2], 200);
    packedPixel(frame.packed, 16, 5, 8, bgr);  // G in an R row: B from up/down = 100 + (-119 >> 1)
    EXPECT_EQ(bgr[0], 40);
    EXPECT_EQ(bgr[2], 200);
}

TEST(CInterpolation, GreenFrameIsFilledByCopying)
{
    PaddedFrame frame = korval::tests::randomFrame(16, 6, 7);
    Demosaic demosaic(16, 6);
    ASSERT_TRUE(demosaic.run(frame, 0));
    auto g = [&](int r, int c) { return frame.greenAt(r, c); };
    for (int r = -2; r < 8; ++r) {
        int source = r < 0 ? r + 2 : (r >= 6 ? 5 : r);
        EXPECT_EQ(g(r, -2), g(source, 0));
        EXPECT_EQ(g(r, -1), g(source, 1));
        EXPECT_EQ(g(r, 16), g(source, 14));
        EXPECT_EQ(g(r, 17), g(source, 15));
        for (int c = 0; c < 16; ++c) {
            EXPECT_EQ(g(r, c), g(source, c));
        }
    }
}

TEST(CInterpolation, SmoothingAveragesGreenAndClearsTheFrame)
{
    PaddedFrame frame(16, 6);
    std::fill(frame.bayer.begin(), frame.bayer.end(), 80);
    Demosaic demosaic(16, 6, 1);
    ASSERT_TRUE(demosaic.run(frame, 0));
    EXPECT_EQ(frame.greenAt(-1, 0), 0);
    EXPECT_EQ(frame.greenAt(2, 17), 0);
    EXPECT_EQ(frame.greenAt(2, 5), 80);  // (16 x 80) >> 4
}

TEST(CInterpolation, RefusesBadCallsAndGeometries)
{
    PaddedFrame frame(16, 6);
    CInterpolation closed;
    EXPECT_FALSE(closed.Process(frame.bayer.data(), frame.green.data(), frame.packed.data(), 0));
    Demosaic demosaic(16, 6);
    EXPECT_FALSE(demosaic.stage.Process(nullptr, frame.green.data(), frame.packed.data(), 0));
    EXPECT_FALSE(demosaic.stage.Process(frame.bayer.data(), nullptr, frame.packed.data(), 0));
    EXPECT_FALSE(demosaic.stage.Process(frame.bayer.data(), frame.green.data(), nullptr, 0));
    EXPECT_FALSE(demosaic.run(frame, 4));
    EXPECT_FALSE(demosaic.stage.Close());  // the result is documented as false
    CInterpolation odd;
    odd.Open(12 + 4, 6 + 4, 0);  // 12 is not a whole number of 8-pixel groups
    EXPECT_FALSE(odd.Process(frame.bayer.data(), frame.green.data(), frame.packed.data(), 0));
    CInterpolation tiny;
    tiny.Open(2, 2, 0);  // smaller than its own frame
    EXPECT_FALSE(tiny.Process(frame.bayer.data(), frame.green.data(), frame.packed.data(), 0));
    EXPECT_EQ(CInterpolation().Threshold(), 40);
}

TEST(CInterpolation, FastMatchesReferenceOnFullFrames)
{
    using korval::tests::kCifHeight;
    using korval::tests::kCifWidth;
    for (UCHAR phase = 0; phase < 4; ++phase) {
        for (int kind = 0; kind < 2; ++kind) {
            PaddedFrame fast = kind == 0 ? korval::tests::randomFrame(kCifWidth, kCifHeight, 11 + phase)
                                         : korval::tests::naturalFrame(kCifWidth, kCifHeight, phase);
            PaddedFrame reference = fast;
            Demosaic demosaic(kCifWidth, kCifHeight);
            ASSERT_TRUE(demosaic.run(fast, phase));
            ASSERT_TRUE(demosaic.runReference(reference, phase));
            ASSERT_EQ(fast.green, reference.green) << "phase " << int(phase) << " kind " << kind;
            ASSERT_EQ(fast.packed, reference.packed) << "phase " << int(phase) << " kind " << kind;
        }
    }
}

TEST(CInterpolation, WidthsWithAPartialVectorStepMatchTheReference)
{
    for (int width : {8, 40, 72, 360}) {
        PaddedFrame fast = korval::tests::randomFrame(width, 10, 3 + width);
        PaddedFrame reference = fast;
        Demosaic demosaic(width, 10);
        ASSERT_TRUE(demosaic.run(fast, 1));
        ASSERT_TRUE(demosaic.runReference(reference, 1));
        EXPECT_EQ(fast.packed, reference.packed) << width;
    }
}

// Both 128-bit green passes, called directly: on the SSE2 path a processor
// with SSSE3 runs only the SSSE3 one.
TEST(CInterpolation, EveryGreenPassKernelMatchesTheReference)
{
    using GreenPass = void (*)(const UCHAR*, PUCHAR, ULONG, ULONG, UCHAR);
    const struct {
        const char* name;
        bool runs;
        GreenPass pass;
    } kernels[] = {{"SSE2", CpuHasSse2(), IpGreenPassSse2},
                   {"SSSE3", CpuHasSsse3(), IpGreenPassSsse3}};
    for (const auto& kernel : kernels) {
        if (!kernel.runs) {
            continue;
        }
        for (UCHAR phase = 0; phase < 4; ++phase) {
            for (int width : {40, 352}) {
                PaddedFrame fast = phase % 2 == 0 ? korval::tests::randomFrame(width, 20, 5 + phase)
                                                  : korval::tests::naturalFrame(width, 20, phase);
                PaddedFrame reference = fast;
                kernel.pass(fast.bayer.data(), fast.green.data(), width, 20, phase);
                IpGreenPassReference(reference.bayer.data(), reference.green.data(), width, 20, phase);
                ASSERT_EQ(fast.green, reference.green) << kernel.name << " phase " << int(phase) << " width " << width;
            }
        }
    }
}

TEST(CInterpolation, NaturalSceneLooksRight)
{
    using korval::tests::kCifHeight;
    using korval::tests::kCifWidth;
    PaddedFrame frame = korval::tests::naturalFrame(kCifWidth, kCifHeight, 0);
    Demosaic demosaic(kCifWidth, kCifHeight);
    ASSERT_TRUE(demosaic.run(frame, 0));
    std::vector<std::uint8_t> rgb(static_cast<size_t>(3) * kCifWidth * kCifHeight);
    int worst = 0;
    for (int r = 0; r < kCifHeight; ++r) {
        for (int k = 0; k < kCifWidth; ++k) {
            int bgr[3], scene[3];
            packedPixel(frame.packed, kCifWidth, r, k, bgr);
            korval::tests::sceneRgb(k, r, kCifWidth, kCifHeight, scene);
            for (int ch = 0; ch < 3; ++ch) {
                rgb[(static_cast<size_t>(r) * kCifWidth + k) * 3 + ch] = static_cast<std::uint8_t>(bgr[2 - ch]);
            }
            // Away from edges the demosaic reproduces a smooth scene closely.
            if (r > 4 && r < 80 && k > 4 && k < 100) {
                for (int ch = 0; ch < 3; ++ch) {
                    worst = std::max(worst, std::abs(bgr[2 - ch] - scene[ch]));
                }
            }
        }
    }
    korval::testing::writeRgbPng("cinterpolation_natural", kCifWidth, kCifHeight, rgb);
    EXPECT_LE(worst, 3);
}
