// capture --raw keeps only what a replay can develop.
#include "tool_test_support.h"
#include "tools/korval/raw_recorder.h"

using korval::tools_test::ToolTest;

TEST_F(ToolTest, RawRecordingKeepsOnlyTheFramesTheDriverDeveloped)
{
    korval::tools::RawRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.open(path("take.raw"), error));
    // first byte (0x80: the camera marked it unusable), developed by the driver
    const std::pair<std::uint8_t, bool> frames[] = {{0x00, true}, {0x00, false}, {0x80, true}, {0x01, true}};
    for (std::int64_t time = 0; const auto& [firstByte, developed] : frames) {
        recorder.frameOnBus(std::vector<std::uint8_t>(40, firstByte));
        ASSERT_TRUE(recorder.taken(++time, developed, error));
    }
    ASSERT_TRUE(recorder.finish(error));
    korval::tools::RawFrameReader reader;
    ASSERT_TRUE(reader.open(path("take.raw"), error));
    std::vector<std::int64_t> kept;
    while (const auto frame = reader.next()) {
        kept.push_back(frame->time);
    }
    EXPECT_EQ(kept, (std::vector<std::int64_t>{1, 4}));
}
