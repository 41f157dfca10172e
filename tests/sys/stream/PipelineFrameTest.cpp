#include "support/floating_point_scope.h"
#include "PipelineHarness.h"

#include "base/ParameterGate.h"
#include "effects/VideoEffects.h"

#include <algorithm>

namespace korval::testing {
namespace {

// What a status report does for the pipeline: its own event signalled.
void pressButton(CUsbCamera* usb)
{
    KeSetEvent(&usb->ButtonEvent, 0, FALSE);
}

TEST_F(PipelineTest, ButtonPressMarksTheNextDeliveredFrameOnly)
{
    platform_.registry().createKey(kSnapshotKey); // the still-image service's key
    startStreaming();
    ReadRequest before = request();
    ASSERT_EQ(fillNext(before), STATUS_SUCCESS);
    EXPECT_FALSE(before.buttonBit());

    pressButton(usb_);
    ReadRequest pressed = request();
    ASSERT_EQ(fillNext(pressed), STATUS_SUCCESS);
    EXPECT_TRUE(pressed.buttonBit());
    auto status = platform_.registry().value(kSnapshotKey, "usb_snapshot_status");
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->data, (std::vector<std::uint8_t>{1, 0, 0, 0}));

    ReadRequest after = request();
    ASSERT_EQ(fillNext(after), STATUS_SUCCESS);
    EXPECT_FALSE(after.buttonBit());
}

TEST_F(PipelineTest, PressDuringARepeatedFrameWaitsForTheNextDeliveredOne)
{
    startStreaming(176, 144, true);
    pressButton(usb_);
    ReadRequest repeat = request(); // first request at 176 x 144 without a clock repeats
    ASSERT_EQ(fillNext(repeat), STATUS_SUCCESS);
    EXPECT_EQ(repeat.header()->DataUsed, 0u);
    EXPECT_FALSE(repeat.buttonBit());
    ReadRequest delivered = request();
    ASSERT_EQ(fillNext(delivered), STATUS_SUCCESS);
    EXPECT_EQ(delivered.header()->DataUsed, stream_->FrameSize);
    EXPECT_TRUE(delivered.buttonBit());
}

TEST_F(PipelineTest, TooSmallABufferFailsWithoutTakingAFrame)
{
    startStreaming();
    awaitFrame();
    ReadRequest small = request(stream_->FrameSize - 1);
    EXPECT_EQ(fill(small), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(stream_->FramesProcessed, 0u);
    ReadRequest whole = request();
    EXPECT_EQ(fill(whole), STATUS_SUCCESS); // the frame is still waiting
    EXPECT_EQ(whole.header()->DataUsed, stream_->FrameSize);
}

TEST_F(PipelineTest, RefusalsBeforeAnyFrameIsRead)
{
    startStreaming();
    ReadRequest read = request();
    read.srb.NumberOfBuffers = 0;
    EXPECT_EQ(fill(read), STATUS_INVALID_PARAMETER);
    ReadRequest noData = request();
    noData.header()->Data = nullptr;
    EXPECT_EQ(fill(noData), STATUS_INVALID_PARAMETER);
    SetDevicePresent(device_.get(), FALSE);
    ReadRequest gone = request();
    EXPECT_EQ(fill(gone), STATUS_CANCELLED);
    SetUsbConfigured(device_.get(), FALSE);
    EXPECT_EQ(fill(gone), STATUS_INVALID_PARAMETER);
    SetUsbConfigured(device_.get(), TRUE);
    SetDevicePresent(device_.get(), TRUE);
}

TEST_F(PipelineTest, UnusableFrameDeliversThePreviousPictureWithNoData)
{
    startStreaming();
    ReadRequest good = request();
    ASSERT_EQ(fillNext(good), STATUS_SUCCESS);
    camera().spoilNextFrame();
    ULONGLONG spoiled = 0;
    for (int i = 0; i < 4 && spoiled == 0; ++i) {
        awaitFrame();
        if ((usb_->FrameBuffer[usb_->NewestFrame][0] & 0x80) != 0) {
            spoiled = usb_->FrameNumber;
        }
    }
    ASSERT_NE(spoiled, 0u);
    ReadRequest bad = request();
    ASSERT_EQ(fill(bad), STATUS_SUCCESS);
    EXPECT_EQ(bad.header()->DataUsed, 0u);
    EXPECT_EQ(memcmp(bad.data.data() + 1, good.data.data() + 1, stream_->FrameSize - 1), 0);
    EXPECT_EQ(stream_->FramesProcessed, 1u);
}

TEST_F(PipelineTest, CorruptBodyAndTruncatedFramesAreNotDelivered)
{
    startStreaming();
    ReadRequest good = request();
    ASSERT_EQ(fillNext(good), STATUS_SUCCESS);
    const std::vector<std::uint8_t> previous(stream_->OutputFrame, stream_->OutputFrame + stream_->FrameSize);

    // A body of noise: the decoder rejects it, auto exposure still sees it.
    awaitFrame();
    PUCHAR frame = usb_->FrameBuffer[usb_->NewestFrame];
    const ULONG length = usb_->FrameLength[usb_->NewestFrame];
    for (ULONG i = PIPELINE_HEADER_BYTES; i + PIPELINE_HEADER_BYTES < length; ++i) {
        frame[i] = static_cast<UCHAR>(i * 7919u >> 3);
    }
    ReadRequest corrupt = request();
    ASSERT_EQ(fill(corrupt), STATUS_SUCCESS);
    EXPECT_EQ(corrupt.header()->DataUsed, 0u);
    EXPECT_EQ(stream_->DecompressionFrame.ulDroppedLines, 288u);

    // Shorter than its own header and trailer: nothing to decode, no crash.
    awaitFrame();
    usb_->FrameLength[usb_->NewestFrame] = 5;
    ReadRequest truncated = request();
    ASSERT_EQ(fill(truncated), STATUS_SUCCESS);
    EXPECT_EQ(truncated.header()->DataUsed, 0u);
    EXPECT_EQ(memcmp(truncated.data.data() + 1, previous.data() + 1, stream_->FrameSize - 1), 0);
    EXPECT_EQ(stream_->FramesProcessed, 1u);
}

TEST_F(PipelineTest, NoFrameWithinHalfASecondAnswersWithNoData)
{
    startStreaming();
    ReadRequest read = request();
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    std::thread reader = fillWaiting(read, status);
    host::systemClock().advance(kHalfSecond);
    reader.join();
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(read.header()->DataUsed, 0u);
    EXPECT_EQ(read.header()->OptionsFlags, 0x111u);
    // Black, not pool contents, before the first processed frame.
    EXPECT_EQ(read.data[1], 0);
    EXPECT_EQ(read.data[stream_->FrameSize - 1], 0);
}

TEST_F(PipelineTest, RestartRequestStopsResetsAndRestartsVideo)
{
    startStreaming();
    ReadRequest first = request();
    ASSERT_EQ(fillNext(first), STATUS_SUCCESS);
    host::UrbFault fault;
    fault.function = URB_FUNCTION_ISOCH_TRANSFER;
    fault.status = USBD_STATUS_DEV_NOT_RESPONDING;
    bus().addFault(fault);
    pump(40);
    ASSERT_TRUE(GetRestartRequested(device_.get()));
    bus().clearTrace();

    ReadRequest restarted = request();
    ASSERT_EQ(fillWhilePumping(restarted), STATUS_SUCCESS);
    EXPECT_FALSE(GetRestartRequested(device_.get()));
    EXPECT_FALSE(traceOf(URB_FUNCTION_RESET_PIPE).empty());
    EXPECT_EQ(restarted.header()->DataUsed, stream_->FrameSize);
    EXPECT_EQ(usb_->VideoInFlight.ulValue, VIDEO_TRANSFER_COUNT);
}

TEST_F(PipelineTest, FailingRegisterWriteDeliversNothingAndTheNextFrameRewritesTheCamera)
{
    camera().setScene(camera::makeFlatScene(0.01f, 0.01f, 0.01f));
    startStreaming();
    // Auto exposure writes on one of the first frames of a dark scene.
    host::UrbFault fault;
    fault.function = URB_FUNCTION_VENDOR_INTERFACE;
    bus().addFault(fault);
    bool failed = false;
    for (int reads = 0; reads < 20 && !failed; ++reads) {
        ReadRequest read = request();
        const ULONGLONG processed = stream_->FramesProcessed;
        ASSERT_EQ(fillNext(read), STATUS_SUCCESS);
        const auto writes = traceOf(URB_FUNCTION_VENDOR_INTERFACE);
        failed = std::any_of(writes.begin(), writes.end(),
                             [](const host::UrbTraceEntry& entry) { return USBD_ERROR(entry.status); });
        if (failed) {
            EXPECT_EQ(read.header()->DataUsed, 0u);
            EXPECT_EQ(stream_->FramesProcessed, processed);
        }
    }
    ASSERT_TRUE(failed);
    EXPECT_TRUE(GetDevicePresent(device_.get())) << "one failed request is not a removal";
    bus().clearTrace();
    ReadRequest next = request();
    ASSERT_EQ(fillNext(next), STATUS_SUCCESS);
    EXPECT_EQ(next.header()->DataUsed, stream_->FrameSize);
    const auto writes = traceOf(URB_FUNCTION_VENDOR_INTERFACE);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front().index, 0x02) << "the whole register image again, from its first block";
    EXPECT_EQ(writes.front().requestedLength, 8u);
}

// Manual white balance: the gains in force reach the camera's digital gain
// registers, held to their 8 bits rather than cut.
TEST_F(PipelineTest, ManualGainsReachTheCameraHeldToTheRegisterRange)
{
    struct Case {
        ULONG flags;
        ULONG red, green, blue;
        std::uint8_t expected[3];
    };
    const Case cases[] = {
        {0, 128, 180, 300, {128, 180, 255}}, // preset 0
        {0, 64, 256, 1000, {64, 255, 255}},
        {2, 140, 128, 150, {140, 128, 150}}, // the property's manual flag, preset 1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        device_->CurWhiteBalanceFlags = c.flags;
        device_->CurGain1 = c.red;
        device_->CurGain2 = c.green;
        device_->CurGain3 = c.blue;
        startStreaming();
        // As the white-balance property leaves the stream's parameters when it is not auto.
        tagIpParameters ip;
        ASSERT_TRUE(stream_->ImageProcess->GetParameters(&ip));
        ip.bAwb = 0;
        {
            korval::testing::FloatingPointScope floatingPoint; // as a property handler's bracket
            ASSERT_TRUE(stream_->ImageProcess->SetParameters(ip));
        }
        for (int i = 0; i < 2; ++i) {
            ReadRequest read = request();
            ASSERT_EQ(fillNext(read), STATUS_SUCCESS);
        }
        for (unsigned i = 0; i < 3; ++i) {
            EXPECT_EQ(camera().writtenRegister(0x0B + i), c.expected[i]) << "register " << 0x0B + i;
        }
        usb_->StopVideo();
        stream_->PipelineClose(device_.get());
    }
}

TEST_F(PipelineTest, EffectAndOverlayNumbersAreReadEveryFrame)
{
    camera().setScene(camera::makeFlatScene(0.1f, 0.1f, 0.1f));
    startStreaming();
    ReadRequest plain = request();
    ASSERT_EQ(fillNext(plain), STATUS_SUCCESS);
    device_->CurEffect = VeEffectNegative;
    ReadRequest negative = request();
    ASSERT_EQ(fillNext(negative), STATUS_SUCCESS);
    const std::size_t bytes = stream_->FrameSize;
    EXPECT_NEAR(meanOf(negative.data, bytes), 255.0 - meanOf(plain.data, bytes), 24.0);
    // An effect it does not know, and an overlay with no pictures loaded:
    // the frame goes out without them.
    device_->CurEffect = 99;
    device_->CurOverlayFrame = 3;
    ReadRequest unknown = request();
    ASSERT_EQ(fillNext(unknown), STATUS_SUCCESS);
    EXPECT_EQ(unknown.header()->DataUsed, bytes);
    EXPECT_NEAR(meanOf(unknown.data, bytes), meanOf(plain.data, bytes), 24.0);
}

} // namespace
} // namespace korval::testing

