// The image sensor: renders the scene into a 352 × 288 Bayer mosaic (B G / G R)
// through the exposure and gains that the registers give. A value is
// radiance × colour cast × sensitivity × exposure time × mains flicker
// × analogue gain (1 + g / 10) × colour gain (1 + index / 8), plus noise,
// rounded and clipped to 0..255; defect pixels stick at 255 (hot) or 0 (cold).
#pragma once

#include "camera/device/register_file.h"
#include "camera/sensor/scene.h"

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace korval::camera {

constexpr double kMasterClockHz = 12000000.0;
// Sensor lines that carry picture; the rest of a frame is blanking.
constexpr int kMinimumFrameLines = kSensorHeight + 5;

struct SensorOptions {
    double sensitivity = 3000.0;                // value per unit radiance per second at gain 1
    std::array<double, 3> colourCast = {1.0, 1.0, 1.0}; // R, G, B
    double noiseSigma = 0.0;                    // Gaussian read noise, in output steps
    std::uint32_t seed = 1;
    int hotPixels = 0;
    int coldPixels = 0;
    double flickerDepth = 0.0;                  // 0..1 modulation of the light
    double mainsHz = 50.0;
    // The digital gains normally travel in the header for the host to apply;
    // a camera that applies them itself multiplies by gain / 128 here.
    bool applyDigitalGains = false;
};

struct SensorTiming {
    static double lineSeconds(const SensorSettings& s);
    static double framePeriodSeconds(const SensorSettings& s);
    static double exposureSeconds(const SensorSettings& s);
    static int effectiveFrameLines(const SensorSettings& s);
    // Integer frames per second of the timing, as the header reports it.
    static int framesPerSecond(const SensorSettings& s);
};

class Sensor {
public:
    explicit Sensor(SensorOptions options = {});

    void setScene(std::unique_ptr<Scene> scene);
    void setOptions(const SensorOptions& options);
    const SensorOptions& options() const { return options_; }

    // Renders the frame whose exposure of line 0 starts at frameStartSeconds.
    void render(const SensorSettings& settings, double frameStartSeconds,
                std::vector<std::uint8_t>& bayer);

    // Bayer colour of a site: 0 R, 1 G, 2 B.
    static int colourAt(int x, int y) { return (y & 1) == 0 ? ((x & 1) == 0 ? 2 : 1) : ((x & 1) == 0 ? 1 : 0); }

private:
    void placeDefects();
    void seedNoise();
    float nextNoise();
    double flickerFactor(double start, double duration) const;

    SensorOptions options_;
    std::unique_ptr<Scene> scene_;
    LinearImage radiance_;
    bool radianceValid_ = false;
    // Read noise: a table of unit Gaussian samples drawn once from the seed,
    // picked per pixel by a fast generator (a fresh normal draw per pixel
    // would cost more than the rest of the frame).
    std::vector<float> noiseTable_;
    std::uint32_t noiseState_ = 1;
    std::vector<std::pair<int, std::uint8_t>> defects_; // pixel index, stuck value
};

} // namespace korval::camera
