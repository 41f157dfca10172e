// Defect pixels: detection in flat neighbourhoods, the confidence map across
// frames, the frame-rate and exposure rules, correction by position class, and
// the sixteen-lane scan against the per-pixel scan.
#include "platform/CpuFeatures.h"
#include "imageprocess/CDefect.h"
#include "imageprocess/CDefectKernels.h"

#include "host/kernel/pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr ULONG kExposure = 5000;

struct DefectCase {
    int width;
    int height;
    CDefect defect;
    tagIpDefectBlock block{};
    Bytes bayer;

    DefectCase(int w, int h, std::uint8_t level, UCHAR cold = 20, UCHAR hot = 40)
        : width(w), height(h), bayer(static_cast<std::size_t>(w) * h, level)
    {
        EXPECT_TRUE(defect.Open(w, h, tagIpDefectParameters{cold, hot}));
    }
    std::uint8_t& at(int r, int c) { return bayer[static_cast<std::size_t>(r) * width + c]; }
    bool run(UCHAR frameRate = 30, ULONG exposure = kExposure)
    {
        return defect.Process(bayer.data(), frameRate, exposure, &block);
    }
};

TEST(CDefect, HotPixelIsListedAndCorrectedInTheSameCall)
{
    DefectCase test(16, 16, 100);
    test.at(8, 8) = 160;
    ASSERT_TRUE(test.run());
    EXPECT_EQ(test.at(8, 8), 100);
    EXPECT_EQ(test.defect.GetListedCount(8), 1u);
    EXPECT_EQ(test.defect.GetHotCount(8), 1u);
    EXPECT_EQ(test.defect.GetConfidence(8, 8), 1);
}

TEST(CDefect, ColdPixelAndMarginsAreStrict)
{
    DefectCase test(16, 16, 100, 20, 40);
    test.at(6, 7) = 79;   // 79 + 20 < 100: cold
    test.at(10, 4) = 140;  // 140 > 100 + 40 is false: not hot
    ASSERT_TRUE(test.run());
    EXPECT_EQ(test.at(6, 7), 100);
    EXPECT_EQ(test.at(10, 4), 140);
    EXPECT_EQ(test.defect.GetListedCount(6), 1u);
    EXPECT_EQ(test.defect.GetHotCount(6), 0u);
    EXPECT_EQ(test.defect.GetListedCount(10), 0u);
}

TEST(CDefect, RoughNeighbourhoodIsNotFlat)
{
    DefectCase test(16, 16, 100);
    test.at(8, 8) = 200;
    test.at(6, 6) = 125;  // up-left differs from up by 25: not flat
    ASSERT_TRUE(test.run());
    EXPECT_EQ(test.at(8, 8), 200);
    test.at(6, 6) = 124;  // a step of 24 is still flat
    ASSERT_TRUE(test.run());
    EXPECT_EQ(test.at(8, 8), (100 + 100 + 100 + 100) >> 2);
}

TEST(CDefect, EdgeAndCornerClassesUseTheirOwnNeighbours)
{
    DefectCase test(12, 10, 100);
    test.at(0, 0) = 250;  // class 1: down and right
    test.at(0, 6) = 250;  // class 2: left and right
    test.at(9, 11) = 250;  // class 9: up and left
    test.at(5, 10) = 250;  // class 6: up and down
    test.at(1, 6) = 60;   // give class-2 its own neighbours below, still flat
    test.at(7, 11) = 80;  // and class 9 an unequal up neighbour
    ASSERT_TRUE(test.run());
    EXPECT_EQ(test.at(0, 0), 100);
    EXPECT_EQ(test.at(0, 6), 100);
    EXPECT_EQ(test.at(9, 11), (80 + 100) >> 1);
    EXPECT_EQ(test.at(5, 10), 100);
}

