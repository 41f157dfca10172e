// Auto exposure in a closed loop with a simulated camera, fed as the capture
// pipeline feeds it: the luma of the previous frame, the camera's current values
// and the line statistics of the frame just received.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ae_harness.h"
#include "simulated_camera.h"

namespace korval::testing {
namespace {

struct LoopTrace {
    std::vector<UCHAR> lumas;   // luma of each captured frame
    std::vector<USHORT> rows;   // timing row after each frame
    std::vector<SimulatedFrame> frames;
};

class ClosedLoop {
public:
    ClosedLoop(SimulatedCamera& camera, const tagAeParameters& parameters) : camera_(camera)
    {
        opened_ = ae_.Open(kSensorWidth, kSensorHeight, false, 0, parameters, &output_);
        camera_values_ = output_;
    }

    void run(int frames)
    {
        for (int frame = 0; frame < frames; ++frame) {
            const SimulatedFrame captured = camera_.capture(camera_values_);
            tagAeInput in = neutralFrame(camera_values_, lastLuma_);
            in.ulRawLines = captured.raw;
            in.ulStep5Lines = captured.step5;
            in.ulStep9Lines = captured.step9;
            in.ulStep17Lines = captured.step17;
            in.ulDroppedLines = captured.dropped;
            in.ulCompressionRatio = captured.ratio;
            in.psLines = camera_.lines().data();
            ae_.Process(in, &output_);
            lastLuma_ = captured.luma;
            camera_values_ = output_;
            trace_.lumas.push_back(captured.luma);
            trace_.rows.push_back(ae_.row());
            trace_.frames.push_back(captured);
        }
    }

    // First frame from which every captured luma stays inside [low, high].
    int settledAt(int low, int high) const
    {
        int settled = static_cast<int>(trace_.lumas.size());
        for (int frame = settled - 1; frame >= 0 && trace_.lumas[frame] >= low && trace_.lumas[frame] <= high;
             --frame) {
            settled = frame;
        }
        return settled;
    }

    // First frame from which the row never changes again.
    int rowSteadyAt() const
    {
        int steady = static_cast<int>(trace_.rows.size()) - 1;
        while (steady > 0 && trace_.rows[steady - 1] == trace_.rows.back()) {
            --steady;
        }
        return steady;
    }

