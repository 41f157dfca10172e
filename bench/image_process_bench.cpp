// Speed of the image pipeline: the whole Process per output size and format
// with every stage on, and each of its helpers, sharpening and the defect scan.
#include "bench/fastest_run.h"
#include "bench/process_timing.h"
#include "imageprocess/CDefect.h"
#include "imageprocess/CImageProcess.h"
#include "imageprocess/CSharpness.h"
#include "support/floating_point_scope.h"

#include "sys/imageprocess/ChartFrame.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr int kOutSize[5][2] = {{640, 480}, {352, 288}, {320, 240}, {176, 144}, {160, 120}};

struct Helpers : CImageProcess {
    using CImageProcess::BGR24toI420;
    using CImageProcess::BGRtoY;
    using CImageProcess::ColorBufferBorder;
    using CImageProcess::CropColorBuffer;
    using CImageProcess::ScaleBuffer;
    using CImageProcess::SmoothBuffer;
    using CImageProcess::SubSampleBuffer;
};

Bytes noisyChart()
{
    return korval::testing::noisyChartBayer(kWidth, kHeight);
}

Bytes renderedPicture()
{
    Bytes picture(kWidth * kHeight * 3);
    for (int r = 0; r < kHeight; ++r) {
        for (int c = 0; c < kWidth; ++c) {
            std::uint8_t rgb[3];
            korval::testing::chartColour(r, c, kWidth, kHeight, rgb);
            std::uint8_t* p = &picture[(r * kWidth + c) * 3];
            p[0] = rgb[2];
            p[1] = rgb[1];
            p[2] = rgb[0];
        }
    }
    return picture;
}

void ProcessFrame(benchmark::State& state, UCHAR format, UCHAR size, CPU_PATH path = CpuPathAvx512)
{
    const korval::testing::ForcedCpuPath forced(path);
    CImageProcess process;
    if (!process.Open(kWidth, kHeight, 0, format, size, 0, korval::testing::defaultIpParameters())) {
        state.SkipWithError("Open failed");
        return;
    }
    const std::size_t pixels = static_cast<std::size_t>(kOutSize[size][0]) * kOutSize[size][1];
    Bytes output(format == IP_FORMAT_I420 ? pixels * 3 / 2 : pixels * 3);
    korval::bench::timeProcess(state, process, noisyChart(), output);
}

#define PROCESS_BENCHMARK(name, format, size)                                                           \
    void CImageProcess_Process_##name(benchmark::State& state) { ProcessFrame(state, format, size); } \
    BENCHMARK(CImageProcess_Process_##name)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun)

PROCESS_BENCHMARK(VGA_I420, IP_FORMAT_I420, IP_OUTPUT_VGA);
PROCESS_BENCHMARK(CIF_I420, IP_FORMAT_I420, IP_OUTPUT_CIF);
PROCESS_BENCHMARK(QVGA_I420, IP_FORMAT_I420, IP_OUTPUT_QVGA);
PROCESS_BENCHMARK(QCIF_I420, IP_FORMAT_I420, IP_OUTPUT_QCIF);
PROCESS_BENCHMARK(QQVGA_I420, IP_FORMAT_I420, IP_OUTPUT_QQVGA);
PROCESS_BENCHMARK(VGA_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_VGA);
PROCESS_BENCHMARK(CIF_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_CIF);
PROCESS_BENCHMARK(QVGA_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_QVGA);
PROCESS_BENCHMARK(QCIF_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_QCIF);
PROCESS_BENCHMARK(QQVGA_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_QQVGA);

// AVX2 without the AVX-512 kernels, and the paths a 32-bit Windows kernel runs:
// SSE2 (AVX2 compiled out) and plain.
#define PROCESS_PATH_BENCHMARK(name, format, size, path)                                                       \
    void CImageProcess_Process_##name##_##path(benchmark::State& state)                                        \
    {                                                                                                          \
        ProcessFrame(state, format, size, CpuPath##path);                                                      \
    }                                                                                                          \
    BENCHMARK(CImageProcess_Process_##name##_##path)                                                           \
        ->Unit(benchmark::kMicrosecond)                                                                        \
        ->ComputeStatistics("min", korval::bench::fastestRun)

PROCESS_PATH_BENCHMARK(CIF_I420, IP_FORMAT_I420, IP_OUTPUT_CIF, Avx2);
PROCESS_PATH_BENCHMARK(CIF_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_CIF, Avx2);
PROCESS_PATH_BENCHMARK(VGA_I420, IP_FORMAT_I420, IP_OUTPUT_VGA, Avx2);
PROCESS_PATH_BENCHMARK(VGA_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_VGA, Avx2);
PROCESS_PATH_BENCHMARK(CIF_I420, IP_FORMAT_I420, IP_OUTPUT_CIF, Sse2);
PROCESS_PATH_BENCHMARK(CIF_I420, IP_FORMAT_I420, IP_OUTPUT_CIF, Plain);
PROCESS_PATH_BENCHMARK(CIF_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_CIF, Sse2);
PROCESS_PATH_BENCHMARK(CIF_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_CIF, Plain);
PROCESS_PATH_BENCHMARK(VGA_I420, IP_FORMAT_I420, IP_OUTPUT_VGA, Sse2);
PROCESS_PATH_BENCHMARK(VGA_I420, IP_FORMAT_I420, IP_OUTPUT_VGA, Plain);
PROCESS_PATH_BENCHMARK(VGA_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_VGA, Sse2);
PROCESS_PATH_BENCHMARK(VGA_BGR24, IP_FORMAT_BGR24, IP_OUTPUT_VGA, Plain);

void CDefect_Process_CifFullScan(benchmark::State& state)
{
    CDefect defect;
    defect.Open(kWidth, kHeight, tagIpDefectParameters{20, 20});
    Bytes frame = noisyChart();
    tagIpDefectBlock block{};
    for (auto _ : state) {
        defect.Process(frame.data(), 30, 5000, &block);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(CDefect_Process_CifFullScan)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);

void CSharpness_ProcessMMX_Cif(benchmark::State& state)
{
    const Bytes source = renderedPicture();
    Bytes picture = source, plane(kWidth * kHeight);
    std::vector<SHORT> smooth(kWidth * kHeight);
    Helpers::BGRtoY(picture.data(), plane.data(), kWidth, kHeight);
    Helpers::SmoothBuffer(plane.data(), smooth.data(), kWidth, kHeight);
    CSharpness sharpness;
    sharpness.Open(kWidth, kHeight, 6 << 8 | 20);
    for (auto _ : state) {
        sharpness.ProcessMMX(smooth.data(), picture.data());
        benchmark::DoNotOptimize(picture.data());
    }
}
BENCHMARK(CSharpness_ProcessMMX_Cif)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);

void CImageProcess_BGRtoY_Cif(benchmark::State& state)
{
    const Bytes picture = renderedPicture();
    Bytes plane(kWidth * kHeight);
    for (auto _ : state) {
        Helpers::BGRtoY(picture.data(), plane.data(), kWidth, kHeight);
        benchmark::DoNotOptimize(plane.data());
    }
}
BENCHMARK(CImageProcess_BGRtoY_Cif)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);

void SmoothBufferCif(benchmark::State& state, CPU_PATH path)
{
    const korval::testing::ForcedCpuPath forced(path);
    const Bytes picture = renderedPicture();
    Bytes plane(kWidth * kHeight);
    Helpers::BGRtoY(picture.data(), plane.data(), kWidth, kHeight);
    std::vector<SHORT> smooth(kWidth * kHeight);
    for (auto _ : state) {
        Helpers::SmoothBuffer(plane.data(), smooth.data(), kWidth, kHeight);
        benchmark::DoNotOptimize(smooth.data());
    }
}
void CImageProcess_SmoothBuffer_Cif(benchmark::State& state) { SmoothBufferCif(state, CpuPathAvx2); }
void CImageProcess_SmoothBuffer_Cif_Sse2(benchmark::State& state) { SmoothBufferCif(state, CpuPathSse2); }
BENCHMARK(CImageProcess_SmoothBuffer_Cif)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CImageProcess_SmoothBuffer_Cif_Sse2)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);

