#include "tools/korval/y4m_writer.h"

#include <gtest/gtest.h>

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

    std::string expected = "YUV4MPEG2 W4 H2 F30:1 Ip A1:1 C420jpeg\n";
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
    EXPECT_EQ(out.str(), "YUV4MPEG2 W352 H288 F30:1 Ip A1:1 C420jpeg\n");
    EXPECT_FALSE(writer.writeFrame(std::vector<std::uint8_t>(352 * 288 * 3)));
    EXPECT_FALSE(writer.writeFrame({}));
    EXPECT_EQ(out.str().size(), 43u) << "nothing written for a refused frame";
}

} // namespace
