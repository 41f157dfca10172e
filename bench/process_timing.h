// Times CImageProcess::Process on one Bayer frame at a steady exposure
// (30 frames/s, exposure 5000, unity gains). Each round processes a fresh
// copy, copied outside the timing: the defect stage corrects its input in
// place.
#pragma once

#include "imageprocess/CImageProcess.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace korval::bench {

inline void timeProcess(benchmark::State& state, CImageProcess& pipeline, const std::vector<std::uint8_t>& source,
                        std::vector<std::uint8_t>& output)
{
    std::vector<std::uint8_t> frame = source;
    tagIpInput in{};
    in.ucFrameRate = 30;
    in.ulExposure = 5000;
    in.usGain[0] = in.usGain[1] = in.usGain[2] = 128;
    tagIpOutput out{};
    out.pBuffer = output.data();
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(frame.data(), source.data(), frame.size());
        state.ResumeTiming();
        in.pBayer = frame.data();
        benchmark::DoNotOptimize(pipeline.Process(in, &out));
        benchmark::ClobberMemory();
    }
}

} // namespace korval::bench
