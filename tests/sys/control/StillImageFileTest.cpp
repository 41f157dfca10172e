#include "control/I420ToBgr.h"
#include "control/StillImageFile.h"

#include "SnapshotMachine.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace korval::snapshot_test;

class StillImageFile : public SnapshotMachine {};

TEST_F(StillImageFile, Rgb24FrameIsWrittenAsDelivered)
{
    const Bytes frame = randomBytes(176 * 144 * 3, 3);
    openStream(176, 144, false, frame);
    ASSERT_TRUE(WriteStillImage(device_.get()));
    EXPECT_EQ(stillFile(), concat(header(176, 144), frame));
}

TEST_F(StillImageFile, TinyI420FrameByHand)
{
    // 2 x 2 with u = 0, v = 127 (R + 178, G - 90): the bottom row comes first.
    openStream(2, 2, true, {10, 20, 200, 250, 128, 255});
    ASSERT_TRUE(WriteStillImage(device_.get()));
    const Bytes pixels = {200, 110, 255, 250, 160, 255, 10, 0, 188, 20, 0, 198};
    EXPECT_EQ(stillFile(), concat(header(2, 2), pixels));
}

TEST_F(StillImageFile, I420FrameIsStoredBottomUpInBgr)
{
    // 320 x 240: 32 + 230400 bytes, and the picture's top row is stored last.
    const Bytes frame = randomBytes(I420FrameBytes(320, 240), 4);
    openStream(320, 240, true, frame);
    ASSERT_TRUE(WriteStillImage(device_.get()));
    const auto file = stillFile();
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(file->size(), 32u + 230400u);
    Bytes expected(230400);
    ASSERT_TRUE(I420ToBgrBottomUpReference(frame.data(), expected.data(), 320, 240));
    EXPECT_EQ(*file, concat(header(320, 240), expected));
    // The picture's top-left pixel, worked out from its samples, opens the last row.
    const int luma = frame[0];
    const int u = frame[320 * 240] - 128;
    const int v = frame[320 * 240 + 160 * 120] - 128;
    const auto clamp = [](int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); };
    const Bytes topLeft = {clamp(luma + u * 1772 / 1000), clamp(luma + (u * -3441) / 10000 - (v * 7141) / 10000),
                           clamp(luma + v * 1402 / 1000)};
    EXPECT_TRUE(std::equal(topLeft.begin(), topLeft.end(), file->end() - 3 * 320));
}

TEST_F(StillImageFile, LargestFrameFillsTheBuffersWithoutOverrun)
{
    // 640 x 480 RGB24 is exactly the size of both still buffers; the header
    // does not need room in them (the sanitizer build checks the pool blocks).
    const Bytes frame = randomBytes(STILL_BUFFER_BYTES, 5);
    openStream(640, 480, false, frame);
    ASSERT_TRUE(WriteStillImage(device_.get()));
    EXPECT_EQ(stillFile(), concat(header(640, 480), frame));
    const Bytes i420 = randomBytes(I420FrameBytes(640, 480), 6);
    openStream(640, 480, true, i420);
    ASSERT_TRUE(WriteStillImage(device_.get()));
    Bytes expected(STILL_BUFFER_BYTES);
    ASSERT_TRUE(I420ToBgrBottomUpReference(i420.data(), expected.data(), 640, 480));
    EXPECT_EQ(stillFile(), concat(header(640, 480), expected));
}

TEST_F(StillImageFile, NewStillReplacesALargerOldFile)
{
    openStream(352, 288, false, randomBytes(352 * 288 * 3, 7));
    ASSERT_TRUE(WriteStillImage(device_.get()));
    const Bytes small = randomBytes(160 * 120 * 3, 8);
    openStream(160, 120, false, small);
    ASSERT_TRUE(WriteStillImage(device_.get()));
    EXPECT_EQ(stillFile(), concat(header(160, 120), small));
}

TEST_F(StillImageFile, OldestPlatformsWriteThroughTheRingZeroServices)
{
    const Bytes frame = randomBytes(160 * 120 * 3, 9);
    openStream(160, 120, false, frame);
    for (ULONG level : {0u, 1u, 2u}) {
        WdmLevel = level;
        std::filesystem::remove(stillPath());
        platform_->failNextCalls("ZwCreateFile", STATUS_ACCESS_DENIED, 1); // must not be the path taken
        ASSERT_TRUE(WriteStillImage(device_.get())) << level;
        EXPECT_EQ(stillFile(), concat(header(160, 120), frame)) << level;
    }
    platform_->failNextCalls("ZwCreateFile", STATUS_SUCCESS, 0);
    WdmLevel = 3;
    platform_->failNextCalls("R0_OpenCreateFile", STATUS_ACCESS_DENIED, 1); // must not be the path taken
    std::filesystem::remove(stillPath());
    EXPECT_TRUE(WriteStillImage(device_.get()));
    EXPECT_TRUE(stillFile().has_value());
}

TEST_F(StillImageFile, FileFailuresAreReportedAndLeaveNoHandle)
{
    openStream(160, 120, false, randomBytes(160 * 120 * 3, 10));
    platform_->failNextCalls("ZwCreateFile", STATUS_ACCESS_DENIED, 1);
    EXPECT_FALSE(WriteStillImage(device_.get()));
    EXPECT_FALSE(stillFile().has_value());
    platform_->failNextCalls("ZwWriteFile", STATUS_DISK_FULL, 1);
    EXPECT_FALSE(WriteStillImage(device_.get()));
    platform_->failNextCalls("ZwWriteFile", STATUS_SUCCESS, 1); // "success" with nothing written
    EXPECT_FALSE(WriteStillImage(device_.get()));
    EXPECT_TRUE(WriteStillImage(device_.get()));
    WdmLevel = 1;
    platform_->failNextCalls("R0_OpenCreateFile", STATUS_ACCESS_DENIED, 1);
    EXPECT_FALSE(WriteStillImage(device_.get()));
    // A directory where the file should be cannot be replaced.
    std::filesystem::remove(stillPath());
    std::filesystem::create_directory(stillPath());
    EXPECT_FALSE(WriteStillImage(device_.get()));
    WdmLevel = 4;
    EXPECT_FALSE(WriteStillImage(device_.get()));
    EXPECT_EQ(platform_->openHandleCount(), 0u);
}

TEST_F(StillImageFile, NoFrameThatDoesNotFitTheBuffersIsWritten)
{
    const std::pair<ULONG, ULONG> sizes[] = {{0, 480}, {640, 0}, {641, 480}, {0x10000, 0x10000}, {0xFFFFFFFF, 3}};
    for (const auto& [width, height] : sizes) {
        openStream(width, height, false, {});
        EXPECT_FALSE(WriteStillImage(device_.get())) << width << " x " << height;
        openStream(width, height, true, {});
        EXPECT_FALSE(WriteStillImage(device_.get())) << width << " x " << height;
    }
    EXPECT_FALSE(stillFile().has_value());
    EXPECT_FALSE(WriteStillImage(nullptr));
    StreamContext* stream = device_->Stream;
    device_->Stream = nullptr;
    EXPECT_FALSE(WriteStillImage(device_.get()));
    device_->Stream = stream;
    PUCHAR buffer = device_->StillBgrBuffer;
    device_->StillBgrBuffer = nullptr;
    EXPECT_FALSE(WriteStillImage(device_.get()));
    device_->StillBgrBuffer = buffer;
    EXPECT_FALSE(stillFile().has_value());
}

} // namespace
