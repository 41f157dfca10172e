// The capture pipeline over the virtual camera: the USB transport and camera
// registers of the isochronous harness (bus paced by the test), a stream
// record and a still-image buffer, and read requests as the stream class
// hands them over (stream header, KS_FRAME_INFO, data buffer).
#pragma once

#include "tests/sys/usb/IsochStreamHarness.h"

#include "settings/RegistrySettings.h"
#include "stream/CapturePipeline.h"
#include "stream/CaptureStream.h"
#include "stream/StreamContext.h"

#include "camera/sensor/scene.h"
#include "host/kernel/clock.h"
#include "host/kernel/dispatcher.h"
#include "host/kernel/pool.h"
#include "host/streamclass/stream_class.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace korval::testing {

constexpr LONGLONG kFrameDuration = 333333;
constexpr ULONG kStillBytes = 640 * 480 * 3;
inline const char* const kSnapshotKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL";

// One read SRB with its stream header, frame information and data buffer.
struct ReadRequest {
    explicit ReadRequest(ULONG extent) : data(extent, 0xA5)
    {
        block.resize(sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO));
        header()->Size = static_cast<ULONG>(block.size());
        header()->FrameExtent = extent;
        srb.NumberOfBuffers = 1;
        srb.Command = SRB_READ_DATA;
        bind();
    }
    ReadRequest(ReadRequest&& other) noexcept
        : block(std::move(other.block)), data(std::move(other.data)), object(other.object), srb(other.srb)
    {
        bind();
    }
    ReadRequest(const ReadRequest&) = delete;
    ReadRequest& operator=(const ReadRequest&) = delete;

    PKSSTREAM_HEADER header() { return reinterpret_cast<PKSSTREAM_HEADER>(block.data()); }
    const KSSTREAM_HEADER* header() const { return reinterpret_cast<const KSSTREAM_HEADER*>(block.data()); }
    const KS_FRAME_INFO* info() const { return reinterpret_cast<const KS_FRAME_INFO*>(header() + 1); }
    bool buttonBit() const { return (data[0] & 1) != 0; }

    std::vector<std::uint8_t> block;
    std::vector<std::uint8_t> data;
    HW_STREAM_OBJECT object{};
    HW_STREAM_REQUEST_BLOCK srb{};

private:
    void bind()
    {
        header()->Data = data.data();
        srb.CommandData.DataBufferArray = header();
        srb.StreamObject = &object;
    }
};

class PipelineTest : public IsochVideoTest {
protected:
    void SetUp() override
    {
        IsochVideoTest::SetUp();
        device_->StillImageBuffer = static_cast<PUCHAR>(KorvalAllocate(kStillBytes));
        ASSERT_NE(device_->StillImageBuffer, nullptr);
        stream_ = new StreamContext;
        ASSERT_NE(stream_, nullptr);
        device_->Stream = stream_;
        device_->CurFrameRate = 30;
        device_->CurWhiteBalanceFlags = 1;
        camera().setScene(camera::makeColourChart());
    }

    void TearDown() override
    {
        stream_->PipelineClose(device_.get());
        delete stream_;
        stream_ = nullptr;
        device_->Stream = nullptr;
        KorvalFree(device_->StillImageBuffer);
        device_->StillImageBuffer = nullptr;
        IsochVideoTest::TearDown();
    }

    bool openPipeline(ULONG width, ULONG height, bool i420)
    {
        stream_->IsI420 = i420 ? 1 : 0;
        return stream_->PipelineOpen(352, 288, width, height, kFrameDuration, device_.get());
    }

    // Open, video on and the stream running, as stream open and run leave it.
    void startStreaming(ULONG width = 352, ULONG height = 288, bool i420 = false)
    {
        ASSERT_TRUE(openPipeline(width, height, i420));
        ASSERT_TRUE(usb_->StartVideo());
        WriteCaptureState(stream_, KSSTATE_RUN);
    }

    // A fresh camera frame waits in the transport, so the read does not wait.
    void awaitFrame() { ASSERT_TRUE(pumpUntilFrames(usb_->FrameNumber + 1)); }

    ReadRequest request(ULONG extent = 0)
    {
        ReadRequest read(extent != 0 ? extent : stream_->FrameSize);
        read.srb.HwDeviceExtension = device_.get();
        return read;
    }

    NTSTATUS fill(ReadRequest& read) { return stream_->FillReadRequest(&read.srb); }

    // A camera frame, then the read.
    NTSTATUS fillNext(ReadRequest& read)
    {
        awaitFrame();
        return fill(read);
    }

    // The read on its own thread, returned once it waits in the kernel; its
    // answer lands in `status`.
    std::thread fillWaiting(ReadRequest& read, NTSTATUS& status)
    {
        std::thread reader([this, pRead = &read, pStatus = &status] { *pStatus = fill(*pRead); });
        while (host::kernelWaiters() == 0) {
            std::this_thread::yield();
        }
        return reader;
    }

    // The read on its own thread while the bus runs, for reads that must wait.
    NTSTATUS fillWhilePumping(ReadRequest& read)
    {
        std::atomic<bool> done{false};
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        std::thread reader([&] {
            status = fill(read);
            done = true;
        });
        for (int i = 0; i < 20000 && !done; ++i) {
            pump(1);
        }
        reader.join();
        return status;
    }

    // Stream time for the next reads, held until set again.
    void useClock(LONGLONG time)
    {
        if (!clock_) {
            clock_ = host::MasterClock::create();
            stream_->MasterClock = clock_->handle();
        }
        clock_->setTime(time);
    }

    std::uint64_t outstandingBlocks() const { return host::poolCounters(KORVAL_POOL_TAG).outstandingBlocks; }

    StreamContext* stream_ = nullptr;
    std::shared_ptr<host::MasterClock> clock_;
};

inline double meanOf(const std::vector<std::uint8_t>& bytes, std::size_t count)
{
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return sum / static_cast<double>(count);
}

} // namespace korval::testing
