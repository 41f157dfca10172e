// One read request through the capture pipeline: the newest camera frame
// decoded, judged by auto exposure, processed, copied out and stamped. The
// bus that brings the next frame runs outside the timed part.
#include "bench/fastest_run.h"
#include <benchmark/benchmark.h>

#include "camera/camera_on_bus.h"
#include "host/kernel/dispatcher.h"
#include "host/kernel/platform.h"
#include "imageprocess/CImageProcess.h"
#include "stream/CapturePipeline.h"
#include "stream/CaptureStream.h"
#include "stream/StreamContext.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using namespace korval;

// A device with its transport, registers and pipeline open and video running.
class StreamingDevice {
public:
    StreamingDevice(ULONG width, ULONG height, bool i420)
        : camera_(std::make_unique<camera::CameraOnBus>(camera::CameraOptions{}, host::BusOptions{1200, false, 0}))
    {
        InitializeDeviceState(&device_);
        device_.PhysicalDeviceObject = camera_->deviceObject();
        device_.RealPhysicalDeviceObject = camera_->deviceObject();
        device_.CurFrameRate = 30;
        device_.CurWhiteBalanceFlags = 1;
        camera_->camera().setScene(camera::makeColourChart());
        usb_ = new CUsbCamera;
        registers_ = new CCameraRegisters;
        stream_ = new StreamContext;
        device_.Usb = usb_;
        device_.Camera = registers_;
        device_.Stream = stream_;
        stream_->IsI420 = i420 ? 1 : 0;
        ready_ = usb_->Open(352, 288, 8, 5000000, &device_) && registers_->Bind(&device_) &&
                 usb_->SelectAlternateSetting(8) && registers_->ResetRegisters() && registers_->SetVideoEnable(true) &&
                 stream_->PipelineOpen(352, 288, width, height, 333333, &device_) && usb_->StartVideo();
        WriteCaptureState(stream_, KSSTATE_RUN);
        data_.resize(stream_->FrameSize);
        block_.resize(sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO));
        auto* header = reinterpret_cast<PKSSTREAM_HEADER>(block_.data());
        header->Size = static_cast<ULONG>(block_.size());
        header->FrameExtent = stream_->FrameSize;
        header->Data = data_.data();
        srb_.NumberOfBuffers = 1;
        srb_.CommandData.DataBufferArray = header;
        srb_.HwDeviceExtension = &device_;
        srb_.StreamObject = &object_;
    }

    ~StreamingDevice()
    {
        stream_->PipelineClose(&device_);
        registers_->Unbind();
        usb_->Close();
        delete stream_;
        delete registers_;
        delete usb_;
    }

    bool ready() const { return ready_; }

    void awaitFrame()
    {
        const ULONGLONG wanted = usb_->FrameNumber + 1;
        for (int i = 0; i < 5000 && usb_->FrameNumber < wanted; ++i) {
            camera_->bus().runFrames(1);
            KeFlushQueuedDpcs();
        }
    }

    NTSTATUS fill() { return stream_->FillReadRequest(&srb_); }
    ULONG rawLines() const { return stream_->DecompressionFrame.ulRawLines; }

    // CImageProcess::Process alone, on the frame the last request decoded,
    // with the input the pipeline gives it; the frame is restored first (the
    // defect stage corrects it in place), outside the timing.
    void processAlone(benchmark::State& state)
    {
        std::vector<std::uint8_t> bayer(stream_->BayerFrame, stream_->BayerFrame + 352 * 288);
        std::vector<std::uint8_t> output(stream_->FrameSize);
        for (auto _ : state) {
            state.PauseTiming();
            std::copy(bayer.begin(), bayer.end(), stream_->BayerFrame);
            state.ResumeTiming();
            tagIpOutput out{};
            out.pBuffer = output.data();
            benchmark::DoNotOptimize(stream_->ImageProcess->Process(BuildIpInput(stream_, &device_), &out));
        }
    }

private:
    host::Platform platform_{host::PlatformOptions{{}, host::ClockMode::Stepped}};
    std::unique_ptr<camera::CameraOnBus> camera_;
    DeviceContext device_{};
    CUsbCamera* usb_ = nullptr;
    CCameraRegisters* registers_ = nullptr;
    StreamContext* stream_ = nullptr;
    bool ready_ = false;
    std::vector<std::uint8_t> data_;
    std::vector<std::uint8_t> block_;
    HW_STREAM_OBJECT object_{};
    HW_STREAM_REQUEST_BLOCK srb_{};
};

void RunFill(benchmark::State& state, ULONG width, ULONG height, bool i420)
{
    StreamingDevice device(width, height, i420);
    if (!device.ready()) {
        state.SkipWithError("the device did not start streaming");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        device.awaitFrame();
        state.ResumeTiming();
        benchmark::DoNotOptimize(device.fill());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["raw_lines"] = device.rawLines();  // of the last frame: uncompressed lines copy
}

// The same stream's Process alone, for the cost of everything around it.
void RunProcessAlone(benchmark::State& state, ULONG width, ULONG height, bool i420)
{
    StreamingDevice device(width, height, i420);
    if (!device.ready()) {
        state.SkipWithError("the device did not start streaming");
        return;
    }
    for (int i = 0; i < 8; ++i) {  // exposure and white balance settle
        device.awaitFrame();
        device.fill();
    }
    device.processAlone(state);
}

void StreamContext_FillReadRequest_Cif_I420(benchmark::State& state)
{
    RunFill(state, 352, 288, true);
}

void CImageProcess_Process_InStream_Cif_I420(benchmark::State& state)
{
    RunProcessAlone(state, 352, 288, true);
}

void StreamContext_FillReadRequest_Cif_Rgb24(benchmark::State& state)
{
    RunFill(state, 352, 288, false);
}

void StreamContext_FillReadRequest_Vga_I420(benchmark::State& state)
{
    RunFill(state, 640, 480, true);
}

} // namespace

BENCHMARK(StreamContext_FillReadRequest_Cif_Rgb24)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(StreamContext_FillReadRequest_Cif_I420)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CImageProcess_Process_InStream_Cif_I420)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(StreamContext_FillReadRequest_Vga_I420)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", korval::bench::fastestRun);
