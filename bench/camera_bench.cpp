// The virtual camera's cost per video frame: sensor rendering, line planning
// against the FIFO, coding, and handing the bytes out in packets.
#include "camera/sensor/sensor.h"
#include "camera/virtual_camera.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace korval;

camera::SensorSettings timingRow(int divider)
{
    camera::SensorSettings s;
    s.clockDivider = divider;
    s.frameLines = 301;
    s.exposureStartLine = 1;
    return s;
}

void Sensor_Render_ColourChart(benchmark::State& state)
{
    camera::SensorOptions options;
    options.noiseSigma = static_cast<double>(state.range(0));
    camera::Sensor sensor(options);
    sensor.setScene(camera::makeColourChart());
    std::vector<std::uint8_t> bayer;
    for (auto _ : state) {
        sensor.render(timingRow(3), 0.0, bayer);
        benchmark::DoNotOptimize(bayer.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(Sensor_Render_ColourChart)->Arg(0)->Arg(3)->Unit(benchmark::kMicrosecond);

// One whole video frame through the stream: render, plan every line's kind
// against the FIFO, code and queue it, and hand it out in packets.
void VideoStream_Frame(benchmark::State& state)
{
    const int divider = static_cast<int>(state.range(0));
    camera::VirtualCamera device;
    device.configured(true);
    device.alternateSelected(0, 8);
    host::SetupPacket write{0x41, camera::kRequestWriteRegister, 0, 0, 0};
    for (auto [address, value] : {std::pair{0x02, divider}, {0x13, 1}, {0x1C, 1}, {0x40, 1}}) {
        write.index = static_cast<std::uint16_t>(address);
        write.value = static_cast<std::uint16_t>(value);
        device.control(write, nullptr);
    }
    const int periodMs = static_cast<int>(divider * 444.0 * 301.0 / 12000.0) + 1;
    std::vector<std::uint8_t> packet(1023);
    std::uint64_t frame = 0;
    for (auto _ : state) {
        for (int i = 0; i < periodMs; ++i) {
            device.startOfFrame(++frame);
            benchmark::DoNotOptimize(device.isochronousIn(camera::kVideoEndpointAddress, packet.data(), packet.size()));
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(VideoStream_Frame)->Arg(3)->Arg(9)->Arg(20)->Unit(benchmark::kMicrosecond);

} // namespace
