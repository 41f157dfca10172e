#include "tools/korval/y4m_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <vector>

namespace {

using korval::tools::Y4mWriter;

TEST(Y4mWriterTest, WritesHeaderAndFramesByteForByte)
{
    std::ostringstream out;
    Y4mWriter writer(out, 4, 2);
    ASSERT_EQ(writer.frameBytes(), 12u); // 8 luma, 2 + 2 chroma
    std::vector<std::uint8_t> frame(12);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(i * 20);
    }
    ASSERT_TRUE(writer.writeFrame(frame));
    frame[0] = 0xFF;
    ASSERT_TRUE(writer.writeFrame(frame));

    std::string expected = korval::tools::y4mHeader(4, 2);
    EXPECT_EQ(expected, "YUV4MPEG2 W4 H2 F30:1" + std::string(19, ' ') + " Ip A1:1 C420jpeg XCOLORRANGE=FULL\n");
    for (int copy = 0; copy < 2; ++copy) {
        expected += "FRAME\n";
        for (std::size_t i = 0; i < frame.size(); ++i) {
            expected += static_cast<char>(i == 0 && copy == 1 ? 0xFF : i * 20);
        }
    }
    EXPECT_EQ(out.str(), expected);
    EXPECT_EQ(writer.framesWritten(), 2u);
}

TEST(Y4mWriterTest, RefusesAFrameOfTheWrongSize)
{
    std::ostringstream out;
    Y4mWriter writer(out, 352, 288);
    const std::string header = korval::tools::y4mHeader(352, 288);
    EXPECT_FALSE(writer.writeFrame(std::vector<std::uint8_t>(352 * 288 * 3)));
    EXPECT_FALSE(writer.writeFrame({}));
    EXPECT_EQ(out.str(), header) << "nothing written for a refused frame";
}

TEST(Y4mWriterTest, MeasuredRatePlaysAsLongAsTheCaptureTook)
{
    // 50 frames stamped 80 ms apart: 12.5 frames a second.
    const auto rate = korval::tools::measuredRate(50, 1000000, 1000000 + 49 * 800000);
    EXPECT_EQ(rate.numerator * 2, rate.denominator * 25);
    EXPECT_EQ(korval::tools::measuredRate(1, 0, 0).numerator, 30u) << "one frame: the nominal rate";

    std::stringstream out;
    Y4mWriter writer(out, 4, 2);
    ASSERT_TRUE(writer.writeFrame(std::vector<std::uint8_t>(12)));
    ASSERT_TRUE(writer.rewriteRate({25, 2}));
    EXPECT_EQ(out.str().substr(0, 29), "YUV4MPEG2 W4 H2 F25:2        ");
    EXPECT_EQ(out.str().size(), korval::tools::y4mHeader(4, 2).size() + 6 + 12) << "the header keeps its length";
}

// Raw files carry any 64-bit stamps: impossible ones give the nominal rate,
// possible ones an exact or nearly exact rate whose terms a Y4M reader parses.
TEST(Y4mWriterTest, MeasuredRateFromAnyStampsStaysInRange)
{
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    struct Case {
        std::int64_t frames, first, last;
        double expected; // frames a second; 30 for the nominal rate
    };
    const Case cases[] = {
        {2, kMin, kMax, 30},        {2, kMax, kMin, 30},
        {kMax, 0, kMax, 30},        {kMax, kMax - 1, kMax, 30},
        {kMin, 0, 10, 30},          {2, -1, 333333, 30},
        {3, 0, 1, 30},              {2, 0, kMax, 30},
        {1002, 0, 1000000, 30},     {2, 0, 36000010000, 30},
        {31, 0, 10000000, 30},      {1001, 0, 1000000, 10000},
        {2, 0, 36000000000, 1.0 / 3600}, {2, kMax - 333333, kMax, 1e4 / 333},
        {1000000000, 0, kMax, 999999999e4 / 9223372036854776.0},
    };
    for (const Case& c : cases) {
        const auto rate = korval::tools::measuredRate(c.frames, c.first, c.last);
        const std::string where = std::to_string(c.frames) + " frames " + std::to_string(c.first) + ".." +
                                  std::to_string(c.last);
        EXPECT_GE(rate.numerator, 1u) << where;
        EXPECT_GE(rate.denominator, 1u) << where;
        EXPECT_LE(rate.numerator, 0x7FFFFFFFu) << where;
        EXPECT_LE(rate.denominator, 0x7FFFFFFFu) << where;
        const double fps = static_cast<double>(rate.numerator) / static_cast<double>(rate.denominator);
        EXPECT_NEAR(fps / c.expected, 1.0, 1e-5) << where << ": " << rate.numerator << ":" << rate.denominator;
        EXPECT_EQ(korval::tools::y4mHeader(4, 2, rate).size(), korval::tools::y4mHeader(4, 2).size()) << where;
    }
}

} // namespace
