// VideoEffects: every effect at CIF and VGA in both formats, the overlay
// compositor at every output size, and the overlay conversion.
#include "bench/fastest_run.h"
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "effects/VideoEffects.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Bench {
    std::unique_ptr<VideoEffects> effects;
    Bytes work;
    Bytes source;
    Bytes destination;
};

Bench makeBench(ULONG width, ULONG height, ULONG format)
{
    Bench bench;
    bench.effects.reset(new VideoEffects());
    const ULONG bytes = format == VE_FORMAT_I420 ? width * height * 3 / 2 : width * height * 3;
    VE_IMAGE_DESCRIPTION output = {24, width, height, 24, format, bytes};
    VE_IMAGE_DESCRIPTION overlay = {24, 352, 288, 24, format, 304128};
    VE_IMAGE_DESCRIPTION mask = {24, 352, 288, 8, 0, 101376};
    ULONG workBytes = 0;
    bench.effects->Setup(&output, &overlay, &mask, nullptr, &workBytes);
    bench.work.resize(workBytes);
    bench.effects->Setup(&output, &overlay, &mask, bench.work.data(), &workBytes);
    bench.source.resize(bytes);
    unsigned state = 12345;
    for (auto& byte : bench.source) {  // a smooth picture with some noise, like a camera's
        state = state * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(((&byte - bench.source.data()) / 7 % 200) + ((state >> 16) & 31));
    }
    bench.destination.resize(bytes);
    return bench;
}

void runEffect(benchmark::State& state, ULONG effect, ULONG width, ULONG height, ULONG format)
{
    Bench bench = makeBench(width, height, format);
    for (auto _ : state) {
        const BOOLEAN done = bench.effects->ProcessEffect(bench.source.data(), static_cast<ULONG>(bench.source.size()),
                                                          bench.destination.data(),
                                                          static_cast<ULONG>(bench.destination.size()), effect, nullptr);
        benchmark::DoNotOptimize(done);
        benchmark::ClobberMemory();
    }
}

void runComposite(benchmark::State& state, ULONG width, ULONG height, ULONG format)
{
    Bench bench = makeBench(width, height, format);
    Bytes overlay(336896, 90);
    Bytes mask(134144);
    for (std::size_t i = 0; i < mask.size(); ++i) {
        mask[i] = static_cast<unsigned char>(i * 13);
    }
    for (auto _ : state) {
        VE_PICTURE picture = {sizeof(VE_PICTURE), overlay.data(), static_cast<ULONG>(overlay.size()), 0};
        VE_PICTURE weights = {sizeof(VE_PICTURE), mask.data(), static_cast<ULONG>(mask.size()), 0};
        VE_PICTURE in = {sizeof(VE_PICTURE), bench.source.data(), static_cast<ULONG>(bench.source.size()), 0};
        VE_PICTURE out = {sizeof(VE_PICTURE), bench.destination.data(), static_cast<ULONG>(bench.destination.size()), 0};
        benchmark::DoNotOptimize(bench.effects->Composite(&picture, &weights, &in, &out));
        benchmark::ClobberMemory();
    }
}

void VideoEffects_ConvertBgrToI420_Overlay(benchmark::State& state)
{
    Bench bench = makeBench(352, 288, VE_FORMAT_I420);
    Bytes picture(336896, 77), i420(184832);
    for (auto _ : state) {
        VE_PICTURE in = {sizeof(VE_PICTURE), picture.data(), static_cast<ULONG>(picture.size()), 0};
        VE_PICTURE out = {sizeof(VE_PICTURE), i420.data(), static_cast<ULONG>(i420.size()), 0};
        benchmark::DoNotOptimize(bench.effects->ConvertBgrToI420(&in, &out));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(VideoEffects_ConvertBgrToI420_Overlay)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);

const char* const kEffectNames[] = {"",          "Negative", "BlackWhite", "GreenTone", "Grey",
                                    "BlueTone",  "RedTone",  "Relief",     "ColorSketch", "Mosaic",
                                    "Streaks",   "Solarise", "Sepia",      "OilPaint",  "GreySketch",
                                    "FrostedGlass"};

struct Registrar {
    Registrar()
    {
        struct Size { ULONG width, height; const char* name; };
        const Size sizes[] = {{352, 288, "CIF"}, {640, 480, "VGA"}};
        for (ULONG effect = 1; effect <= 15; ++effect) {
            for (const Size& size : sizes) {
                for (ULONG format : {VE_FORMAT_BGR24, VE_FORMAT_I420}) {
                    const std::string name = std::string("VideoEffects_") + kEffectNames[effect] + "_" + size.name +
                                             (format == VE_FORMAT_I420 ? "_I420" : "_BGR24");
                    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
                        runEffect(state, effect, size.width, size.height, format);
                    })->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
                }
            }
        }
        const Size outputs[] = {{640, 480, "VGA"}, {352, 288, "CIF"}, {320, 240, "QVGA"}, {176, 144, "QCIF"}, {160, 120, "QQVGA"}};
        for (const Size& size : outputs) {
            for (ULONG format : {VE_FORMAT_BGR24, VE_FORMAT_I420}) {
                const std::string name = std::string("VideoEffects_Composite_") + size.name +
                                         (format == VE_FORMAT_I420 ? "_I420" : "_BGR24");
                benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
                    runComposite(state, size.width, size.height, format);
                })->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
            }
        }
    }
};
const Registrar registrar;

} // namespace