TEST(CDefect, FrameRateSetsKeepThresholdCapAndScanSlice)
{
    DefectCase fast(16, 48, 100);
    ASSERT_TRUE(fast.run(30));
    EXPECT_EQ(fast.defect.GetKeepThreshold(), 4);
    EXPECT_EQ(fast.defect.GetConfidenceCap(), 16);

    DefectCase slow(16, 48, 100);
    ASSERT_TRUE(slow.run(10));  // new rate and exposure: the whole frame
    EXPECT_EQ(slow.defect.GetKeepThreshold(), 2);
    EXPECT_EQ(slow.defect.GetConfidenceCap(), 8);
    EXPECT_EQ(slow.defect.GetNextScanRow(), 0u);
    ASSERT_TRUE(slow.run(10));
    EXPECT_EQ(slow.defect.GetNextScanRow(), 48u / 6);
    ASSERT_TRUE(slow.run(10));
    EXPECT_EQ(slow.defect.GetNextScanRow(), 2 * 48u / 6);
    ASSERT_TRUE(slow.run(10, kExposure + 1));  // an exposure change rescans everything
    EXPECT_EQ(slow.defect.GetNextScanRow(), 2 * 48u / 6);
}

TEST(CDefect, ConfidenceCapsAtMAndFallsOnlyInMidTones)
{
    for (std::uint8_t level : {100, 50, 240}) {
        DefectCase test(16, 16, level, 20, 10);
        for (int frame = 0; frame < 20; ++frame) {
            test.at(8, 8) = level < 128 ? 255 : 0;  // stands out every frame
            ASSERT_TRUE(test.run(30));
        }
        EXPECT_EQ(test.defect.GetConfidence(8, 8), 16) << int(level);
        for (int frame = 0; frame < 12; ++frame) {
            test.at(8, 8) = level;  // no longer stands out
            ASSERT_TRUE(test.run(30));
        }
        const bool midTones = level > 70 && level < 230;
        EXPECT_EQ(test.defect.GetConfidence(8, 8), midTones ? 4 : 16) << int(level);
        EXPECT_EQ(test.defect.GetListedCount(8), 1u) << int(level);
        if (midTones) {
            ASSERT_TRUE(test.run(30));
            EXPECT_EQ(test.defect.GetConfidence(8, 8), 3);
            EXPECT_EQ(test.defect.GetListedCount(8), 0u);
        }
    }
}

TEST(CDefect, ListedPixelAtTheRightEdgeStaysInsideTheFrame)
{
    // The Bayer buffer is exactly the frame, so a read past its end would be caught.
    DefectCase test(8, 8, 100);
    test.at(7, 7) = 250;
    for (int frame = 0; frame < 6; ++frame) {
        ASSERT_TRUE(test.run(30));
        test.at(7, 7) = 250;
    }
    test.at(7, 7) = 120;  // still listed from confidence; hot/cold chosen against its left neighbour
    ASSERT_TRUE(test.run(30));
    EXPECT_EQ(test.defect.GetListedCount(7), 1u);
    EXPECT_EQ(test.defect.GetHotCount(7), 1u);
    EXPECT_EQ(test.at(7, 7), 100);
}

TEST(CDefect, LeavingLongExposureRemarksListedPixelsAndRescans)
{
    DefectCase test(16, 48, 100);
    test.at(20, 8) = 250;
    for (int frame = 0; frame < 10; ++frame) {
        ASSERT_TRUE(test.run(30, 20000));
        test.at(20, 8) = 250;
    }
    EXPECT_EQ(test.defect.GetConfidence(20, 8), 10);
    // Back to short exposure at 10 fps: confidence K = 2, then this call's scan raises it.
    ASSERT_TRUE(test.run(10, 9000));
    EXPECT_EQ(test.defect.GetConfidence(20, 8), 3);
    // That call was the first of 15 full scans; slices of h / 6 rows follow.
    const ULONG start = test.defect.GetNextScanRow();
    for (int frame = 0; frame < 14; ++frame) {
        ASSERT_TRUE(test.run(10, 9000));
    }
    EXPECT_EQ(test.defect.GetNextScanRow(), start);
    ASSERT_TRUE(test.run(10, 9000));
    EXPECT_EQ(test.defect.GetNextScanRow(), (start + 8) % 48);
}

