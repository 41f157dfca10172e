#include "camera/sensor/scene.h"

#include <algorithm>
#include <cmath>

namespace korval::camera {

const std::uint8_t kColourChartSrgb[24][3] = {
    {115, 82, 68},   {194, 150, 130}, {98, 122, 157},  {87, 108, 67},   {133, 128, 177},
    {103, 189, 170}, {214, 126, 44},  {80, 91, 166},   {193, 90, 99},   {94, 60, 108},
    {157, 188, 64},  {224, 163, 46},  {56, 61, 150},   {70, 148, 73},   {175, 54, 60},
    {231, 199, 31},  {187, 86, 149},  {8, 133, 161},   {243, 243, 242}, {200, 200, 200},
    {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52},
};

float linearFromSrgb(std::uint8_t value)
{
    const double c = value / 255.0;
    return static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

namespace {

void fill(LinearImage& out, int x0, int y0, int x1, int y1, const float rgb[3])
{
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            float* p = out.pixel(x, y);
            p[0] = rgb[0];
            p[1] = rgb[1];
            p[2] = rgb[2];
        }
    }
}

class FlatScene final : public Scene {
public:
    FlatScene(float r, float g, float b) : colour_{r, g, b} {}
    void render(double, LinearImage& out) const override
    {
        fill(out, 0, 0, out.width, out.height, colour_);
    }

private:
    float colour_[3];
};

// White, yellow, cyan, green, magenta, red, blue, black at 75 % reflectance.
class ColourBars final : public Scene {
public:
    void render(double, LinearImage& out) const override
    {
        static const float kBars[8][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0},
                                          {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};
        for (int bar = 0; bar < 8; ++bar) {
            const float level = 0.75F;
            const float rgb[3] = {kBars[bar][0] * level, kBars[bar][1] * level,
                                  kBars[bar][2] * level};
            fill(out, bar * out.width / 8, 0, (bar + 1) * out.width / 8, out.height, rgb);
        }
    }
};

} // namespace

ChartPatchBox chartPatchBox(int patch)
{
    const int chartW = kSensorWidth * 2 / 3;
    const int chartH = kSensorHeight * 2 / 3;
    const int cellW = chartW / 6;
    const int cellH = chartH / 4;
    const int gap = std::max(2, cellW / 10);
    const int left = (kSensorWidth - 6 * cellW) / 2 + patch % 6 * cellW;
    const int top = (kSensorHeight - 4 * cellH) / 2 + patch / 6 * cellH;
    return {left + gap, top + gap, left + cellW - gap, top + cellH - gap};
}

namespace {

class ColourChart final : public Scene {
public:
    void render(double, LinearImage& out) const override
    {
        // The chart lies on a light grey card, as charts are photographed, so
        // that exposure and white balance meter a neutral surround.
        const float surround[3] = {kChartSurround, kChartSurround, kChartSurround};
        fill(out, 0, 0, out.width, out.height, surround);
        for (int patch = 0; patch < 24; ++patch) {
            const float rgb[3] = {linearFromSrgb(kColourChartSrgb[patch][0]),
                                  linearFromSrgb(kColourChartSrgb[patch][1]),
                                  linearFromSrgb(kColourChartSrgb[patch][2])};
            const ChartPatchBox box = chartPatchBox(patch);
            fill(out, box.x0 * out.width / kSensorWidth, box.y0 * out.height / kSensorHeight,
                 box.x1 * out.width / kSensorWidth, box.y1 * out.height / kSensorHeight, rgb);
        }
    }
};

class MovingPattern final : public Scene {
public:
    bool moving() const override { return true; }
    void render(double seconds, LinearImage& out) const override
    {
        const double shift = seconds * 40.0; // pixels per second
        const double discX = std::fmod(seconds * 60.0, out.width + 80.0) - 40.0;
        const double discY = out.height / 2.0 + 60.0 * std::sin(seconds * 1.5);
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                const double phase = (x + y + shift) / 24.0;
                float* p = out.pixel(x, y);
                p[0] = static_cast<float>(0.3 + 0.25 * std::sin(phase));
                p[1] = static_cast<float>(0.3 + 0.25 * std::sin(phase + 2.1));
                p[2] = static_cast<float>(0.3 + 0.25 * std::sin(phase + 4.2));
                const double dx = x - discX;
                const double dy = y - discY;
                if (dx * dx + dy * dy < 30.0 * 30.0) {
                    p[0] = p[1] = p[2] = 0.9F;
                }
            }
        }
    }
};

} // namespace

std::unique_ptr<Scene> makeFlatScene(float red, float green, float blue)
{
    return std::make_unique<FlatScene>(red, green, blue);
}

std::unique_ptr<Scene> makeColourBars() { return std::make_unique<ColourBars>(); }
std::unique_ptr<Scene> makeColourChart() { return std::make_unique<ColourChart>(); }
std::unique_ptr<Scene> makeMovingPattern() { return std::make_unique<MovingPattern>(); }

std::unique_ptr<Scene> makeBuiltInScene(const std::string& name)
{
    if (name == "bars") {
        return makeColourBars();
    }
    if (name == "chart") {
        return makeColourChart();
    }
    if (name == "moving") {
        return makeMovingPattern();
    }
    return nullptr;
}

} // namespace korval::camera
