// Streams through the client side: formats, intersection, open, states, reads
// in flight, master-clock time stamps, stream properties and close.
#include "fixture.h"

#include "host/kernel/clock.h"
#include "host/kernel/irql.h"

#include <atomic>

namespace korval::test {
namespace {

using host::MasterClock;
using host::PropertyRequest;
using host::ReadDelivery;

TEST_F(StreamClassTest, FormatsComeFromTheStreamInformation)
{
    auto device = startedDevice();
    const auto formats = device->streamFormats(0);
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0].header().SubFormat, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(formats[1].header().SubFormat, MEDIASUBTYPE_I420);
    EXPECT_EQ(formats[1].bytes.size(), sizeof(KS_DATARANGE_VIDEO));
    EXPECT_EQ(formats[1].as<KS_DATARANGE_VIDEO>().VideoInfoHeader.bmiHeader.biBitCount, 12);
}

TEST_F(StreamClassTest, IntersectionAsksTheSizeFirst)
{
    auto device = startedDevice();
    KS_DATARANGE_VIDEO proposed = testRgbRange();
    proposed.VideoInfoHeader.AvgTimePerFrame = 0; // the test driver fills in its own interval
    const auto answer = device->dataIntersection(0, FormatBytes::of(proposed));
    EXPECT_EQ(answer.sizeQueryStatus, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(answer.sizeNeeded, sizeof(KS_DATAFORMAT_VIDEOINFOHEADER));
    ASSERT_EQ(answer.status, STATUS_SUCCESS);
    ASSERT_EQ(answer.format.bytes.size(), sizeof(KS_DATAFORMAT_VIDEOINFOHEADER));
    const auto format = answer.format.as<KS_DATAFORMAT_VIDEOINFOHEADER>();
    EXPECT_EQ(format.DataFormat.FormatSize, sizeof(KS_DATAFORMAT_VIDEOINFOHEADER));
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biWidth, kFrameWidth);
    EXPECT_EQ(answer.proposedRange.as<KS_DATARANGE_VIDEO>().VideoInfoHeader.AvgTimePerFrame, 333333);

    EXPECT_EQ(device->dataIntersectionWithBuffer(0, FormatBytes::of(proposed), 100).status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(device->dataIntersection(1, FormatBytes::of(proposed)).status, STATUS_NOT_SUPPORTED);
    proposed.DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_NONE;
    EXPECT_EQ(device->dataIntersection(0, FormatBytes::of(proposed)).status, STATUS_NO_MATCH);
    FormatBytes truncated;
    truncated.bytes.resize(10);
    EXPECT_EQ(device->dataIntersection(0, truncated).status, STATUS_INVALID_PARAMETER);
}

TEST_F(StreamClassTest, OpenFillsTheStreamObjectAndKeepsTheInstanceLimit)
{
    auto device = startedDevice();
    auto stream = openRgb(*device);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->object()->StreamNumber, 0u);
    EXPECT_EQ(stream->object()->HwDeviceExtension, device->deviceExtension());
    EXPECT_NE(stream->object()->HwStreamExtension, nullptr);
    EXPECT_EQ(stream->object()->StreamHeaderMediaSpecific, sizeof(KS_FRAME_INFO));

    NTSTATUS status = STATUS_SUCCESS;
    const auto opensBefore = driverState(*device).commands.size();
    EXPECT_EQ(device->openStream(0, rgbFormat(*device), &status), nullptr);
    EXPECT_EQ(status, STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(driverState(*device).commands.size(), opensBefore + 2); // two intersection SRBs, no open
}

TEST_F(StreamClassTest, TheDriverSeesASecondOpenWhenTheLimitIsLifted)
{
    auto deviceOptions = options();
    deviceOptions.enforceInstanceLimit = false;
    auto device = startedDevice(deviceOptions);
    auto stream = openRgb(*device);
    NTSTATUS status = STATUS_SUCCESS;
    EXPECT_EQ(device->openStream(0, rgbFormat(*device), &status), nullptr);
    EXPECT_EQ(status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(driverState(*device).commands.back(), static_cast<ULONG>(SRB_OPEN_STREAM));
}

TEST_F(StreamClassTest, StateChangesAndQueries)
{
    auto device = startedDevice();
    auto stream = openRgb(*device);
    KSSTATE state = KSSTATE_RUN;
    EXPECT_EQ(stream->getState(&state), STATUS_SUCCESS);
    EXPECT_EQ(state, KSSTATE_STOP);
    EXPECT_EQ(stream->setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_EQ(stream->getState(&state), STATUS_NO_DATA_DETECTED);
    EXPECT_EQ(state, KSSTATE_PAUSE);
    EXPECT_EQ(stream->sendControl(SRB_SET_STREAM_RATE, [](HW_STREAM_REQUEST_BLOCK&) {}).status,
              STATUS_NOT_IMPLEMENTED);
    FormatBytes i420 = FormatBytes::of(testI420Range());
    EXPECT_EQ(stream->proposeDataFormat(i420), STATUS_SUCCESS);
    i420.bytes[offsetof(KSDATAFORMAT, SubFormat)] ^= 0xFF; // another subtype
    EXPECT_EQ(stream->proposeDataFormat(i420), STATUS_NO_MATCH);
}

TEST_F(StreamClassTest, ReadsInFlightCompleteInOrderWithMasterClockStamps)
{
    auto device = startedDevice();
    auto stream = openRgb(*device);
    auto clock = MasterClock::create();
    ASSERT_EQ(stream->setMasterClock(clock), STATUS_SUCCESS);
    ASSERT_EQ(stream->setState(KSSTATE_RUN), STATUS_SUCCESS);

    std::vector<std::shared_ptr<host::StreamRead>> reads;
    for (int i = 0; i < 5; ++i) {
        reads.push_back(stream->submitRead(kRgbFrameBytes + 8));
    }
    ASSERT_TRUE(waitForHeldReads(*device, 5));
    EXPECT_EQ(stream->readsInFlight(), 5u);
    for (int i = 0; i < 5; ++i) {
        host::systemClock().advance(333333); // the master clock follows the stepped platform clock
        ASSERT_TRUE(TestDriverDeliverFrame(device->deviceExtension(), static_cast<UCHAR>(0x10 + i)));
    }
    for (int i = 0; i < 5; ++i) {
        const auto& read = *reads[i];
        ASSERT_EQ(read.status(), STATUS_SUCCESS);
        EXPECT_EQ(read.header().DataUsed, kRgbFrameBytes);
        EXPECT_EQ(read.header().FrameExtent, kRgbFrameBytes + 8);
        EXPECT_EQ(read.header().PresentationTime.Time, 333333LL * (i + 1));
        EXPECT_NE(read.header().OptionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID, 0u);
        ASSERT_NE(read.frameInfo(), nullptr);
        EXPECT_EQ(read.frameInfo()->PictureNumber, i + 1);
        EXPECT_EQ(read.dataUsed().size(), kRgbFrameBytes);
        EXPECT_EQ(read.dataUsed()[kRgbFrameBytes - 1], 0x10 + i);
        EXPECT_EQ(read.buffer()[kRgbFrameBytes], 0); // untouched beyond DataUsed
        if (i > 0) {
            EXPECT_GT(read.completionOrder(), reads[i - 1]->completionOrder());
        }
    }
    EXPECT_EQ(clock->queries(), 5u);
    EXPECT_EQ(stream->readsInFlight(), 0u);
}

// Only a stream that declares PIO gets its read buffers mapped at a system
// address; without it the application's address means nothing to the
// minidriver's thread, and the class hands over none.
TEST_F(StreamClassTest, ReadBuffersAreAddressableOnlyForAStreamThatDeclaresPio)
{
    for (bool pio : {true, false}) {
        SCOPED_TRACE(pio);
        testDriverSettings().pio = pio;
        auto device = startedDevice();
        auto stream = openRgb(*device);
        ASSERT_EQ(stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
        auto read = stream->submitRead(kRgbFrameBytes);
        ASSERT_TRUE(waitForHeldReads(*device, 1));
        const KSSTREAM_HEADER* header = read->srb()->CommandData.DataBufferArray;
        EXPECT_EQ(header->Data != nullptr, pio);
        EXPECT_EQ(header->FrameExtent, kRgbFrameBytes);
        ASSERT_EQ(stream->setState(KSSTATE_STOP), STATUS_SUCCESS);
        EXPECT_EQ(read->status(), STATUS_CANCELLED);
    }
}

TEST_F(StreamClassTest, EveryReadHeaderCarriesTheMediaSpecificRoom)
{
    auto device = startedDevice();
    auto stream = openRgb(*device);
    auto stopped = stream->submitRead(kRgbFrameBytes);
    EXPECT_EQ(stopped->status(), STATUS_SUCCESS); // completed at once while stopped
    EXPECT_EQ(stopped->header().DataUsed, 0u);
    EXPECT_EQ(stopped->header().Size, sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO));
    EXPECT_EQ(stopped->mediaSpecific().size(), sizeof(KS_FRAME_INFO));
    EXPECT_EQ(stopped->srb()->NumberOfBuffers, 1u);
    EXPECT_EQ(stopped->srb()->Flags, static_cast<ULONG>(SRB_HW_FLAGS_DATA_TRANSFER | SRB_HW_FLAGS_STREAM_REQUEST));

    ASSERT_EQ(stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
    auto empty = stream->submitRead(0);
    ASSERT_TRUE(waitForHeldReads(*device, 1));
    ASSERT_TRUE(TestDriverDeliverFrame(device->deviceExtension(), 1));
    EXPECT_EQ(empty->status(), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(empty->header().Data, nullptr);
    EXPECT_EQ(stream->submitRead(kRgbFrameBytes, SRB_WRITE_DATA)->status(), STATUS_NOT_SUPPORTED);
}

TEST_F(StreamClassTest, StopCancelsHeldReadsAndCloseCancelsTheRest)
{
    auto device = startedDevice();
    auto stream = openRgb(*device);
    ASSERT_EQ(stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
    auto a = stream->submitRead(kRgbFrameBytes);
    auto b = stream->submitRead(kRgbFrameBytes);
    ASSERT_TRUE(waitForHeldReads(*device, 2));
    ASSERT_EQ(stream->setState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(a->status(), STATUS_CANCELLED);
    EXPECT_EQ(b->status(), STATUS_CANCELLED);
    EXPECT_TRUE(driverState(*device).cancelled.empty()); // not through HwCancelPacket

    ASSERT_EQ(stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
    std::vector<std::shared_ptr<host::StreamRead>> pending;
    for (int i = 0; i < 3; ++i) {
        pending.push_back(stream->submitRead(kRgbFrameBytes));
    }
    ASSERT_TRUE(waitForHeldReads(*device, 3));
    EXPECT_EQ(stream->close(), STATUS_SUCCESS); // without a stop: HwCancelPacket for each
    EXPECT_EQ(driverState(*device).cancelled.size(), 3u);
    for (const auto& read : pending) {
        EXPECT_EQ(read->status(), STATUS_CANCELLED);
    }
    EXPECT_FALSE(driverState(*device).streamOpen);
    EXPECT_EQ(driverState(*device).commands.back(), static_cast<ULONG>(SRB_CLOSE_STREAM));
}

TEST_F(StreamClassTest, StreamPropertiesGoThroughTheControlPath)
{
    auto device = startedDevice();
    auto stream = openRgb(*device);
    KSALLOCATOR_FRAMING framing{};
    struct FramingRequest {
        KSPROPERTY property;
    };
    auto request = PropertyRequest::make(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_ALLOCATORFRAMING,
                                         KSPROPERTY_TYPE_GET, FramingRequest{}, sizeof(framing));
    auto answer = stream->getProperty(request);
    ASSERT_EQ(answer.status, STATUS_SUCCESS);
    EXPECT_EQ(answer.bytesReturned, sizeof(KSALLOCATOR_FRAMING));
    EXPECT_EQ(answer.as<KSALLOCATOR_FRAMING>().FrameSize, kRgbFrameBytes);
    EXPECT_EQ(driverState(*device).streamCommands.back(), static_cast<ULONG>(SRB_GET_STREAM_PROPERTY));

    request.data.clear();
    EXPECT_EQ(stream->getProperty(request).status, STATUS_BUFFER_TOO_SMALL);
    auto unknown = PropertyRequest::make(PROPSETID_VIDCAP_DROPPEDFRAMES, 0, KSPROPERTY_TYPE_GET, FramingRequest{});
    EXPECT_EQ(stream->getProperty(unknown).status, STATUS_NOT_FOUND);
    EXPECT_EQ(stream->setProperty(request).status, STATUS_NOT_FOUND); // get only
}

TEST_F(StreamClassTest, ConcurrentReadsAndFramesFromDispatchLevel)
{
    auto device = startedDevice();
    auto stream = openRgb(*device);
    ASSERT_EQ(stream->setMasterClock(MasterClock::create()), STATUS_SUCCESS);
    ASSERT_EQ(stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
    stream->setReadDelivery(ReadDelivery::Concurrent);

    constexpr int kReads = 40;
    std::atomic<bool> producing{true};
    std::atomic<int> delivered{0};
    std::thread producer([&] {
        host::ScopedIrql atDispatch(DISPATCH_LEVEL); // like a DPC completing reads
        while (producing) {
            if (TestDriverDeliverFrame(device->deviceExtension(), 0x5A)) {
                ++delivered;
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::thread properties([&] {
        for (int i = 0; i < 20; ++i) {
            KSPROPERTY_VIDEOPROCAMP_S value{};
            value.Value = i;
            device->setProperty(PropertyRequest::make(PROPSETID_VIDCAP_VIDEOPROCAMP,
                                                      KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, KSPROPERTY_TYPE_SET, value));
        }
    });
    std::vector<std::shared_ptr<host::StreamRead>> reads;
    for (int i = 0; i < kReads; ++i) {
        reads.push_back(stream->submitRead(kRgbFrameBytes));
    }
    for (const auto& read : reads) {
        ASSERT_TRUE(read->waitFor(std::chrono::seconds(20)));
        EXPECT_EQ(read->status(), STATUS_SUCCESS);
        EXPECT_EQ(read->dataUsed().size(), kRgbFrameBytes);
    }
    producing = false;
    producer.join();
    properties.join();
    EXPECT_EQ(delivered.load(), kReads);
    EXPECT_EQ(driverState(*device).highestIrql.load(), PASSIVE_LEVEL); // SRBs arrive at passive level
}

TEST_F(StreamClassTest, CloseWhileFramesCompleteReadsFromDispatchLevel)
{
    for (int round = 0; round < 20; ++round) {
        auto device = startedDevice();
        auto stream = openRgb(*device);
        ASSERT_EQ(stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
        stream->setReadDelivery(ReadDelivery::Concurrent);
        std::vector<std::shared_ptr<host::StreamRead>> reads;
        for (int i = 0; i < 8; ++i) {
            reads.push_back(stream->submitRead(kRgbFrameBytes));
        }
        std::atomic<bool> producing{true};
        std::thread producer([&] {
            host::ScopedIrql atDispatch(DISPATCH_LEVEL);
            while (producing) {
                TestDriverDeliverFrame(device->deviceExtension(), 1);
            }
        });
        // Completions by frames and by HwCancelPacket race; each read completes once.
        EXPECT_EQ(stream->close(), STATUS_SUCCESS);
        producing = false;
        producer.join();
        for (const auto& read : reads) {
            EXPECT_TRUE(read->status() == STATUS_SUCCESS || read->status() == STATUS_CANCELLED);
        }
    }
}

} // namespace
} // namespace korval::test
