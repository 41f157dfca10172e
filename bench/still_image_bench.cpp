// The still writer's conversion of a 640 x 480 I420 frame to bottom-up BGR:
// it runs under the lock that the frame pipeline takes for every frame, so
// its length is how long a still can hold the pipeline up.
#include "bench/fastest_run.h"
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "control/I420ToBgr.h"

namespace {

constexpr ULONG kWidth = 640;
constexpr ULONG kHeight = 480;

std::vector<std::uint8_t> randomFrame()
{
    std::mt19937 generator(1);
    std::vector<std::uint8_t> frame(I420FrameBytes(kWidth, kHeight));
    for (auto& byte : frame) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return frame;
}

template <bool (*Convert)(const UCHAR*, PUCHAR, ULONG, ULONG)>
void RunConversion(benchmark::State& state)
{
    const auto source = randomFrame();
    std::vector<std::uint8_t> picture(std::size_t{3} * kWidth * kHeight);
    for (auto _ : state) {
        Convert(source.data(), picture.data(), kWidth, kHeight);
        benchmark::DoNotOptimize(picture.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void I420ToBgrBottomUp_640x480(benchmark::State& state)
{
    RunConversion<I420ToBgrBottomUp>(state);
}

void I420ToBgrBottomUpReference_640x480(benchmark::State& state)
{
    RunConversion<I420ToBgrBottomUpReference>(state);
}

} // namespace

BENCHMARK(I420ToBgrBottomUp_640x480)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(I420ToBgrBottomUpReference_640x480)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", korval::bench::fastestRun);
