#include "tools/korval/chart_check_measure.h"

#include "camera/sensor/scene.h"

#include <algorithm>
#include <cmath>

namespace korval::tools {
namespace {

struct Box {
    int x0, y0, x1, y1; // x1, y1 exclusive
};

// The patch's place in the picture: the chart scene's layout scaled to the
// picture, less a margin that keeps demosaicing and sharpening at the patch
// edges out of the mean.
Box insideOf(int patch, int width, int height)
{
    constexpr int kMargin = 6;
    const camera::ChartPatchBox box = camera::chartPatchBox(patch);
    auto scaleX = [&](int x) { return x * width / camera::kSensorWidth; };
    auto scaleY = [&](int y) { return y * height / camera::kSensorHeight; };
    return {scaleX(box.x0 + kMargin), scaleY(box.y0 + kMargin), scaleX(box.x1 - kMargin),
            scaleY(box.y1 - kMargin)};
}

bool atTheLimit(const std::uint8_t* pixel)
{
    return std::any_of(pixel, pixel + 3, [](std::uint8_t v) { return v >= 254 || v <= 1; });
}

} // namespace

void ChartAccumulator::add(std::span<const std::uint8_t> rgb)
{
    if (rgb.size() < static_cast<std::size_t>(width_) * height_ * 3) {
        return;
    }
    for (int patch = 0; patch < kChartPatches; ++patch) {
        const Box box = insideOf(patch, width_, height_);
        PatchSum& sum = sums_[static_cast<std::size_t>(patch)];
        for (int y = box.y0; y < box.y1; ++y) {
            for (int x = box.x0; x < box.x1; ++x) {
                const std::uint8_t* pixel = rgb.data() + (static_cast<std::size_t>(y) * width_ + x) * 3;
                for (int c = 0; c < 3; ++c) {
                    sum.sum[static_cast<std::size_t>(c)] += pixel[c];
                }
                ++sum.pixels;
                sum.clippedPixels += atTheLimit(pixel) ? 1 : 0;
            }
        }
    }
    ++frames_;
}

ChartReport ChartAccumulator::report() const
{
    ChartReport report;
    double total = 0;
    for (int patch = 0; patch < kChartPatches; ++patch) {
        const PatchSum& sum = sums_[static_cast<std::size_t>(patch)];
        PatchReading& reading = report.patches[static_cast<std::size_t>(patch)];
        for (int c = 0; c < 3; ++c) {
            reading.rgb[static_cast<std::size_t>(c)] = sum.pixels ? sum.sum[static_cast<std::size_t>(c)] / sum.pixels : 0;
        }
        reading.lab = labFromSrgb(reading.rgb[0], reading.rgb[1], reading.rgb[2]);
        const std::uint8_t* known = camera::kColourChartSrgb[patch];
        reading.de00 = ciede2000(labFromSrgb(known[0], known[1], known[2]), reading.lab);
        reading.clipped = sum.pixels > 0 && sum.clippedPixels * 2 > sum.pixels;
        total += reading.de00;
        if (reading.de00 > report.worstDe00) {
            report.worstDe00 = reading.de00;
            report.worstPatch = patch + 1;
        }
        if (patch + 1 >= kFirstGreyPatch) {
            report.greyAbMax = std::max({report.greyAbMax, std::abs(reading.lab.a), std::abs(reading.lab.b)});
        }
        if (reading.clipped) {
            report.clipped.push_back(patch + 1);
        }
    }
    report.meanDe00 = total / kChartPatches;
    return report;
}

} // namespace korval::tools
