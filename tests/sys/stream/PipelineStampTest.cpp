#include "PipelineHarness.h"

namespace korval::testing {
namespace {

class PipelineStampTest : public PipelineTest {
protected:
    void SetUp() override
    {
        PipelineTest::SetUp();
        startStreaming();
    }

    ReadRequest readAt(LONGLONG time)
    {
        useClock(time);
        ReadRequest read = request();
        EXPECT_EQ(fillNext(read), STATUS_SUCCESS);
        return read;
    }
};

TEST_F(PipelineStampTest, DeliveredFramesCarryTheStreamTimeAndTheirPictureNumbers)
{
    const ReadRequest first = readAt(100000);
    EXPECT_EQ(first.header()->PresentationTime.Time, 100000);
    EXPECT_EQ(first.header()->PresentationTime.Numerator, 1u);
    EXPECT_EQ(first.header()->DataUsed, stream_->FrameSize);
    EXPECT_EQ(first.header()->OptionsFlags, 0x111u);
    EXPECT_EQ(first.info()->PictureNumber, 1);
    EXPECT_EQ(first.info()->DropCount, 0);
    EXPECT_GT(clock_->queries(), 0u);

    const ReadRequest second = readAt(100000 + kFrameDuration);
    EXPECT_EQ(second.header()->PresentationTime.Time, 100000 + kFrameDuration);
    EXPECT_EQ(second.info()->PictureNumber, 2);
    EXPECT_EQ(stream_->LastPresentationTime, 100000 + kFrameDuration);
    EXPECT_EQ(stream_->FirstPresentationTime, 100000);
}

TEST_F(PipelineStampTest, FirstFrameLateAfterTheStartIsStampedZero)
{
    const ReadRequest first = readAt(10 * kFrameDuration + 1);
    EXPECT_EQ(first.header()->PresentationTime.Time, 0);
    EXPECT_EQ(first.header()->DataUsed, stream_->FrameSize);
    EXPECT_EQ(stream_->FirstPresentationTime, 0);
}

TEST_F(PipelineStampTest, FrameMoreThanThreeMillisecondsEarlyIsHeldBack)
{
    readAt(0);
    const ReadRequest early = readAt(kFrameDuration - 50000);
    EXPECT_EQ(early.header()->DataUsed, 0u);
    EXPECT_EQ(early.header()->PresentationTime.Time, kFrameDuration - 50000);
    EXPECT_EQ(stream_->FramesProcessed, 1u);
    EXPECT_EQ(stream_->PictureNumber, 1u); // unchanged
    const ReadRequest slightlyEarly = readAt(kFrameDuration - 20000);
    EXPECT_EQ(slightlyEarly.header()->DataUsed, stream_->FrameSize);
    EXPECT_EQ(stream_->FramesProcessed, 2u);
}

TEST_F(PipelineStampTest, MissedFramesCountAsDroppedAndAdvanceThePictureNumber)
{
    readAt(0);
    readAt(kFrameDuration);
    const ReadRequest late = readAt(1000000); // expected 1000000 / 323333 + 1 = 4 frames
    EXPECT_EQ(stream_->FramesProcessed, 3u);
    EXPECT_EQ(late.info()->DropCount, 1);
    EXPECT_EQ(late.info()->PictureNumber, 4);
}

TEST_F(PipelineStampTest, CountersAreKeptOnlyWhilePausedOrRunning)
{
    readAt(0);
    WriteCaptureState(stream_, KSSTATE_ACQUIRE);
    const ReadRequest acquiring = readAt(kFrameDuration);
    EXPECT_EQ(acquiring.header()->DataUsed, stream_->FrameSize);
    EXPECT_EQ(stream_->PictureNumber, 1u);
    EXPECT_EQ(acquiring.info()->PictureNumber, 1);
}

TEST_F(PipelineTest, WithoutAClockEveryFrameHasTimeAndNumbersZero)
{
    startStreaming();
    for (int i = 0; i < 3; ++i) {
        ReadRequest read = request();
        ASSERT_EQ(fillNext(read), STATUS_SUCCESS);
        EXPECT_EQ(read.header()->PresentationTime.Time, 0);
        EXPECT_EQ(read.header()->Duration, kFrameDuration);
        EXPECT_EQ(read.header()->DataUsed, stream_->FrameSize);
        EXPECT_EQ(read.info()->PictureNumber, 0);
        EXPECT_EQ(read.info()->DropCount, 0);
    }
}

TEST_F(PipelineTest, QcifWithAClockIsNotHalved)
{
    startStreaming(176, 144, false);
    for (int i = 0; i < 2; ++i) {
        useClock(i * kFrameDuration);
        ReadRequest read = request();
        ASSERT_EQ(fillNext(read), STATUS_SUCCESS);
        EXPECT_EQ(read.header()->DataUsed, stream_->FrameSize);
    }
}

} // namespace
} // namespace korval::testing
