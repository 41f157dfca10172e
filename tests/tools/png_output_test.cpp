#include "tools/korval/png_output.h"

#include "control/I420ToBgr.h"
#include "runtime/FloatingPointState.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace korval::tools;

TEST(PngOutputTest, BottomUpBgrBecomesTopDownRgb)
{
    // 2 × 2, stored bottom row first: bottom (1,2,3)(4,5,6), top (7,8,9)(10,11,12) as B G R.
    const std::vector<std::uint8_t> bgr = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(rgbFromBottomUpBgr(bgr, 2, 2), (std::vector<std::uint8_t>{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));
    EXPECT_TRUE(rgbFromBottomUpBgr(std::vector<std::uint8_t>(11), 2, 2).empty()) << "short frame refused";
}

TEST(PngOutputTest, I420GreyStaysGreyAndTopRowStaysOnTop)
{
    // 2 × 2: top row luma 16, bottom row 235, neutral chroma.
    const std::vector<std::uint8_t> i420 = {16, 16, 235, 235, 128, 128};
    EXPECT_EQ(rgbFromI420(i420, 2, 2),
              (std::vector<std::uint8_t>{16, 16, 16, 16, 16, 16, 235, 235, 235, 235, 235, 235}));
    EXPECT_TRUE(rgbFromI420(std::vector<std::uint8_t>(5), 2, 2).empty());
}

TEST(PngOutputTest, I420ColoursAreTheStillFilesAtEverySize)
{
    std::uint32_t seed = 12345;
    for (const auto& [width, height] : {std::pair{1, 1}, {1, 4}, {5, 1}, {3, 5}, {17, 3}, {33, 18}, {352, 288}}) {
        std::vector<std::uint8_t> i420(I420FrameBytes(ULONG(width), ULONG(height)));
        for (std::uint8_t& byte : i420) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<std::uint8_t>(seed >> 24);
        }
        std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
        {
            CFloatingPointState floatingPoint;
            ASSERT_TRUE(I420ToBgrBottomUp(i420.data(), bgr.data(), ULONG(width), ULONG(height)));
        }
        EXPECT_EQ(rgbFromI420(i420, width, height), rgbFromBottomUpBgr(bgr, width, height)) << width << "x" << height;
    }
}

TEST(PngOutputTest, FramePathsFromPatterns)
{
    EXPECT_EQ(framePath("shot_%03d.png", 7), "shot_007.png");
    EXPECT_EQ(framePath("shot%d.png", 12), "shot12.png");
    EXPECT_EQ(framePath("dir.d/shot.png", 3), "dir.d/shot_0003.png");
    EXPECT_EQ(framePath("a%s%n%x.png", 1), "a%s%n%x_0001.png") << "other conversions stay plain text";
}


// A disk that fills up while a picture is written (here a file size limit,
// which fails the write as a full disk does) leaves no partial PNG behind.
TEST(PngOutputTest, FailedWriteLeavesNoPartialFile)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("korval-png-limit-" + std::to_string(::getpid()) + ".png"))
                                 .string();
    std::vector<std::uint8_t> noise(160 * 120 * 3);
    std::uint32_t state = 2463534242u;
    for (auto& sample : noise) { // xorshift: nothing for the compressor to find
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        sample = static_cast<std::uint8_t>(state);
    }
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit limit{}, saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    limit = saved;
    limit.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    const bool written = writeRgbPngFile(path, 160, 120, noise, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(path)) << "a partial PNG was left";
    std::filesystem::remove(path);
}

} // namespace
