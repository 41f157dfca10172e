#include "PipelineHarness.h"

#include "effects/VideoEffects.h"
#include "support/png_file.h"

namespace korval::testing {
namespace {

struct ExposureRun {
    UCHAR firstLuma = 0;
    UCHAR lastLuma = 0;
    std::size_t exposureWrites = 0;
};

class PipelineExposureTest : public PipelineTest {
protected:
    ExposureRun runFrames(float radiance, int frames)
    {
        camera().setScene(camera::makeFlatScene(radiance, radiance, radiance));
        startStreaming();
        bus().clearTrace();
        ExposureRun run;
        for (int i = 0; i < frames; ++i) {
            ReadRequest read = request();
            EXPECT_EQ(fillNext(read), STATUS_SUCCESS);
            if (i == 0) {
                run.firstLuma = stream_->LastMeanLuma;
            }
        }
        run.lastLuma = stream_->LastMeanLuma;
        for (const RegisterRequest& r : traffic()) {
            const int reg = std::get<1>(r);
            if (reg == 0x02 || reg == 0x03 || reg == 0x05 || reg == 0x06 || reg == 0x08 || reg == 0x0E) {
                ++run.exposureWrites;
            }
        }
        return run;
    }
};

TEST_F(PipelineExposureTest, DarkSceneRaisesExposureUntilThePictureBrightens)
{
    const ExposureRun run = runFrames(0.02f, 40);
    EXPECT_GT(run.exposureWrites, 0u);
    EXPECT_GT(run.lastLuma, run.firstLuma + 20);
}

TEST_F(PipelineExposureTest, BrightSceneLowersExposureUntilThePictureDarkens)
{
    const ExposureRun run = runFrames(1.0f, 40);
    EXPECT_GT(run.exposureWrites, 0u);
    EXPECT_LT(run.lastLuma + 20, run.firstLuma);
}

TEST_F(PipelineExposureTest, CameraFieldsFollowTheAutoExposureResults)
{
    runFrames(0.02f, 20);
    EXPECT_EQ(registers_->Field[FIELD_GAIN], stream_->AeOutput.usGain);
    EXPECT_EQ(registers_->Field[FIELD_FRAME_LINES], stream_->AeOutput.usFrameLines);
    EXPECT_EQ(registers_->Field[FIELD_CLOCK_DIVIDER], stream_->AeOutput.usClockDivider);
    EXPECT_EQ(camera().activeRegister(0x0E), registers_->RegisterImage[0x0E]);
}

// Nothing on the capture path allocates per frame, the register requests
// that carry each frame's exposure and white balance included.
TEST_F(PipelineExposureTest, FramesAllocateNothing)
{
    camera().setScene(camera::makeFlatScene(0.05f, 0.05f, 0.05f));
    startStreaming(640, 480, true);
    device_->CurEffect = VeEffectSepia;
    ReadRequest warmUp = request();
    ASSERT_EQ(fillNext(warmUp), STATUS_SUCCESS);
    host::resetPoolCounters();
    bus().clearTrace();
    const std::size_t before = outstandingBlocks();
    for (int i = 0; i < 12; ++i) {
        ReadRequest read = request();
        ASSERT_EQ(fillNext(read), STATUS_SUCCESS);
    }
    const host::PoolCounters counters = host::poolCounters();  // every tag
    EXPECT_GT(traffic().size(), 0u);  // register writes did happen
    EXPECT_EQ(counters.allocations, 0u);
    EXPECT_EQ(counters.frees, 0u);
    EXPECT_EQ(outstandingBlocks(), before);
    EXPECT_EQ(stream_->FramesProcessed, 13u);
}

TEST_F(PipelineTest, DeliveredChartFrameForAPersonToLookAt)
{
    startStreaming(352, 288, false);
    ReadRequest read = request();
    for (int i = 0; i < 12; ++i) { // let exposure and white balance settle
        ASSERT_EQ(fillNext(read), STATUS_SUCCESS);
    }
    ASSERT_EQ(read.header()->DataUsed, 352u * 288 * 3);
    EXPECT_FALSE(writeBgrBottomUpPng("pipeline_chart_cif_rgb24", 352, 288, read.data.data()).empty());
}

} // namespace
} // namespace korval::testing
