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
        cameraValues_ = output_;
    }

    void run(int frames)
    {
        for (int frame = 0; frame < frames; ++frame) {
            const SimulatedFrame captured = camera_.capture(cameraValues_);
            tagAeInput in = neutralFrame(cameraValues_, lastLuma_);
            in.ulRawLines = captured.raw;
            in.ulStep5Lines = captured.step5;
            in.ulStep9Lines = captured.step9;
            in.ulStep17Lines = captured.step17;
            in.ulDroppedLines = captured.dropped;
            in.ulCompressionRatio = captured.ratio;
            in.psLines = camera_.lines().data();
            ae_.Process(in, &output_);
            lastLuma_ = captured.luma;
            cameraValues_ = output_;
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
    tagAeOutput cameraValues_{};
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

struct Scenario {
    const char* name;
    double radiance;
    USHORT packetSize;
    int detail;
    bool rawFirst;
    bool fractional;
    USHORT lowestRow;   // the settled row lies in [lowestRow, highestRow]
    USHORT highestRow;
};

const Scenario kScenarios[] = {
    // About 35 flicker periods: beyond row 5's 12, within row 6's 39.
    {"dark start", 2, 1023, 0, true, false, 6, 6},
    {"bright start", 40, 1023, 0, true, false, 4, 4},
    {"saturated start, fractional exposure", 400, 1023, 0, true, true, 4, 4},
    // 512-byte packets and busy lines: row 4 leaves 132 bytes a line, too few.
    {"narrow bandwidth", 12, 512, 64, true, false, 5, 5},
    // Plain lines and a camera that always compresses: ratio and budgets allow
    // the fastest row. (A camera that fills its bandwidth with raw lines never
    // shows a ratio above the faster row's threshold.)
    {"wide bandwidth, plain lines", 40, 1023, -60, false, false, 0, 0},
};

TEST(AeClosedLoop, SettlesInTheBandAndOnARowWhoseLinesFit)
{
    for (const Scenario& s : kScenarios) {
        tagAeParameters p = defaultParameters(s.packetSize);
        p.ucFractionalExposure = s.fractional ? 1 : 0;
        SimulatedCamera camera(s.radiance, s.packetSize, kSensorWidth, kSensorHeight, s.detail, s.rawFirst);
        ClosedLoop loop(camera, p);
        ASSERT_TRUE(loop.opened()) << s.name;
        loop.run(kFrames);
        const int settled = loop.settledAt(90, 110);
        report(s.name, loop, settled);
        EXPECT_LE(settled, kSettleBound) << s.name;
        EXPECT_LE(loop.rowSteadyAt(), kSettleBound) << s.name;
        EXPECT_GE(loop.trace().rows.back(), s.lowestRow) << s.name;
        EXPECT_LE(loop.trace().rows.back(), s.highestRow) << s.name;
        // Settled frames keep every line and the coarse codes within the limits.
        for (int frame = kFrames - 100; frame < kFrames; ++frame) {
            EXPECT_EQ(loop.trace().frames[frame].dropped, 0u) << s.name << " frame " << frame;
            EXPECT_LE(loop.trace().frames[frame].step17, 2u) << s.name << " frame " << frame;
        }
    }
}

TEST(AeClosedLoop, SceneChangeSettlesAgainOnAFasterRow)
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
