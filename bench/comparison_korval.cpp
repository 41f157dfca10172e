// Our side of the comparison with OpenCV: each stage of CImageProcess::Process
// on the shared CIF frame, the whole Process at CIF and VGA I420, and the
// memory-copy floor of the pictures the stages stream through.
#include "bench/comparison.h"
#include "bench/process_timing.h"

#include "imageprocess/CAwb.h"
#include "imageprocess/CColorProcess.h"
#include "imageprocess/CDefect.h"
#include "imageprocess/CGamma.h"
#include "imageprocess/CImageProcess.h"
#include "imageprocess/CInterpolation.h"
#include "imageprocess/CInterpolationKernels.h"
#include "imageprocess/CRearrange.h"
#include "imageprocess/CSharpness.h"

#include "support/floating_point_scope.h"
#include "sys/imageprocess/ChartFrame.h"

#include <cstring>

namespace korval::bench {
namespace {

constexpr int kWidth = kSensorWidth;
constexpr int kHeight = kSensorHeight;
constexpr int kPaddedWidth = kWidth + 4;
constexpr int kPaddedHeight = kHeight + 4;
constexpr std::size_t kPictureBytes = 3u * kWidth * kHeight;

struct Helpers : CImageProcess {
    using CImageProcess::BGR24toI420;
    using CImageProcess::BGRtoY;
    using CImageProcess::CropColorBuffer;
    using CImageProcess::ScaleBuffer;
    using CImageProcess::SmoothBuffer;
};

// The padded planes and stages of the demosaic, as CImageProcess holds them.
struct Demosaic {
    Bytes padded = Bytes(kPaddedWidth * kPaddedHeight, 0);
    Bytes green = Bytes(kPaddedWidth * kPaddedHeight, 0);
    Bytes packed = Bytes(kPictureBytes + 16, 0);
    Bytes picture = Bytes(kPictureBytes);
    CInterpolation interpolation;
    CColorProcess colour;
    CRearrange rearrange;

    Demosaic()
    {
        interpolation.Open(kPaddedWidth, kPaddedHeight, 0);
        colour.Open(kWidth, kHeight, 0, testing::defaultIpParameters().sColor);
        rearrange.Open(kWidth, kHeight);
    }

    void pad(const Bytes& bayer)
    {
        for (int r = 0; r < kHeight; ++r) {
            std::memcpy(&padded[(r + 2) * kPaddedWidth + 2], &bayer[r * kWidth], kWidth);
        }
    }

    // As Process does: the packed groups are rearranged to BGR24 rows unless
    // the colour pass wrote the rows itself.
    void rearrangeUnlessWritten(const tagIpImageRows& rows)
    {
        if (!rows.bWritten) {
            rearrange.Process_4B4G4R(packed.data(), picture.data(), 0, 0);
        }
    }

