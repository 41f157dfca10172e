// The capture stream's states and requests: video runs exactly in run, reads
// carry frames in run, black in pause, nothing before pause, and are
// cancelled by stop; state queries, the two stream properties and the
// commands the stream does not serve.
#include "CaptureStreamHarness.h"

#include <algorithm>

namespace korval::stream_test {
namespace {

bool allBytes(std::span<const std::uint8_t> bytes, std::uint8_t value)
{
    return std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == value; });
}

TEST_F(CaptureStreamTest, VideoRunsOnlyInRunAndTheCameraFollows)
{
    start();
    open();
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE}) {
        ASSERT_EQ(stream_->setState(state), STATUS_SUCCESS);
        EXPECT_FALSE(videoStarted());
        EXPECT_FALSE(camera().videoEnabled());
    }
    ASSERT_EQ(stream_->setState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_TRUE(videoStarted());
    EXPECT_TRUE(camera().videoEnabled());
    ASSERT_EQ(stream_->setState(KSSTATE_RUN), STATUS_SUCCESS) << "run again keeps the transfers";
    EXPECT_TRUE(videoStarted());
    ASSERT_EQ(stream_->setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_TRUE(videoStarted()) << "only stop ends the transfers";
    ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_FALSE(videoStarted());
    EXPECT_FALSE(camera().videoEnabled());
    const SrbResult unknown = stream_->sendControl(SRB_SET_STREAM_STATE, [](HW_STREAM_REQUEST_BLOCK& srb) {
        const ULONG beyondRun = 4;
        std::memcpy(&srb.CommandData.StreamState, &beyondRun, sizeof(beyondRun));
    });
    EXPECT_EQ(unknown.status, STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(stream().State, KSSTATE_STOP);
}

TEST_F(CaptureStreamTest, ReadsInRunCarryWholeFramesOfTheOpenFormat)
{
    start();
    open(320, true);
    ASSERT_EQ(stream_->setState(KSSTATE_RUN), STATUS_SUCCESS);
    std::vector<std::shared_ptr<StreamRead>> reads;
    for (int i = 0; i < 4; ++i) {
        reads.push_back(stream_->submitRead(frameSize()));
    }
    // A whole frame or none: a read may find no camera frame in its wait.
    for (const auto& read : reads) {
        ASSERT_EQ(read->status(), STATUS_SUCCESS);
        const ULONG used = read->header().DataUsed;
        EXPECT_TRUE(used == 0 || used == 115200) << used;
        ASSERT_NE(read->frameInfo(), nullptr);
    }
    const auto picture = readDelivered();
    ASSERT_EQ(picture->header().DataUsed, 115200u);
    EXPECT_FALSE(allBytes(picture->dataUsed().subspan(1), 0)) << "a picture, not black";
    ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
}

// A transfer error asks for a restart; a stop ends the transfers and with
// them the request, so reads in pause never start video behind the camera's
// back and the next run enables the camera again.
TEST_F(CaptureStreamTest, RestartRequestDoesNotOutliveAStop)
{
    start();
    open();
    ASSERT_EQ(stream_->setState(KSSTATE_RUN), STATUS_SUCCESS);
    host::UrbFault fault;
    fault.function = URB_FUNCTION_ISOCH_TRANSFER;
    fault.status = USBD_STATUS_DEV_NOT_RESPONDING;
    camera_->bus().addFault(fault);
    for (int ms = 0; ms < 2000 && !GetRestartRequested(context_); ++ms) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(GetRestartRequested(context_));
    ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_FALSE(GetRestartRequested(context_));
    ASSERT_EQ(stream_->setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    stream_->submitRead(frameSize())->wait();
    EXPECT_FALSE(videoStarted()) << "no restart outside run";

    ASSERT_EQ(stream_->setState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_TRUE(camera().videoEnabled());
    EXPECT_EQ(readDelivered()->header().DataUsed, frameSize());
    ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
}

TEST_F(CaptureStreamTest, ReadsBeforePauseAreAnsweredAtOnceAndEmpty)
{
    start();
    open();
    for (KSSTATE state : {KSSTATE_STOP, KSSTATE_ACQUIRE}) {
        ASSERT_EQ(stream_->setState(state), STATUS_SUCCESS);
        auto read = stream_->submitRead(frameSize());
        ASSERT_TRUE(read->waitFor(200ms)) << "no frame wait before pause";
        EXPECT_EQ(read->status(), STATUS_SUCCESS);
        EXPECT_EQ(read->header().DataUsed, 0u);
        auto write = stream_->submitRead(frameSize(), SRB_WRITE_DATA);
        EXPECT_EQ(write->status(), STATUS_SUCCESS);
    }
}

TEST_F(CaptureStreamTest, ReadsInPauseCarryBlackAndNoData)
{
    start();
    for (bool i420 : {true, false}) {
        SCOPED_TRACE(i420 ? "I420" : "RGB24");
        open(176, i420);
        ASSERT_EQ(stream_->setState(KSSTATE_RUN), STATUS_SUCCESS);
        stream_->submitRead(frameSize())->wait(); // a real frame went out before
        ASSERT_EQ(stream_->setState(KSSTATE_PAUSE), STATUS_SUCCESS);
        std::vector<std::shared_ptr<StreamRead>> reads{stream_->submitRead(frameSize() + 16),
                                                       stream_->submitRead(frameSize())};
        for (const auto& read : reads) {
            ASSERT_EQ(read->status(), STATUS_SUCCESS);
            EXPECT_EQ(read->header().DataUsed, 0u);
            const auto buffer = read->buffer();
            const std::size_t luma = 176 * 144;
            if (i420) {
                EXPECT_TRUE(allBytes(buffer.first(luma), 0));
                EXPECT_TRUE(allBytes(buffer.subspan(luma, luma / 2), 0x80));
            } else {
                EXPECT_TRUE(allBytes(buffer, 0));
            }
        }
        ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
        ASSERT_EQ(stream_->close(), STATUS_SUCCESS);
        stream_.reset();
    }
}

TEST_F(CaptureStreamTest, PauseBlackNeverRunsPastASmallBuffer)
{
    start();
    open(352, true);
    ASSERT_EQ(stream_->setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    auto read = stream_->submitRead(1000);
    EXPECT_EQ(read->status(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(read->header().DataUsed, 0u);
    EXPECT_TRUE(allBytes(read->buffer(), 0));
    auto next = stream_->submitRead(frameSize());
    EXPECT_EQ(next->status(), STATUS_SUCCESS) << "the queue goes on";
    ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
}

TEST_F(CaptureStreamTest, StopCancelsEveryQueuedRead)
{
    start();
    open();
    // In pause without video each read waits the whole frame time-out, so
    // the later ones queue behind the first.
    ASSERT_EQ(stream_->setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    stream_->setReadDelivery(ReadDelivery::Concurrent);
    std::vector<std::shared_ptr<StreamRead>> reads;
    for (int i = 0; i < 4; ++i) {
        reads.push_back(stream_->submitRead(frameSize()));
    }
    ASSERT_TRUE(waitForQueuedReads(3));
    ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
    int cancelled = 0;
    for (const auto& read : reads) {
        ASSERT_TRUE(read->waitFor(5s));
        EXPECT_EQ(read->header().DataUsed, 0u);
        cancelled += read->status() == STATUS_CANCELLED ? 1 : 0;
        if (read->status() != STATUS_CANCELLED) {
            EXPECT_EQ(read->status(), STATUS_SUCCESS) << "the one being filled ends empty";
            EXPECT_EQ(read->frameInfo()->PictureNumber, 0);
        }
    }
    EXPECT_EQ(cancelled, 3);
    EXPECT_EQ(queuedReads(), 0u);
}

TEST_F(CaptureStreamTest, CloseWithReadsPendingCompletesThemAll)
{
    start();
    open();
    ASSERT_EQ(stream_->setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    stream_->setReadDelivery(ReadDelivery::Concurrent);
    std::vector<std::shared_ptr<StreamRead>> reads;
    for (int i = 0; i < 3; ++i) {
        reads.push_back(stream_->submitRead(frameSize()));
    }
    ASSERT_TRUE(waitForQueuedReads(2));
    ASSERT_EQ(stream_->close(), STATUS_SUCCESS);
    stream_.reset();
    for (const auto& read : reads) {
        EXPECT_TRUE(read->completed());
        EXPECT_EQ(read->header().DataUsed, 0u);
    }
    EXPECT_FALSE(GetCaptureOpen(context_));
}

TEST_F(CaptureStreamTest, StateQueriesReportTheStateAndNoDataInPause)
{
    start();
    open();
    const std::pair<KSSTATE, NTSTATUS> expected[] = {{KSSTATE_STOP, STATUS_SUCCESS},
                                                     {KSSTATE_ACQUIRE, STATUS_SUCCESS},
                                                     {KSSTATE_PAUSE, STATUS_NO_DATA_DETECTED},
                                                     {KSSTATE_RUN, STATUS_SUCCESS}};
    for (const auto& [state, status] : expected) {
        ASSERT_EQ(stream_->setState(state), STATUS_SUCCESS);
        KSSTATE answered = static_cast<KSSTATE>(99);
        EXPECT_EQ(stream_->getState(&answered), status);
        EXPECT_EQ(answered, state);
    }
    const SrbResult raw = stream_->sendControl(SRB_GET_STREAM_STATE, [](HW_STREAM_REQUEST_BLOCK&) {});
    EXPECT_EQ(raw.actualBytesTransferred, sizeof(KSSTATE));
    ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
}

TEST_F(CaptureStreamTest, AllocatorFramingAsksForTheFormatsImageSize)
{
    start();
    open(640, true);
    KSALLOCATOR_FRAMING framing{};
    struct {
        KSPROPERTY property;
    } input{};
    auto request = PropertyRequest::make(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_ALLOCATORFRAMING,
                                         KSPROPERTY_TYPE_GET, input, sizeof(framing));
    const PropertyResult result = stream_->getProperty(request);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytesReturned, 24u);
    framing = result.as<KSALLOCATOR_FRAMING>();
    EXPECT_EQ(framing.RequirementsFlags, 0x80000003u);
    EXPECT_EQ(framing.PoolType, PagedPool);
    EXPECT_EQ(framing.Frames, 0u);
    EXPECT_EQ(framing.FrameSize, 460800u);
    EXPECT_EQ(framing.FileAlignment, 0u);
}

TEST_F(CaptureStreamTest, DroppedFramesMatchTheLastDeliveredFrame)
{
    start();
    open();
    auto clock = MasterClock::create();
    ASSERT_EQ(stream_->setMasterClock(clock), STATUS_SUCCESS);
    EXPECT_EQ(stream().MasterClock, clock->handle());
    ASSERT_EQ(stream_->setState(KSSTATE_RUN), STATUS_SUCCESS);
    for (int i = 0; i < 3; ++i) {
        stream_->submitRead(frameSize())->wait();
    }
    // At least one frame delivered, however busy the machine.
    ASSERT_NE(readDelivered()->header().DataUsed, 0u);
    ASSERT_EQ(stream_->setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    auto request = PropertyRequest::make(PROPSETID_VIDCAP_DROPPEDFRAMES, KSPROPERTY_DROPPEDFRAMES_CURRENT,
                                         KSPROPERTY_TYPE_GET, KSPROPERTY_DROPPEDFRAMES_CURRENT_S{});
    const PropertyResult result = stream_->getProperty(request);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytesReturned, 48u);
    const auto dropped = result.as<KSPROPERTY_DROPPEDFRAMES_CURRENT_S>();
    EXPECT_EQ(dropped.AverageFrameSize, 304128u);
    EXPECT_EQ(dropped.PictureNumber, static_cast<LONGLONG>(stream().PictureNumber));
    EXPECT_EQ(dropped.DropCount, static_cast<LONGLONG>(stream().DropCount));
    EXPECT_GE(dropped.PictureNumber, 1);

    // Leaving stop starts the counters afresh.
    ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(stream_->setState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    const auto fresh = stream_->getProperty(request).as<KSPROPERTY_DROPPEDFRAMES_CURRENT_S>();
    EXPECT_EQ(fresh.PictureNumber, 0);
    EXPECT_EQ(fresh.DropCount, 0);
    EXPECT_EQ(stream().FramesProcessed, 0u);
}

TEST_F(CaptureStreamTest, CommandsTheStreamDoesNotServe)
{
    start();
    open();
    auto command = [&](ULONG code) {
        return stream_->sendControl(static_cast<SRB_COMMAND>(code), [](HW_STREAM_REQUEST_BLOCK&) {}).status;
    };
    for (ULONG code : {4u, 6u, 8u, 9u, 0xBu, 0xCu, 0xEu}) {
        EXPECT_EQ(command(code), STATUS_NOT_IMPLEMENTED) << code;
    }
    for (ULONG code : {0u, 1u, 0xDu, 0xFu, 0x10u, 0x101u}) {
        EXPECT_EQ(command(code), STATUS_NOT_SUPPORTED) << code;
    }
    ASSERT_EQ(stream_->setState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(stream_->submitRead(frameSize(), SRB_WRITE_DATA)->status(), STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(stream_->submitRead(frameSize(), SRB_GET_STREAM_STATE)->status(), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(stream_->setMasterClock(nullptr), STATUS_SUCCESS);
    EXPECT_EQ(stream().MasterClock, nullptr);
    ASSERT_EQ(stream_->setState(KSSTATE_STOP), STATUS_SUCCESS);
}

} // namespace
} // namespace korval::stream_test
