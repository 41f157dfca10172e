// How true the delivered picture of the built-in colour chart is: each
// patch's mean colour (averaged over frames and over the patch's inside, away
// from its edges) against the patch's known sRGB colour.
#pragma once

#include "tools/korval/chart_check_colour.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace korval::tools {

constexpr int kChartPatches = 24;
constexpr int kFirstGreyPatch = 19; // 19 white ... 24 black, numbered from 1

struct PatchReading {
    std::array<double, 3> rgb{}; // mean R G B, 0..255
    Lab lab;
    double de00 = 0;
    bool clipped = false; // most of its pixels sit at the top or bottom in a colour
};

struct ChartReport {
    std::array<PatchReading, kChartPatches> patches{};
    double meanDe00 = 0;
    double worstDe00 = 0;
    int worstPatch = 0;     // 1..24
    double greyAbMax = 0;   // the largest |a*| or |b*| of the grey patches
    std::vector<int> clipped; // patch numbers
};

// Sums the patches of top-down R G B frames of the chart's picture.
class ChartAccumulator {
public:
    ChartAccumulator(int width, int height) : width_(width), height_(height) {}
    void add(std::span<const std::uint8_t> rgb);
    int frames() const { return frames_; }
    ChartReport report() const;

private:
    struct PatchSum {
        std::array<double, 3> sum{};
        long pixels = 0;
        long clippedPixels = 0;
    };
    int width_;
    int height_;
    int frames_ = 0;
    std::array<PatchSum, kChartPatches> sums_{};
};

} // namespace korval::tools
