#include "control/I420ToBgr.h"
#include "control/StillImageFile.h"

#include "SnapshotMachine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace {

using namespace korval::snapshot_test;

class StillImageFile : public SnapshotMachine {};

TEST_F(StillImageFile, Rgb24FramesAreWrittenAsDeliveredUpToTheLargest)
{
    // 640 x 480 fills both still buffers exactly; the header needs no room in
    // them (the sanitizer build checks the pool blocks). A smaller still then
    // replaces the larger file whole.
    const Bytes largest = randomBytes(STILL_BUFFER_BYTES, 5);
    openStream(640, 480, false, largest);
    ASSERT_TRUE(WriteStillImage(device_.get()));
    EXPECT_TRUE(stillFile() == concat(header(640, 480), largest));
    const Bytes small = randomBytes(176 * 144 * 3, 3);
    openStream(176, 144, false, small);
    ASSERT_TRUE(WriteStillImage(device_.get()));
    EXPECT_TRUE(stillFile() == concat(header(176, 144), small));
}

TEST_F(StillImageFile, I420FrameIsStoredBottomUpInBgr)
{
    const Bytes frame = randomBytes(I420FrameBytes(320, 240), 4);
    openStream(320, 240, true, frame);
    ASSERT_TRUE(WriteStillImage(device_.get()));
    const auto file = stillFile();
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(file->size(), 32u + 230400u);
    Bytes expected(230400);
    ASSERT_TRUE(I420ToBgrBottomUpReference(frame.data(), expected.data(), 320, 240));
    EXPECT_TRUE(*file == concat(header(320, 240), expected));
    // The picture's top-left pixel, worked out from its samples, opens the last row.
    const int luma = frame[0];
    const int u = frame[320 * 240] - 128;
    const int v = frame[320 * 240 + 160 * 120] - 128;
    const auto clamp = [](int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); };
    const Bytes topLeft = {clamp(luma + u * 1772 / 1000), clamp(luma + (u * -3441) / 10000 - (v * 7141) / 10000),
                           clamp(luma + v * 1402 / 1000)};
    EXPECT_TRUE(std::equal(topLeft.begin(), topLeft.end(), file->end() - 3 * 320));
}

TEST_F(StillImageFile, OldestPlatformsWriteThroughTheRingZeroServices)
{
    const Bytes frame = randomBytes(160 * 120 * 3, 9);
    openStream(160, 120, false, frame);
    for (ULONG level : {0u, 2u, 3u}) {
        WdmLevel = level;
        std::filesystem::remove(stillPath());
        // The other path must not be the one taken.
        platform_->failNextCalls(level < 3 ? "ZwCreateFile" : "R0_OpenCreateFile", STATUS_ACCESS_DENIED, 1);
        ASSERT_TRUE(WriteStillImage(device_.get())) << level;
        EXPECT_TRUE(stillFile() == concat(header(160, 120), frame)) << level;
        platform_->failNextCalls(level < 3 ? "ZwCreateFile" : "R0_OpenCreateFile", STATUS_SUCCESS, 0);
    }
}

TEST_F(StillImageFile, FileFailuresAreReportedAndLeaveNoHandle)
{
    openStream(160, 120, false, randomBytes(160 * 120 * 3, 10));
    platform_->failNextCalls("ZwCreateFile", STATUS_ACCESS_DENIED, 1);
    EXPECT_FALSE(WriteStillImage(device_.get()));
    platform_->failNextCalls("ZwWriteFile", STATUS_DISK_FULL, 1);
    EXPECT_FALSE(WriteStillImage(device_.get()));
    platform_->failNextCalls("ZwWriteFile", STATUS_SUCCESS, 1); // "success" with nothing written
    EXPECT_FALSE(WriteStillImage(device_.get()));
    // A directory where the file belongs cannot be replaced, on either path.
    std::filesystem::remove(stillPath());
    std::filesystem::create_directory(stillPath());
    EXPECT_FALSE(WriteStillImage(device_.get()));
    WdmLevel = 1;
    EXPECT_FALSE(WriteStillImage(device_.get()));
    EXPECT_EQ(platform_->openHandleCount(), 0u);
}

TEST_F(StillImageFile, NothingIsWrittenForAFrameTheBuffersCannotHold)
{
    const std::pair<ULONG, ULONG> sizes[] = {{0, 480}, {640, 0}, {641, 480}, {0x10000, 0x10000}, {0xFFFFFFFF, 3}};
    for (const auto& [width, height] : sizes) {
        openStream(width, height, height % 2 == 0, {});
        EXPECT_FALSE(WriteStillImage(device_.get())) << width << " x " << height;
    }
    EXPECT_FALSE(WriteStillImage(nullptr));
    openStream(160, 120, false, {});
    for (PUCHAR* buffer : {&device_->StillImageBuffer, &device_->StillBgrBuffer}) {
        PUCHAR kept = std::exchange(*buffer, nullptr);
        EXPECT_FALSE(WriteStillImage(device_.get()));
        *buffer = kept;
    }
    EXPECT_FALSE(stillFile().has_value());
}

} // namespace