TEST(CDefect, BadCallsAndPoolUse)
{
    korval::host::resetPoolCounters();
    {
        DefectCase test(16, 16, 100);
        EXPECT_FALSE(test.defect.Process(nullptr, 30, kExposure, &test.block));
        EXPECT_FALSE(test.defect.Process(test.bayer.data(), 30, kExposure, nullptr));
        tagIpDefectParameters parameters{};
        EXPECT_FALSE(test.defect.GetParameters(nullptr));
        ASSERT_TRUE(test.defect.GetParameters(&parameters));
        EXPECT_EQ(parameters.ucColdMargin, 20);
        EXPECT_EQ(parameters.ucHotMargin, 40);
        EXPECT_FALSE(test.defect.Open(16, 16, parameters));  // second Open closes and fails
        EXPECT_FALSE(test.run());
        EXPECT_EQ(korval::host::poolCounters(KORVAL_POOL_TAG).outstandingBlocks, 0u);
        EXPECT_TRUE(test.defect.Open(16, 16, parameters));
        EXPECT_EQ(korval::host::poolCounters(KORVAL_POOL_TAG).outstandingBlocks, 5u);
        const auto before = korval::host::poolCounters(KORVAL_POOL_TAG).allocations;
        ASSERT_TRUE(test.run());
        EXPECT_EQ(korval::host::poolCounters(KORVAL_POOL_TAG).allocations, before);
        EXPECT_TRUE(test.defect.Close());
    }
    korval::host::checkNoPoolLeaks(KORVAL_POOL_TAG);
    CDefect defect;
    EXPECT_FALSE(defect.Open(3, 16, tagIpDefectParameters{20, 20}));
    korval::host::failPoolAllocation(3);
    EXPECT_FALSE(defect.Open(16, 16, tagIpDefectParameters{20, 20}));
    korval::host::failPoolAllocation(0);
    korval::host::checkNoPoolLeaks(KORVAL_POOL_TAG);
    EXPECT_TRUE(defect.Open(16, 16, tagIpDefectParameters{20, 20}));
}

// A noisy scene with defects that come and go, frame after frame, at changing
// rates and exposures: the fast scan must keep exactly the reference state.
TEST(CDefect, FastScanMatchesPerPixelScanOverManyFrames)
{
    const int w = 352, h = 288;
    CDefect fast, reference;
    const tagIpDefectParameters parameters{20, 20};
    ASSERT_TRUE(fast.Open(w, h, parameters));
    ASSERT_TRUE(reference.Open(w, h, parameters));
    reference.UseReferenceScan(true);
    std::mt19937 random(11);
    tagIpDefectBlock block{};
    const UCHAR rates[] = {30, 30, 15, 10, 10, 5, 30};
    const ULONG exposures[] = {5000, 5000, 20000, 20000, 9000, 9000, 9000};
    for (int frame = 0; frame < 28; ++frame) {
        Bytes bayer(w * h);
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                const int base = (r < h / 3) ? 40 : (r < 2 * h / 3 ? 120 : 235);
                bayer[r * w + c] = static_cast<std::uint8_t>(base + (c / 40) * 2 + random() % 12);
            }
        }
        for (int k = 0; k < 400; ++k) {
            const int position = (k * 7919 + (frame % 3) * 13) % (w * h);
            bayer[position] = static_cast<std::uint8_t>(k % 2 ? 255 : 0);
        }
        Bytes copy = bayer;
        ASSERT_TRUE(fast.Process(bayer.data(), rates[frame % 7], exposures[frame / 4], &block));
        ASSERT_TRUE(reference.Process(copy.data(), rates[frame % 7], exposures[frame / 4], &block));
        ASSERT_EQ(bayer, copy) << "frame " << frame;
        for (int r = 0; r < h; ++r) {
            ASSERT_EQ(fast.GetListedCount(r), reference.GetListedCount(r));
            ASSERT_EQ(fast.GetHotCount(r), reference.GetHotCount(r));
        }
    }
}