    // As Process does: the frame's gains into the colour settings, then the
    // colour demosaic into BGR24 rows.
    void colourDemosaic(const Bytes& bayer)
    {
        pad(bayer);
        tagIpColorParameters settings;
        colour.GetParameters(&settings);
        settings.usGain[0] = settings.usGain[1] = settings.usGain[2] = 128;
        colour.SetParameters(settings);
        tagIpImageRows rows{picture.data(), nullptr, 0, 0, FALSE};
        colour.Process(padded.data(), green.data(), packed.data(), 0, &rows);
        rearrangeUnlessWritten(rows);
    }
};

Bytes makeSensorFrame()
{
    return testing::noisyChartBayer(kWidth, kHeight);
}

Bytes makeSensorPicture()
{
    Demosaic demosaic;
    demosaic.colourDemosaic(sensorFrame());
    return demosaic.picture;
}

void defect(benchmark::State& state)
{
    CDefect stage;
    stage.Open(kWidth, kHeight, tagIpDefectParameters{20, 20});
    Bytes frame = sensorFrame();
    tagIpDefectBlock block{};
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(frame.data(), sensorFrame().data(), frame.size());  // corrected in place
        state.ResumeTiming();
        benchmark::DoNotOptimize(stage.Process(frame.data(), 30, 5000, &block));
    }
}

// One call per frame: the stage measures on one frame in four.
void whiteBalance(benchmark::State& state)
{
    CAwb stage;
    stage.Open(kWidth, kHeight, 0, 0, testing::defaultIpParameters().sAwb);
    const UCHAR index[3] = {0, 0, 0};
    const USHORT gain[3] = {128, 128, 128};
    UCHAR nextIndex[3];
    USHORT nextGain[3];
    for (auto _ : state) {
        benchmark::DoNotOptimize(stage.Process(sensorFrame().data(), index, gain, nextIndex, nextGain));
    }
}

void demosaic(benchmark::State& state)
{
    Demosaic stages;
    for (auto _ : state) {
        stages.pad(sensorFrame());
        tagIpImageRows rows{stages.picture.data(), nullptr, 0, 0, FALSE};
        stages.interpolation.Process(stages.padded.data(), stages.green.data(), stages.packed.data(), 0, &rows);
        stages.rearrangeUnlessWritten(rows);
        benchmark::DoNotOptimize(stages.picture.data());
        benchmark::ClobberMemory();
    }
}

void demosaicColour(benchmark::State& state)
{
    Demosaic stages;
    for (auto _ : state) {
        stages.colourDemosaic(sensorFrame());
        benchmark::DoNotOptimize(stages.picture.data());
        benchmark::ClobberMemory();
    }
}

// Luma plane, 3 x 3 smoothing and the coring unsharp mask, as Process runs
// them on the freshly rearranged picture.
void sharpen(benchmark::State& state)
{
    Bytes picture = sensorPicture(), plane(kWidth * kHeight);
    std::vector<SHORT> smooth(kWidth * kHeight);
    CSharpness stage;
    stage.Open(kWidth, kHeight, testing::defaultIpParameters().usSharpness);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(picture.data(), sensorPicture().data(), picture.size());  // sharpened in place
        state.ResumeTiming();
        Helpers::BGRtoY(picture.data(), plane.data(), kWidth, kHeight);
        Helpers::SmoothBuffer(plane.data(), smooth.data(), kWidth, kHeight);
        stage.ProcessMMX(smooth.data(), picture.data());
        benchmark::DoNotOptimize(picture.data());
        benchmark::ClobberMemory();
    }
}

void toneTable(benchmark::State& state)
{
    Bytes picture = sensorPicture();
    CGamma stage;
    stage.Open(kWidth, kHeight, testing::defaultIpParameters().sGamma);
    for (auto _ : state) {
        stage.Process(picture.data(), 1, 1);
        benchmark::DoNotOptimize(picture.data());
        benchmark::ClobberMemory();
    }
}

void toI420(benchmark::State& state, const Bytes& picture, int width, int height)
{
    Bytes i420(static_cast<std::size_t>(width) * height * 3 / 2);
    for (auto _ : state) {
        Helpers::BGR24toI420(picture.data(), i420.data(), width, height);
        benchmark::DoNotOptimize(i420.data());
        benchmark::ClobberMemory();
    }
}

const Bytes& vgaPicture()
{
    static const Bytes picture = [] {
        Bytes crop(320 * 240 * 3 + 16), scaled(640 * 480 * 3);
        Helpers::CropColorBuffer(sensorPicture().data(), crop.data(), kWidth, kHeight, 320, 240);
        Helpers::ScaleBuffer(crop.data(), scaled.data(), 320, 240);
        return scaled;
    }();
    return picture;
}

void toI420Cif(benchmark::State& state) { toI420(state, sensorPicture(), kWidth, kHeight); }
void toI420Vga(benchmark::State& state) { toI420(state, vgaPicture(), 640, 480); }

void enlargeVga(benchmark::State& state)
{
    Bytes crop(320 * 240 * 3 + 16), scaled(640 * 480 * 3);
    for (auto _ : state) {
        Helpers::CropColorBuffer(sensorPicture().data(), crop.data(), kWidth, kHeight, 320, 240);
        Helpers::ScaleBuffer(crop.data(), scaled.data(), 320, 240);
        benchmark::DoNotOptimize(scaled.data());
        benchmark::ClobberMemory();
    }
}

void process(benchmark::State& state, UCHAR sizeCode, std::size_t outputBytes, CPU_PATH path = CpuPathAvx512)
{
    const testing::ForcedCpuPath forced(path);
    CImageProcess pipeline;
    if (!pipeline.Open(kWidth, kHeight, 0, IP_FORMAT_I420, sizeCode, 0, testing::defaultIpParameters())) {
        state.SkipWithError("Open failed");
        return;
    }
    Bytes output(outputBytes);
    timeProcess(state, pipeline, sensorFrame(), output);
}

