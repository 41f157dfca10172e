#include "IsochStreamHarness.h"

#include "decoder/FrameDecoder.h"
#include "usb/FrameCollector.h"
#include "usb/TransferCounter.h"
#include "host/kernel/clock.h"

#include <thread>

namespace korval::testing {
namespace {

constexpr ULONG kCifPixels = 352 * 288;

ULONG ReadInFlightOf(tagLockedUlong& count) { return ReadInFlight(&count); }

TEST_F(IsochVideoTest, CameraFramesArriveWhole_WithTheirHeaderAndTheNextHeaderAsTrailer)
{
    ASSERT_TRUE(usb_->StartVideo());
    ASSERT_TRUE(pumpUntilFrames(2));
    const Read read = readFrame();
    ASSERT_TRUE(read.ok);
    ASSERT_GT(read.bytes.size(), 2 * FRAME_HEADER_BYTES);
    EXPECT_EQ(read.number, usb_->FrameNumber);

    const std::uint8_t sequence = read.bytes[1];
    ASSERT_EQ(sent_.count(sequence), 1u);
    const camera::FrameStats& sent = sent_[sequence];
    // Marker dropped, next frame's header added.
    EXPECT_EQ(read.bytes.size(), sent.bytes - FRAME_MARKER_BYTES + FRAME_HEADER_BYTES);
    EXPECT_EQ(read.bytes[2], sent.framesPerSecond);
    const std::size_t trailer = read.bytes.size() - FRAME_HEADER_BYTES;
    EXPECT_EQ(read.bytes[trailer + 1], static_cast<std::uint8_t>(sequence + 1));

    FrameDecoder decoder;
    ASSERT_TRUE(decoder.Open(352, 288, 8));
    std::vector<tagSDecompressionInformation> lines(288);
    std::vector<UCHAR> bayer(kCifPixels);
    tagSDecompressionFrame frame{};
    frame.psLines = lines.data();
    frame.ulLineCapacity = 288;
    frame.pucOutput = bayer.data();
    ASSERT_TRUE(decoder.Process(read.bytes.data() + FRAME_HEADER_BYTES,
                                static_cast<ULONG>(read.bytes.size() - 2 * FRAME_HEADER_BYTES), kCifPixels, &frame));
    EXPECT_EQ(frame.ulRawLines, sent.linesOfKind[0]);
    EXPECT_EQ(frame.ulStep5Lines, sent.linesOfKind[1]);
    EXPECT_EQ(frame.ulStep9Lines, sent.linesOfKind[2]);
    EXPECT_EQ(frame.ulStep17Lines, sent.linesOfKind[3]);
    EXPECT_EQ(frame.ulDroppedLines, sent.linesOfKind[4]);
    EXPECT_EQ(frame.ulRawLines + frame.ulStep5Lines + frame.ulStep9Lines + frame.ulStep17Lines +
                  frame.ulDroppedLines,
              288u);
    decoder.Close();
}

TEST_F(IsochVideoTest, ReaderGetsTheNewestOfTheFramesThatArrivedMeanwhile)
{
    ASSERT_TRUE(usb_->StartVideo());
    ASSERT_TRUE(pumpUntilFrames(5));
    EXPECT_EQ(usb_->NewestFrame, usb_->FrameNumber % RAW_FRAME_COUNT);
    const Read newest = readFrame();
    ASSERT_TRUE(newest.ok);
    EXPECT_EQ(newest.number, 5u);
    // Sequence bytes count the camera's frames: the newest carries the highest.
    std::uint8_t highest = 0;
    for (const auto& [sequence, stats] : sent_) {
        if (sequence != newest.bytes[1] + 1) {
            highest = std::max(highest, sequence);
        }
    }
    EXPECT_EQ(newest.bytes[1], highest);

    ASSERT_TRUE(pumpUntilFrames(6));
    const Read next = readFrame();
    ASSERT_TRUE(next.ok);
    EXPECT_EQ(next.number, 6u);
    EXPECT_EQ(next.bytes[1], static_cast<std::uint8_t>(newest.bytes[1] + 1));
}

TEST_F(IsochVideoTest, ReaderWithTooSmallABufferGetsNothingAndFalse)
{
    ASSERT_TRUE(usb_->StartVideo());
    ASSERT_TRUE(pumpUntilFrames(2));
    const ULONG newest = usb_->FrameLength[usb_->NewestFrame];
    const Read tooSmall = readFrame(newest - 1);
    EXPECT_FALSE(tooSmall.ok);
    EXPECT_TRUE(tooSmall.bytes.empty());
    ASSERT_TRUE(pumpUntilFrames(3));
    const Read exact = readFrame(usb_->FrameLength[usb_->NewestFrame]);
    EXPECT_TRUE(exact.ok);
    EXPECT_EQ(exact.number, 3u);
}

TEST_F(IsochVideoTest, ReaderWithNoNewFrameWithinHalfASecondGetsAnEmptyFrame)
{
    ASSERT_TRUE(usb_->StartVideo());
    pump(20); // at most one marker so far: no frame handed over
    ASSERT_EQ(usb_->FrameNumber, 0u);
    Read read;
    std::thread reader([&] { read = readFrame(); });
    while (host::kernelWaiters() == 0) {
        std::this_thread::yield();
    }
    host::systemClock().advance(kHalfSecond - 1);
    EXPECT_EQ(host::kernelWaiters(), 1u);
    host::systemClock().advance(1);
    reader.join();
    EXPECT_TRUE(read.ok);
    EXPECT_TRUE(read.bytes.empty());
}

TEST_F(IsochVideoTest, RefusalsAndBadArguments)
{
    EXPECT_FALSE(usb_->ReadFrame(nullptr, nullptr, nullptr));
    ASSERT_TRUE(usb_->StartVideo());
    EXPECT_FALSE(usb_->StartVideo());
    EXPECT_FALSE(usb_->SetMarkerSkipBytes(6500));
    UCHAR byte = 0;
    ULONGLONG number = 0;
    EXPECT_FALSE(usb_->ReadFrame(&byte, nullptr, &number));
    usb_->StopVideo();
    usb_->Close();
    ULONG length = 1;
    EXPECT_FALSE(usb_->ReadFrame(&byte, &length, &number));
    EXPECT_FALSE(usb_->StartVideo());
}

TEST_F(IsochVideoTest, ThreeTransfersStayInFlightAndStreamingAllocatesNothing)
{
    ASSERT_TRUE(usb_->StartVideo());
    pump(3);
    host::resetPoolCounters();
    ASSERT_TRUE(pumpUntilFrames(3));
    EXPECT_EQ(host::poolCounters().allocations, 0u);
    EXPECT_EQ(usb_->VideoInFlight.ulValue, VIDEO_TRANSFER_COUNT);
    EXPECT_EQ(bus().pendingRequests(), VIDEO_TRANSFER_COUNT);
    const auto transfers = traceOf(URB_FUNCTION_ISOCH_TRANSFER);
    ASSERT_FALSE(transfers.empty());
    EXPECT_EQ(transfers.front().requestedLength, VIDEO_PACKETS_PER_TRANSFER * 1023u);
}

TEST_F(IsochVideoTest, StopWithTransfersInFlightDrainsThemAndStartsAfreshAfterwards)
{
    ASSERT_TRUE(usb_->StartVideo());
    ASSERT_TRUE(pumpUntilFrames(2));
    usb_->StopVideo();
    EXPECT_EQ(usb_->VideoInFlight.ulValue, 0u);
    EXPECT_EQ(bus().pendingRequests(), 0u);
    EXPECT_FALSE(ReadLockedFlag(&usb_->VideoStarted));
    EXPECT_FALSE(GetRestartRequested(device_.get())); // a cancelled transfer is no error
    pump(40);
    EXPECT_EQ(bus().pendingRequests(), 0u);

    ASSERT_TRUE(usb_->StartVideo());
    EXPECT_EQ(usb_->FrameNumber, 0u);
    ASSERT_TRUE(pumpUntilFrames(2));
    EXPECT_TRUE(readFrame().ok);
}

TEST_F(IsochVideoTest, CloseWhileStreamingStopsTheTransfersFirst)
{
    ASSERT_TRUE(usb_->StartVideo());
    pump(50);
    registers_->Unbind();
    EXPECT_TRUE(usb_->Close());
    EXPECT_EQ(bus().pendingRequests(), 0u);
    EXPECT_FALSE(ReadLockedFlag(&usb_->VideoStarted));
}

TEST_F(IsochVideoTest, UnplugMidStreamRequestsARestartAndResubmitsNothing)
{
    ASSERT_TRUE(usb_->StartVideo());
    ASSERT_TRUE(pumpUntilFrames(1));
    bus().unplug();
    pump(20);
    EXPECT_TRUE(GetRestartRequested(device_.get()));
    EXPECT_EQ(usb_->VideoInFlight.ulValue, 0u);
    EXPECT_EQ(bus().pendingRequests(), 0u);
    usb_->StopVideo(); // returns: everything is back
    EXPECT_FALSE(ReadLockedFlag(&usb_->VideoStarted));
}

TEST_F(IsochVideoTest, FailedTransferRequestsARestart_AndTheRestartStreamsAgain)
{
    ASSERT_TRUE(usb_->StartVideo());
    ASSERT_TRUE(pumpUntilFrames(1));
    host::UrbFault fault;
    fault.function = URB_FUNCTION_ISOCH_TRANSFER;
    fault.effect = host::UrbFault::Effect::Complete;
    fault.status = USBD_STATUS_DEV_NOT_RESPONDING;
    bus().addFault(fault);
    pump(40);
    EXPECT_TRUE(GetRestartRequested(device_.get()));
    EXPECT_EQ(usb_->VideoInFlight.ulValue, VIDEO_TRANSFER_COUNT - 1);

    // The frame pipeline's restart.
    usb_->StopVideo();
    ASSERT_TRUE(usb_->ResetVideoPipe());
    SetRestartRequested(device_.get(), FALSE);
    ASSERT_TRUE(usb_->StartVideo());
    ASSERT_TRUE(pumpUntilFrames(2));
    EXPECT_TRUE(readFrame().ok);
    EXPECT_FALSE(GetRestartRequested(device_.get()));
}

TEST_F(IsochVideoTest, VideoUrbsAskForSixteenPacketsOfTheWholePacketSize)
{
    ASSERT_TRUE(usb_->StartVideo());
    for (tagTransferContext* context : usb_->VideoContext) {
        const auto& transfer = context->pUrb->UrbIsochronousTransfer;
        EXPECT_EQ(transfer.Hdr.Function, URB_FUNCTION_ISOCH_TRANSFER);
        EXPECT_EQ(transfer.Hdr.Length, VIDEO_URB_BYTES);
        EXPECT_EQ(transfer.PipeHandle, usb_->PipeHandle[USB_VIDEO_PIPE]);
        EXPECT_EQ(transfer.TransferFlags, 7u);
        EXPECT_EQ(transfer.TransferBuffer, context->pData);
        EXPECT_EQ(transfer.TransferBufferMDL, nullptr);
        ASSERT_EQ(transfer.NumberOfPackets, VIDEO_PACKETS_PER_TRANSFER);
        for (ULONG i = 0; i < VIDEO_PACKETS_PER_TRANSFER; ++i) {
            EXPECT_EQ(transfer.IsoPacket[i].Offset, i * 1023);
        }
        EXPECT_EQ(context->ucInFlight, 1);
    }
}

TEST_F(IsochVideoTest, StopRacingTheResubmissionDpcsLeavesNothingInFlight)
{
    for (int round = 0; round < 40; ++round) {
        ASSERT_TRUE(usb_->StartVideo());
        bus().runFrames(16 + round % 17); // completions queue DPCs that run on their own thread
        usb_->StopVideo();
        EXPECT_EQ(ReadInFlightOf(usb_->VideoInFlight), 0u) << "round " << round;
        KeFlushQueuedDpcs();
        EXPECT_EQ(bus().pendingRequests(), 0u) << "round " << round;
        bus().runFrames(20);
        KeFlushQueuedDpcs();
        EXPECT_EQ(bus().pendingRequests(), 0u) << "round " << round;
    }
}

TEST_F(IsochVideoTest, StartFailsWhileTheDeviceIsPoweredDown)
{
    SetDevicePowerState(device_.get(), PowerDeviceD3);
    EXPECT_FALSE(usb_->StartVideo());
    EXPECT_EQ(bus().pendingRequests(), 0u);
    SetDevicePowerState(device_.get(), PowerDeviceD0);
    EXPECT_TRUE(usb_->StartVideo());
}

} // namespace
} // namespace korval::testing
