// The frame collector per camera frame: one 352 x 288 frame (marker, header,
// coded lines) fed in 1023-byte isochronous packets, the finished frame copied
// into a frame buffer as the driver's hand-over does. The bright scene's raw
// lines are full of FF bytes, the worst case for the marker search.
#include "support/floating_point_scope.h"
#include "fastest_run.h"

#include "camera/codec/frame_body_builder.h"
#include "usb/FrameCollector.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kWidth = 352, kHeight = 288, kPacket = 1023;
constexpr std::size_t kBufferBytes = kWidth * kHeight + 32768;

std::vector<std::uint8_t> frameStream(bool bright)
{
    std::mt19937 random(3);
    korval::camera::FrameBodyBuilder builder(kWidth);
    std::vector<std::uint8_t> line(kWidth);
    for (std::size_t y = 0; y < kHeight; ++y) {
        for (std::size_t x = 0; x < kWidth; ++x) {
            const int base = bright ? 250 : static_cast<int>(40 + (x + y) % 160);
            line[x] = static_cast<std::uint8_t>(std::min(255, base + static_cast<int>(random() % 12)));
        }
        builder.addLine(line.data(), y % 2 == 0 ? korval::camera::LineKind::Raw : korval::camera::LineKind::Step5);
    }
    std::vector<std::uint8_t> stream(FRAME_MARKER, FRAME_MARKER + FRAME_MARKER_BYTES);
    for (std::uint8_t i = 0; i < FRAME_HEADER_BYTES; ++i) {
        stream.push_back(i);
    }
    stream.insert(stream.end(), builder.body().begin(), builder.body().end());
    return stream;
}

struct HandOverTarget {
    std::vector<std::uint8_t> frame = std::vector<std::uint8_t>(kBufferBytes);
    std::size_t frames = 0;
};

VOID copyFrame(PVOID context, const UCHAR* frame, ULONG length)
{
    auto* target = static_cast<HandOverTarget*>(context);
    std::memcpy(target->frame.data(), frame, length);
    ++target->frames;
}

void collectFrames(benchmark::State& state, bool bright, decltype(&CollectPacket) feed)
{
    const std::vector<std::uint8_t> stream = frameStream(bright);
    std::vector<std::uint8_t> buffer(kBufferBytes);
    HandOverTarget target;
    tagFrameCollector collector = {buffer.data(), buffer.data(), buffer.data() + buffer.size(), 25000, 0,
                                   COLLECT_SEARCH, 0, copyFrame, &target, 0};
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += kPacket) {
            const std::size_t length = std::min(kPacket, stream.size() - at);
            feed(&collector, stream.data() + at, static_cast<ULONG>(length));
        }
        benchmark::DoNotOptimize(target.frames);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

void CollectPacket_Frame(benchmark::State& state) { collectFrames(state, false, CollectPacket); }
// The paths a 32-bit Windows kernel runs: the SSE2 search and the plain one.
void CollectPacket_BrightFrame_Sse2(benchmark::State& state)
{
    const korval::testing::ForcedCpuPath forced(CpuPathSse2);
    collectFrames(state, true, CollectPacket);
}
void CollectPacket_BrightFrame_Plain(benchmark::State& state)
{
    const korval::testing::ForcedCpuPath forced(CpuPathPlain);
    collectFrames(state, true, CollectPacket);
}
void CollectPacket_BrightFrame(benchmark::State& state) { collectFrames(state, true, CollectPacket); }
void CollectPacketReference_Frame(benchmark::State& state) { collectFrames(state, false, CollectPacketReference); }
void CollectPacketReference_BrightFrame(benchmark::State& state)
{
    collectFrames(state, true, CollectPacketReference);
}

} // namespace

BENCHMARK(CollectPacket_Frame)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CollectPacket_BrightFrame)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CollectPacket_BrightFrame_Sse2)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CollectPacket_BrightFrame_Plain)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CollectPacketReference_Frame)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", korval::bench::fastestRun);
BENCHMARK(CollectPacketReference_BrightFrame)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", korval::bench::fastestRun);