namespace korval::testing {
namespace {

// A property handler's change of the running stream's parameters, made under
// the parameter gate while frames are being filled on another thread.
TEST_F(PipelineTest, ParameterChangesUnderTheGateLandBetweenFrames)
{
    startStreaming();
    std::atomic<bool> stop{false};
    std::atomic<int> changes{0};
    std::thread properties([&] {
        while (!stop) {
            AcquireParameterGate(device_.get());
            tagIpParameters parameters;
            if (stream_->ImageProcess->GetParameters(&parameters)) {
                parameters.bMirror = parameters.bMirror ? 0 : 1;
                korval::testing::FloatingPointScope floatingPoint; // as a property handler's bracket
                stream_->ImageProcess->SetParameters(parameters);
                ++changes;
            }
            ReleaseParameterGate(device_.get());
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 6; ++i) {
        ReadRequest read = request();
        EXPECT_EQ(fillWhilePumping(read), STATUS_SUCCESS);
        EXPECT_EQ(read.header()->DataUsed, stream_->FrameSize);
    }
    stop = true;
    properties.join();
    EXPECT_GT(changes.load(), 0);
}

// A close while a read waits for a frame: it waits for the read, which then
// finds the stream gone rather than freed buffers.
TEST_F(PipelineTest, CloseWaitsForTheReadInProgress)
{
    startStreaming();
    ReadRequest read = request();
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    std::thread reader = fillWaiting(read, status);
    std::thread closer([&] { stream_->PipelineClose(device_.get()); });
    while (host::kernelWaiters() < 2) {
        std::this_thread::yield();
    }
    host::systemClock().advance(kHalfSecond);
    reader.join();
    closer.join();
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(read.header()->DataUsed, 0u);
    EXPECT_EQ(stream_->RawFrame, nullptr);
    ReadRequest after = request(352 * 288 * 3);
    EXPECT_EQ(fill(after), STATUS_INVALID_PARAMETER);
}

} // namespace
} // namespace korval::testing
