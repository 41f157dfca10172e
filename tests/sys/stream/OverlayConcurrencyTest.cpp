// Loads racing the per-picture blend, and loads racing each other and the
// stream's close: every blended picture shows one whole frame, never a mix.
#include "overlay_test_support.h"

#include <atomic>
#include <thread>

namespace korval::overlay_test {
namespace {

class OverlayRace : public OverlayMachine {
protected:
    void SetUp() override
    {
        OverlayMachine::SetUp();
        openStream(352, 288, false);
        installFrame(1, "red", uniformPicture(0, 0, 200), Bytes(OVERLAY_MASK_BYTES, 255));
        installFrame(2, "blue", uniformPicture(200, 0, 0), Bytes(OVERLAY_MASK_BYTES, 255));
        ASSERT_TRUE(load(1));
        device_->CurOverlayFrame = 1;
    }
};

// Both frames are opaque, so a blended picture is all red or all blue.
bool wholeFrame(const Bytes& picture)
{
    return picture == uniformPicture(0, 0, 200) || picture == uniformPicture(200, 0, 0);
}

TEST_F(OverlayRace, BlendsNeverSeeAHalfReplacedFrame)
{
    std::atomic<bool> done{false};
    std::thread loader([&] {
        for (int i = 0; i < 12; ++i) {
            EXPECT_TRUE(load(1 + i % 2));
        }
        done = true;
    });
    Bytes source(OVERLAY_PICTURE_BYTES, 77), destination(OVERLAY_PICTURE_BYTES);
    int blended = 0;
    while (!done || blended == 0) {
        ASSERT_TRUE(apply(source, destination));
        ASSERT_TRUE(wholeFrame(destination)) << "after " << blended << " blends";
        ++blended;
    }
    loader.join();
}

TEST_F(OverlayRace, ConcurrentLoadsLeaveOneWholeFrame)
{
    std::thread first([&] {
        for (int i = 0; i < 6; ++i) {
            EXPECT_TRUE(load(1));
        }
    });
    std::thread second([&] {
        for (int i = 0; i < 6; ++i) {
            EXPECT_TRUE(load(2));
        }
    });
    first.join();
    second.join();
    Bytes source(OVERLAY_PICTURE_BYTES, 77), destination(OVERLAY_PICTURE_BYTES);
    ASSERT_TRUE(apply(source, destination));
    EXPECT_TRUE(wholeFrame(destination));
    EXPECT_TRUE(picture() == uniformPicture(0, 0, 200) || picture() == uniformPicture(200, 0, 0));
}

TEST_F(OverlayRace, CloseWaitsForARunningLoad)
{
    std::thread loader([&] {
        for (int i = 0; i < 6; ++i) {
            load(1 + i % 2); // false once the buffers are gone
        }
    });
    FreeOverlayBuffers(device_->Stream);
    loader.join();
    EXPECT_EQ(device_->Stream->OverlayBuffers[OverlayPicture], nullptr);
    EXPECT_EQ(platform_->openHandleCount(), 0u);
}

} // namespace
} // namespace korval::overlay_test
