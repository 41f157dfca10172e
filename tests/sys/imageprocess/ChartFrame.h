// Test pictures for the pipeline: a 24-patch colour chart rendered into a
// B G / G R Bayer mosaic, and the parameter record the driver starts with.
#pragma once

#include "imageprocess/CImageProcess.h"
#include "support/ip_parameters.h"

#include <cstdint>
#include <random>
#include <vector>

namespace korval::testing {

// Linear-ish sRGB levels of a classic 6 x 4 colour-checker layout.
inline constexpr std::uint8_t kChartPatches[24][3] = {
    {115, 82, 68},   {194, 150, 130}, {98, 122, 157},  {87, 108, 67},   {133, 128, 177}, {103, 189, 170},
    {214, 126, 44},  {80, 91, 166},   {193, 90, 99},   {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
    {56, 61, 150},   {70, 148, 73},   {175, 54, 60},   {231, 199, 31},  {187, 86, 149},  {8, 133, 161},
    {243, 243, 242}, {200, 200, 200}, {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52},
};

// R G B of the chart at (row, column) of a width x height frame: patches on a
// dark surround, with a small gap between them.
inline void chartColour(int row, int column, int width, int height, std::uint8_t rgb[3])
{
    const int patchWidth = width / 6;
    const int patchHeight = height / 4;
    const int px = column / patchWidth;
    const int py = row / patchHeight;
    const int gap = patchWidth / 10;
    const bool inside = px < 6 && py < 4 && column % patchWidth >= gap && row % patchHeight >= gap &&
                        column % patchWidth < patchWidth - gap && row % patchHeight < patchHeight - gap;
    for (int k = 0; k < 3; ++k) {
        rgb[k] = inside ? kChartPatches[py * 6 + px][k] : 20;
    }
}

// The chart as the sensor sees it: one sample per pixel, B G / G R cells.
// With sensorResponse, red and blue come out at 8/10 and 8/11 of green, the
// response the white balance expects of the camera at gain index 0.
inline std::vector<std::uint8_t> chartBayer(int width, int height, bool sensorResponse = false)
{
    std::vector<std::uint8_t> bayer(static_cast<std::size_t>(width) * height);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            std::uint8_t rgb[3];
            chartColour(r, c, width, height, rgb);
            const int channel = (r % 2 == 0 && c % 2 == 0) ? 2 : ((r % 2 == 1 && c % 2 == 1) ? 0 : 1);
            int value = rgb[channel];
            if (sensorResponse && channel != 1) {
                value = value * 8 / (channel == 0 ? 10 : 11);
            }
            bayer[static_cast<std::size_t>(r) * width + c] = static_cast<std::uint8_t>(value);
        }
    }
    return bayer;
}

// The chart with sensor-like noise (±3, seeded), so that the defect scan and
// coring see realistic data rather than perfectly flat patches.
inline std::vector<std::uint8_t> noisyChartBayer(int width, int height)
{
    std::vector<std::uint8_t> bayer = chartBayer(width, height);
    std::mt19937 random(3);
    for (auto& sample : bayer) {
        const int value = sample + static_cast<int>(random() % 7) - 3;
        sample = static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
    }
    return bayer;
}

} // namespace korval::testing