void CImageProcess_CropColorBuffer_Qvga(benchmark::State& state)
{
    const Bytes picture = renderedPicture();
    Bytes crop(320 * 240 * 3);
    for (auto _ : state) {
        Helpers::CropColorBuffer(picture.data(), crop.data(), kWidth, kHeight, 320, 240);
        benchmark::DoNotOptimize(crop.data());
    }
}
BENCHMARK(CImageProcess_CropColorBuffer_Qvga)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);

void CImageProcess_ScaleBuffer_Vga(benchmark::State& state)
{
    const Bytes picture = renderedPicture();
    Bytes scaled(640 * 480 * 3);
    for (auto _ : state) {
        Helpers::ScaleBuffer(picture.data(), scaled.data(), 320, 240);
        benchmark::DoNotOptimize(scaled.data());
    }
}
BENCHMARK(CImageProcess_ScaleBuffer_Vga)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);

void CImageProcess_SubSampleBuffer_Qcif(benchmark::State& state)
{
    const Bytes picture = renderedPicture();
    Bytes reduced(176 * 144 * 3);
    for (auto _ : state) {
        Helpers::SubSampleBuffer(picture.data(), reduced.data(), kWidth, kHeight);
        benchmark::DoNotOptimize(reduced.data());
    }
}
BENCHMARK(CImageProcess_SubSampleBuffer_Qcif)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);

void CImageProcess_ColorBufferBorder_Cif(benchmark::State& state)
{
    Bytes picture = renderedPicture();
    for (auto _ : state) {
        Helpers::ColorBufferBorder(picture.data(), kWidth, kHeight);
        benchmark::DoNotOptimize(picture.data());
    }
}
BENCHMARK(CImageProcess_ColorBufferBorder_Cif)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);

void BGR24toI420At(benchmark::State& state, int width, int height)
{
    Bytes picture(static_cast<std::size_t>(width) * height * 3);
    const Bytes chart = renderedPicture();
    for (std::size_t i = 0; i < picture.size(); ++i) {
        picture[i] = chart[i % chart.size()];
    }
    Bytes i420(static_cast<std::size_t>(width) * height * 3 / 2);
    for (auto _ : state) {
        Helpers::BGR24toI420(picture.data(), i420.data(), width, height);
        benchmark::DoNotOptimize(i420.data());
    }
}

void CImageProcess_BGR24toI420_Cif(benchmark::State& state) { BGR24toI420At(state, 352, 288); }
void CImageProcess_BGR24toI420_Vga(benchmark::State& state) { BGR24toI420At(state, 640, 480); }
BENCHMARK(CImageProcess_BGR24toI420_Cif)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CImageProcess_BGR24toI420_Vga)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);

} // namespace