// Small and odd frames, random margins, rates and exposures: the fast scan
// keeps the reference state and nothing reads outside the frame.
TEST(CDefect, SmallFramesAndRandomSettingsStayExact)
{
    std::mt19937 random(23);
    for (int round = 0; round < 60; ++round) {
        const int w = 4 + static_cast<int>(random() % 60);
        const int h = 4 + static_cast<int>(random() % 20);
        const tagIpDefectParameters parameters{static_cast<UCHAR>(random() % 80), static_cast<UCHAR>(random() % 80)};
        CDefect fast, reference;
        ASSERT_TRUE(fast.Open(w, h, parameters));
        ASSERT_TRUE(reference.Open(w, h, parameters));
        reference.UseReferenceScan(true);
        tagIpDefectBlock block{};
        for (int frame = 0; frame < 8; ++frame) {
            Bytes bayer(static_cast<std::size_t>(w) * h);
            const int base = static_cast<int>(random() % 256);
            for (auto& b : bayer) {
                b = static_cast<std::uint8_t>(random() % 5 == 0 ? random() : std::clamp(base + int(random() % 9) - 4, 0, 255));
            }
            Bytes copy = bayer;
            const UCHAR rate = static_cast<UCHAR>(random() % 4 == 0 ? random() : 30);
            const ULONG exposure = random() % 2 ? 5000 : 20000;
            ASSERT_TRUE(fast.Process(bayer.data(), rate, exposure, &block));
            ASSERT_TRUE(reference.Process(copy.data(), rate, exposure, &block));
            ASSERT_EQ(bayer, copy) << w << "x" << h << " frame " << frame;
        }
    }
}

TEST(CDefect, PreFiltersAgreeLaneForLane)
{
    if (!CpuHasAvx2()) {
        GTEST_SKIP() << "no AVX2";
    }
    const int w = 64, h = 8;
    std::mt19937 random(17);
    for (int round = 0; round < 2000; ++round) {
        Bytes bayer(w * h), confidence(w * h);
        const int base = static_cast<int>(random() % 256);
        for (auto& b : bayer) {
            b = static_cast<std::uint8_t>(std::clamp(base + static_cast<int>(random() % 40) - 20, 0, 255));
        }
        for (int k = 0; k < 4; ++k) {
            bayer[random() % (w * h)] = static_cast<std::uint8_t>(random());
            confidence[random() % (w * h)] = 1;
        }
        const tagDefectThresholds thresholds = {25, static_cast<UCHAR>(random() % 60),
                                                static_cast<UCHAR>(random() % 60)};
        const int offset = 4 * w + 2;
        const unsigned wide = DefectActiveLanesAvx2(&bayer[offset], &confidence[offset], w, thresholds);
        const unsigned low = DefectActiveLanesSse2(&bayer[offset], &confidence[offset], w, thresholds);
        const unsigned high = DefectActiveLanesSse2(&bayer[offset + 16], &confidence[offset + 16], w, thresholds);
        ASSERT_EQ(wide, low | high << 16) << round;
        // The row-only test must keep every lane the ring test keeps.
        const unsigned candidates = DefectCandidateLanesAvx2(&bayer[offset], &confidence[offset], thresholds);
        ASSERT_EQ(candidates, DefectCandidateLanesSse2(&bayer[offset], &confidence[offset], thresholds) |
                                  DefectCandidateLanesSse2(&bayer[offset + 16], &confidence[offset + 16], thresholds)
                                      << 16) << round;
        ASSERT_EQ(wide & ~candidates, 0u) << round;
    }
}

} // namespace
