// What the camera looks at: a picture of linear radiance (0 = black, 1 = a
// white that reflects all light), possibly changing with time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korval::camera {

constexpr int kSensorWidth = 352;
constexpr int kSensorHeight = 288;

struct LinearImage {
    int width = kSensorWidth;
    int height = kSensorHeight;
    std::vector<float> rgb; // width × height × 3, R G B, top row first

    float* pixel(int x, int y) { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
    const float* pixel(int x, int y) const
    {
        return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    }
};

class Scene {
public:
    virtual ~Scene() = default;
    // Fills out (sized width × height by the caller) for the moment `seconds`.
    virtual void render(double seconds, LinearImage& out) const = 0;
    virtual bool moving() const { return false; }
};

// sRGB byte value to linear light.
float linearFromSrgb(std::uint8_t value);

std::unique_ptr<Scene> makeFlatScene(float red, float green, float blue);
std::unique_ptr<Scene> makeColourBars();
// The 24 patches of the common colour checker chart, in its 6 × 4 layout, with
// the published sRGB reference values, on a grey card of kChartSurround.
std::unique_ptr<Scene> makeColourChart();
// Where a chart patch (0..23) lies on the sensor. The chart covers the middle
// two thirds of the picture's width and height, on a card that shows all
// round it, as a chart is photographed: the card's neutral samples, not the
// warm patches that white balance also takes for greys, set the balance.
struct ChartPatchBox {
    int x0, y0, x1, y1; // x1, y1 exclusive
};
ChartPatchBox chartPatchBox(int patch);
// Diagonal colour stripes and a bright disc that travel across the picture.
std::unique_ptr<Scene> makeMovingPattern();
// The built-in pattern of that name (bars, chart or moving); null for any other.
std::unique_ptr<Scene> makeBuiltInScene(const std::string& name);
// Any PNG, scaled to fill the sensor. Returns null and sets error on failure.
std::unique_ptr<Scene> loadPngScene(const std::string& path, std::string& error);

constexpr float kChartSurround = 0.25F; // linear reflectance of the card around the patches
// The 24 chart patches (sRGB), row by row from the top left.
extern const std::uint8_t kColourChartSrgb[24][3];

} // namespace korval::camera
