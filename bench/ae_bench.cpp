// Auto exposure per frame: the common in-band frame, a brightness step with its
// new timing, and a faster-row move with the line-by-line bandwidth test.
#include "bench/fastest_run.h"
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "ae/CAe.h"
#include "sys/ae/ae_harness.h"

namespace {

// The pipeline's defaults, moving to a faster row after one good frame.
tagAeParameters benchParameters()
{
    tagAeParameters p = korval::testing::defaultParameters();
    p.ucUpFrames = 1;
    return p;
}

// Puts the object back to the same state before each measured frame.
class CAeBench : public CAe {
public:
    void Rewind(USHORT row)
    {
        m_ucFramesSkipped = m_ucFramesToSkip;
        m_usRow = row;
        m_dTotal = 8.0;
        m_dExposure = 4.0;
        m_ucUpCount = 0;
    }
};

struct BenchSetup {
    BenchSetup() : lines(288, tagSDecompressionInformation{0xE1, 180})
    {
        ae.Open(352, 288, false, 0, benchParameters(), &out);
        for (int frame = 0; frame < 10; ++frame) {
            ae.Process(frameWith(100, 38), &out);
        }
    }

    tagAeInput frameWith(UCHAR luma, ULONG ratio)
    {
        tagAeInput in{};
        in.ucLuma = luma;
        in.usLineClocks = 444;
        in.usClockDivider = 7;
        in.usFrameLines = 293;
        in.usExposureStartLine = 165;
        in.usFineDelay = 1;
        in.usGain = 10;
        in.usRateValue = 126;
        in.usShortExposureValue = 46;
        in.ulStep5Lines = 270;
        in.ulStep9Lines = 18;
        in.ulCompressionRatio = ratio;
        in.psLines = lines.data();
        return in;
    }

    CAeBench ae;
    tagAeOutput out{};
    std::vector<tagSDecompressionInformation> lines;
};

void CAe_Process_InBand(benchmark::State& state)
{
    BenchSetup setup;
    const tagAeInput in = setup.frameWith(100, 38);
    for (auto _ : state) {
        setup.ae.Process(in, &setup.out);
        benchmark::DoNotOptimize(setup.out);
    }
}
BENCHMARK(CAe_Process_InBand)->ComputeStatistics("min", korval::bench::fastestRun);

void CAe_Process_BrightnessStep(benchmark::State& state)
{
    BenchSetup setup;
    const tagAeInput dark = setup.frameWith(20, 38);
    for (auto _ : state) {
        setup.ae.Rewind(4);
        setup.ae.Process(dark, &setup.out);
        benchmark::DoNotOptimize(setup.out);
    }
}
BENCHMARK(CAe_Process_BrightnessStep)->ComputeStatistics("min", korval::bench::fastestRun);

void CAe_Process_FasterRowWithRegionTest(benchmark::State& state)
{
    BenchSetup setup;
    const tagAeInput good = setup.frameWith(100, 200);
    for (auto _ : state) {
        setup.ae.Rewind(4);
        setup.ae.Process(good, &setup.out);
        benchmark::DoNotOptimize(setup.out);
    }
}
BENCHMARK(CAe_Process_FasterRowWithRegionTest)->ComputeStatistics("min", korval::bench::fastestRun);

} // namespace