    bool opened() const { return opened_; }
    const CAeProbe& ae() const { return ae_; }
    const LoopTrace& trace() const { return trace_; }

private:
    SimulatedCamera& camera_;
    CAeProbe ae_;
    tagAeOutput output_{};
    tagAeOutput camera_values_{};
    UCHAR lastLuma_ = 0;
    bool opened_ = false;
    LoopTrace trace_;
};

void report(const char* name, const ClosedLoop& loop, int settled)
{
    std::printf("[ closed loop ] %s: luma in 90..110 from frame %d, row %d steady from frame %d, "
                "final luma %d, exposure %.4g\n",
                name, settled, int(loop.trace().rows.back()), loop.rowSteadyAt(), int(loop.trace().lumas.back()),
                loop.ae().exposure());
}

constexpr int kFrames = 300;
constexpr int kSettleBound = 60;  // frames, warm-up of 10 included

TEST(AeClosedLoop, DarkStartSettlesOnALongExposureRow)
{
    SimulatedCamera camera(2, 1023, kSensorWidth, kSensorHeight);
    ClosedLoop loop(camera, defaultParameters());
    ASSERT_TRUE(loop.opened());
    loop.run(kFrames);
    const int settled = loop.settledAt(90, 110);
    report("dark start", loop, settled);
    EXPECT_LE(settled, kSettleBound);
    EXPECT_LE(loop.rowSteadyAt(), kSettleBound);
    // About 35 flicker periods: beyond row 5's 12, within row 6's 39.
    EXPECT_EQ(loop.trace().rows.back(), 6);
}

TEST(AeClosedLoop, BrightStartSettlesOnAShortExposure)
{
    SimulatedCamera camera(40, 1023, kSensorWidth, kSensorHeight);
    ClosedLoop loop(camera, defaultParameters());
    loop.run(kFrames);
    const int settled = loop.settledAt(90, 110);
    report("bright start", loop, settled);
    EXPECT_LE(settled, kSettleBound);
    EXPECT_LT(loop.ae().exposure(), 4.0);
    EXPECT_EQ(loop.trace().rows.back(), 4);
}

TEST(AeClosedLoop, SaturatedStartWithFractionalExposureSettles)
{
    tagAeParameters p = defaultParameters();
    p.ucFractionalExposure = 1;
    SimulatedCamera camera(400, 1023, kSensorWidth, kSensorHeight);
    ClosedLoop loop(camera, p);
    loop.run(kFrames);
    const int settled = loop.settledAt(90, 110);
    report("saturated start, fractional exposure", loop, settled);
    EXPECT_LE(settled, kSettleBound);
    EXPECT_LT(loop.ae().exposure(), 1.0);
}

TEST(AeClosedLoop, NarrowBandwidthSettlesWhereTheLinesFit)
{
    // 512-byte packets and busy lines: row 4 leaves 132 bytes a line, too few.
    SimulatedCamera camera(12, 512, kSensorWidth, kSensorHeight, 64);
    ClosedLoop loop(camera, defaultParameters(512));
    loop.run(kFrames);
    const int settled = loop.settledAt(90, 110);
    report("narrow bandwidth", loop, settled);
    EXPECT_LE(settled, kSettleBound);
    EXPECT_LE(loop.rowSteadyAt(), kSettleBound);
    const USHORT row = loop.trace().rows.back();
    EXPECT_GE(row, 5);
    // Settled frames keep every line and the coarse codes within the limits.
    for (int frame = kFrames - 100; frame < kFrames; ++frame) {
        const SimulatedFrame& f = loop.trace().frames[frame];
        EXPECT_EQ(f.dropped, 0u) << frame;
        EXPECT_LE(f.step17, 2u) << frame;
    }
}

TEST(AeClosedLoop, WideBandwidthAndPlainLinesReachTheFastestRows)
{
    // Plain lines, full-size packets and a camera that always compresses: the
    // frames compress well enough, and their lines fit the faster rows' budgets,
    // to move the timing faster. (A camera that fills its bandwidth with raw
    // lines never shows a ratio above the faster row's threshold.)
    SimulatedCamera camera(40, 1023, kSensorWidth, kSensorHeight, -60, false);
    ClosedLoop loop(camera, defaultParameters());
    loop.run(kFrames);
    const int settled = loop.settledAt(90, 110);
    report("wide bandwidth, plain lines", loop, settled);
    EXPECT_LE(settled, kSettleBound);
    EXPECT_LE(loop.rowSteadyAt(), kSettleBound);
    EXPECT_EQ(loop.trace().rows.back(), 0);
    for (int frame = kFrames - 100; frame < kFrames; ++frame) {
        EXPECT_EQ(loop.trace().frames[frame].dropped, 0u) << frame;
    }
}

TEST(AeClosedLoop, SceneChangeSettlesAgain)
{
    SimulatedCamera camera(2, 1023, kSensorWidth, kSensorHeight);
    ClosedLoop loop(camera, defaultParameters());
    loop.run(150);
    ASSERT_EQ(loop.trace().rows.back(), 6);
    camera.setRadiance(30);
    loop.run(150);
    const int settled = loop.settledAt(90, 110);
    report("dark to bright", loop, settled);
    EXPECT_LE(settled - 150, kSettleBound - 10);
    // Row 6 sends at the full rate, so the shorter exposure takes a faster row.
    EXPECT_LT(loop.trace().rows.back(), 6);
}

} // namespace
} // namespace korval::testing
