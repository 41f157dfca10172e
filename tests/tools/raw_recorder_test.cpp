// capture --raw keeps what a replay can develop: the frames the driver
// developed, not the unusable ones nor the ones it could not decode.
#include "tool_test_support.h"
#include "tools/korval/raw_recorder.h"

namespace {

using korval::tools_test::ToolTest;

TEST_F(ToolTest, RawRecordingKeepsOnlyTheFramesTheDriverDeveloped)
{
    korval::tools::RawRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.open(path("take.raw"), error)) << error;
    const struct {
        std::uint8_t firstByte;
        bool developed;
    } frames[] = {{0x00, true}, {0x00, false}, {0x80, true}, {0x01, true}};
    std::int64_t time = 0;
    for (const auto& frame : frames) {
        std::vector<std::uint8_t> bytes(40, 0x11);
        bytes[0] = frame.firstByte;
        recorder.frameOnBus(std::move(bytes));
        ASSERT_TRUE(recorder.taken(++time, frame.developed, error)) << error;
    }
    ASSERT_TRUE(recorder.finish(error)) << error;

    korval::tools::RawFrameReader reader;
    ASSERT_TRUE(reader.open(path("take.raw"), error)) << error;
    std::vector<std::int64_t> kept;
    while (const auto frame = reader.next()) {
        kept.push_back(frame->time);
    }
    EXPECT_EQ(kept, (std::vector<std::int64_t>{1, 4}));
    EXPECT_TRUE(reader.problem().empty()) << reader.problem();
}

} // namespace
