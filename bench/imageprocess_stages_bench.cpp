// Per-frame cost of the demosaic, rearrangement, white-balance and tone stages
// on a CIF frame, fast paths against their plain references.
#include "bench/fastest_run.h"
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "imageprocess/CAwb.h"
#include "imageprocess/CColorProcess.h"
#include "imageprocess/CGamma.h"
#include "imageprocess/CInterpolation.h"
#include "imageprocess/CRearrange.h"
#include "support/floating_point_scope.h"
#include "sys/imageprocess/IpStageFrames.h"

namespace {

using korval::tests::kCifHeight;
using korval::tests::kCifWidth;

constexpr tagIpColorParameters kDefaultColour{{100, 100, 100}, 0, 160, {3000, 2000, 2000, 2000, 3000, 2000, 2000, 2000, 3000}};
constexpr tagIpGammaParameters kDefaultTone{70, 5, 255, {{0, 0}, {0, 0}, {0, 0}, {32, 32}, {192, 192}}};

void interpolation(benchmark::State& state, bool reference)
{
    auto frame = korval::tests::naturalFrame(kCifWidth, kCifHeight, 0);
    CInterpolation stage;
    stage.Open(kCifWidth + 4, kCifHeight + 4, 0);
    for (auto _ : state) {
        bool ok = reference ? stage.ProcessReference(frame.bayer.data(), frame.green.data(), frame.packed.data(), 0)
                            : stage.Process(frame.bayer.data(), frame.green.data(), frame.packed.data(), 0);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
}

void colorProcess(benchmark::State& state, bool reference)
{
    auto frame = korval::tests::naturalFrame(kCifWidth, kCifHeight, 0);
    CColorProcess stage;
    stage.Open(kCifWidth, kCifHeight, 0, kDefaultColour);
    for (auto _ : state) {
        bool ok = reference ? stage.ProcessReference(frame.bayer.data(), frame.green.data(), frame.packed.data())
                            : stage.Process(frame.bayer.data(), frame.green.data(), frame.packed.data());
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
}

void rearrange(benchmark::State& state, bool reference)
{
    std::vector<std::uint8_t> packed(3 * kCifWidth * kCifHeight, 77), image(packed.size());
    CRearrange stage;
    stage.Open(kCifWidth, kCifHeight);
    for (auto _ : state) {
        bool ok = reference ? stage.Process_4B4G4RReference(packed.data(), image.data(), 0, 1)
                            : stage.Process_4B4G4R(packed.data(), image.data(), 0, 1);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
}

void gamma(benchmark::State& state, bool reference)
{
    std::vector<std::uint8_t> image(3 * kCifWidth * kCifHeight);
    std::mt19937 generator(1);
    for (auto& byte : image) {
        byte = static_cast<std::uint8_t>(generator());
    }
    CGamma stage;
    stage.Open(kCifWidth, kCifHeight, kDefaultTone);
    for (auto _ : state) {
        bool ok = reference ? stage.ProcessReference(image.data(), 1, 1) : stage.Process(image.data(), 1, 1);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
}

void CInterpolation_Process(benchmark::State& state) { interpolation(state, false); }
void CInterpolation_ProcessReference(benchmark::State& state) { interpolation(state, true); }
void CColorProcess_Process(benchmark::State& state) { colorProcess(state, false); }
// The SSE2 path, which the 32-bit Windows image runs.
void CInterpolation_Process_Sse2(benchmark::State& state)
{
    const korval::testing::ForcedCpuPath forced(CpuPathSse2);
    interpolation(state, false);
}
void CColorProcess_Process_Sse2(benchmark::State& state)
{
    const korval::testing::ForcedCpuPath forced(CpuPathSse2);
    colorProcess(state, false);
}
void CColorProcess_ProcessReference(benchmark::State& state) { colorProcess(state, true); }
void CRearrange_Process_4B4G4R(benchmark::State& state) { rearrange(state, false); }
void CRearrange_Process_4B4G4RReference(benchmark::State& state) { rearrange(state, true); }
void CGamma_Process(benchmark::State& state) { gamma(state, false); }
void CGamma_ProcessReference(benchmark::State& state) { gamma(state, true); }

// One measuring call: the stage measures on one call in four, so each
// iteration makes four calls and counts as one measured frame.
void awbMeasure(benchmark::State& state, bool reference)
{
    auto frame = korval::tests::naturalFrame(kCifWidth, kCifHeight, 0);
    std::vector<std::uint8_t> bayer(kCifWidth * kCifHeight);
    for (int r = 0; r < kCifHeight; ++r) {
        for (int c = 0; c < kCifWidth; ++c) {
            bayer[r * kCifWidth + c] = frame.at(r, c);
        }
    }
    CAwb stage;
    stage.Open(kCifWidth, kCifHeight, 0, 0, tagIpAwbParameters{20, 235, 90, 35, 35, 20, 256, 128});
    UCHAR index[3] = {0, 0, 0}, nextIndex[3];
    USHORT gain[3] = {128, 128, 128}, nextGain[3];
    for (auto _ : state) {
        for (int call = 0; call < 4; ++call) {
            benchmark::DoNotOptimize(reference ? stage.ProcessReference(bayer.data(), index, gain, nextIndex, nextGain)
                                               : stage.Process(bayer.data(), index, gain, nextIndex, nextGain));
        }
    }
}

void CAwb_Process_Measure(benchmark::State& state) { awbMeasure(state, false); }
void CAwb_ProcessReference_Measure(benchmark::State& state) { awbMeasure(state, true); }

} // namespace

BENCHMARK(CInterpolation_Process)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CInterpolation_ProcessReference)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CColorProcess_Process)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CInterpolation_Process_Sse2)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CColorProcess_Process_Sse2)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CColorProcess_ProcessReference)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CRearrange_Process_4B4G4R)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CRearrange_Process_4B4G4RReference)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CGamma_Process)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CGamma_ProcessReference)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CAwb_Process_Measure)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CAwb_ProcessReference_Measure)->ComputeStatistics("min", korval::bench::fastestRun);