void processCif(benchmark::State& state) { process(state, IP_OUTPUT_CIF, kWidth * kHeight * 3 / 2); }
void processVga(benchmark::State& state) { process(state, IP_OUTPUT_VGA, 640 * 480 * 3 / 2); }
// AVX2 without the AVX-512 kernels, and the paths the 32-bit Windows image runs,
// in the same rounds as the rows of the best path.
void processCifAvx2(benchmark::State& state) { process(state, IP_OUTPUT_CIF, kWidth * kHeight * 3 / 2, CpuPathAvx2); }
void processVgaAvx2(benchmark::State& state) { process(state, IP_OUTPUT_VGA, 640 * 480 * 3 / 2, CpuPathAvx2); }
void processCifSse2(benchmark::State& state) { process(state, IP_OUTPUT_CIF, kWidth * kHeight * 3 / 2, CpuPathSse2); }
void processCifPlain(benchmark::State& state) { process(state, IP_OUTPUT_CIF, kWidth * kHeight * 3 / 2, CpuPathPlain); }
void processVgaSse2(benchmark::State& state) { process(state, IP_OUTPUT_VGA, 640 * 480 * 3 / 2, CpuPathSse2); }
void processVgaPlain(benchmark::State& state) { process(state, IP_OUTPUT_VGA, 640 * 480 * 3 / 2, CpuPathPlain); }

void copyFloor(benchmark::State& state, std::size_t bytes)
{
    Bytes source(bytes, 7), destination(bytes);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), bytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
}

void copyCif(benchmark::State& state) { copyFloor(state, kPictureBytes); }
void copyVga(benchmark::State& state) { copyFloor(state, 640 * 480 * 3); }

} // namespace

const Bytes& sensorFrame()
{
    static const Bytes frame = makeSensorFrame();
    return frame;
}

const Bytes& sensorPicture()
{
    static const Bytes picture = makeSensorPicture();
    return picture;
}

const std::vector<ComparisonRow>& comparisonRows()
{
    static const std::vector<ComparisonRow> rows = [] {
        const OpenCvSide cv = openCvSide();
        return std::vector<ComparisonRow>{
            {"Cif/Defect", "defect correction (full scan)", defect, nullptr},
            {"Cif/WhiteBalance", "white balance (per frame)", whiteBalance, nullptr},
            {"Cif/Demosaic", "demosaic, edge-aware, to BGR24", demosaic, cv.demosaic},
            {"Cif/ColourTransform", "3x3 colour transform alone", nullptr, cv.colourTransform},
            {"Cif/DemosaicColour", "demosaic + 3x3 colour, to BGR24", demosaicColour, cv.demosaicColour},
            {"Cif/Sharpen", "3x3 blur + unsharp mask", sharpen, cv.sharpen},
            {"Cif/ToneTable", "per-channel lookup table", toneTable, cv.toneTable},
            {"Cif/ToI420", "BGR24 to I420, CIF", toI420Cif, cv.toI420Cif},
            {"Cif/Whole", "whole Process, CIF I420", processCif, cv.chainCif},
            {"Cif/CopyFloor", "memcpy of one CIF BGR24 picture", copyCif, nullptr},
            {"Vga/Enlarge", "crop 320x240 + 2x enlarge", enlargeVga, cv.enlargeVga},
            {"Vga/ToI420", "BGR24 to I420, VGA", toI420Vga, cv.toI420Vga},
            {"Vga/Whole", "whole Process, VGA I420", processVga, cv.chainVga},
            {"Vga/CopyFloor", "memcpy of one VGA BGR24 picture", copyVga, nullptr},
            {"Cif/WholeAvx2", "whole Process, CIF I420, AVX2 path", processCifAvx2, nullptr},
            {"Cif/WholeSse2", "whole Process, CIF I420, SSE2 path", processCifSse2, nullptr},
            {"Cif/WholePlain", "whole Process, CIF I420, plain path", processCifPlain, nullptr},
            {"Vga/WholeAvx2", "whole Process, VGA I420, AVX2 path", processVgaAvx2, nullptr},
            {"Vga/WholeSse2", "whole Process, VGA I420, SSE2 path", processVgaSse2, nullptr},
            {"Vga/WholePlain", "whole Process, VGA I420, plain path", processVgaPlain, nullptr},
        };
    }();
    return rows;
}

} // namespace korval::bench
