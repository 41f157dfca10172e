// Decoding one 352 x 288 frame of a natural-looking scene coded at each kind,
// and the camera's cost of coding it.
#include "support/floating_point_scope.h"
#include "bench/fastest_run.h"
#include "camera/codec/frame_body_builder.h"
#include "decoder/FrameDecoder.h"
#include "sys/decoder/bayer_scene.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using korval::camera::LineKind;

constexpr int kWidth = 352;
constexpr int kHeight = 288;

const std::vector<std::uint8_t>& scene()
{
    static const std::vector<std::uint8_t> frame = korval::testing::naturalBayerScene(kWidth, kHeight);
    return frame;
}

std::vector<std::uint8_t> bodyOfKind(LineKind kind)
{
    korval::camera::FrameBodyBuilder builder(kWidth);
    for (int y = 0; y < kHeight; y++) {
        builder.addLine(scene().data() + y * kWidth, kind);
    }
    return builder.body();
}

void decodeFrames(benchmark::State& state, LineKind kind, bool reference)
{
    const std::vector<std::uint8_t> body = bodyOfKind(kind);
    FrameDecoder* decoder = new FrameDecoder;
    decoder->Open(kWidth, kHeight, 8);
    std::vector<std::uint8_t> output(kWidth * kHeight + 32768);
    std::vector<tagSDecompressionInformation> lines(kHeight);
    tagSDecompressionFrame frame{lines.data(), kHeight, 0, 0, 0, 0, 0, {}, output.data()};
    const auto length = static_cast<ULONG>(body.size());
    const auto outputLength = static_cast<ULONG>(output.size());
    for (auto _ : state) {
        const bool decoded = reference ? decoder->ProcessReference(body.data(), length, outputLength, &frame)
                                       : decoder->Process(body.data(), length, outputLength, &frame);
        if (!decoded) {
            state.SkipWithError("frame rejected");
            break;
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
    state.counters["body_bytes"] = static_cast<double>(body.size());
    decoder->Close();
    delete decoder;
}

void FrameDecoder_Process_Step5(benchmark::State& state) { decodeFrames(state, LineKind::Step5, false); }
void FrameDecoder_Process_Step9(benchmark::State& state) { decodeFrames(state, LineKind::Step9, false); }
void FrameDecoder_Process_Step17(benchmark::State& state) { decodeFrames(state, LineKind::Step17, false); }
void FrameDecoder_Process_Raw(benchmark::State& state) { decodeFrames(state, LineKind::Raw, false); }
// The decoder is plain code on every path; the variants show it.
void FrameDecoder_Process_Step5_Sse2(benchmark::State& state)
{
    const korval::testing::ForcedCpuPath forced(CpuPathSse2);
    decodeFrames(state, LineKind::Step5, false);
}
void FrameDecoder_Process_Step5_Plain(benchmark::State& state)
{
    const korval::testing::ForcedCpuPath forced(CpuPathPlain);
    decodeFrames(state, LineKind::Step5, false);
}
void FrameDecoder_ProcessReference_Step5(benchmark::State& state) { decodeFrames(state, LineKind::Step5, true); }

void FrameBodyBuilder_AddLine_Step5(benchmark::State& state)
{
    korval::camera::FrameBodyBuilder builder(kWidth);
    for (auto _ : state) {
        builder.clear();
        for (int y = 0; y < kHeight; y++) {
            builder.addLine(scene().data() + y * kWidth, LineKind::Step5);
        }
        benchmark::DoNotOptimize(builder.body().data());
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void codedLineSize_Step5(benchmark::State& state)
{
    for (auto _ : state) {
        std::size_t total = 0;
        for (int y = 0; y < kHeight; y++) {
            total += korval::camera::codedLineSize(scene().data() + y * kWidth, kWidth, LineKind::Step5);
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

} // namespace

BENCHMARK(FrameDecoder_Process_Step5)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(FrameDecoder_Process_Step9)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(FrameDecoder_Process_Step17)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(FrameDecoder_Process_Raw)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(FrameDecoder_Process_Step5_Sse2)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(FrameDecoder_Process_Step5_Plain)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(FrameDecoder_ProcessReference_Step5)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(FrameBodyBuilder_AddLine_Step5)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(codedLineSize_Step5)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
