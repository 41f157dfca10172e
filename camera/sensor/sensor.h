// The image sensor: renders the scene into a 352 × 288 Bayer mosaic (B G / G R)
// through the exposure and gains that the registers give. A site of colour c
// sees Σ response[c][j] × radiance[j] (colour filters pass some of their
// neighbours' light, as real ones do) times the light's power in its filter's
// band (Σ response[c][j] × light[j] / Σ response[c][j]); the signal is that
// × colour cast × sensitivity × exposure time × mains flicker × analogue gain
// (1 + g / 10) × colour gain (1 + index / 8), put through the on-chip transfer
// 255 × (signal / 255)^gamma, plus the black level and noise, rounded and
// clipped to 0..255; defect pixels stick at 255 (hot) or 0 (cold). The
// defaults are an ideal sensor: no overlap, no black level, linear.
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

using ColourResponse = std::array<std::array<double, 3>, 3>; // [site colour][scene R G B]

struct SensorOptions {
    ColourResponse response = {{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};
    std::array<double, 3> light = {1.0, 1.0, 1.0}; // the light's white, linear R G B (scene white = 1)
    double transferGamma = 1.0;                 // on-chip transfer exponent (1: linear)
    double blackLevel = 0.0;                    // dark level, in output steps
    double sensitivity = 3000.0;                // value per unit radiance per second at gain 1
    std::array<double, 3> colourCast = {1.0, 1.0, 1.0}; // R, G, B
    double noiseSigma = 0.0;                    // Gaussian read noise, in output steps
    // The noise is the pixels' own (fixed pattern): the same in every frame, so
    // that the same light gives the same frame whenever the camera renders it.
    bool fixedPatternNoise = false;
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
    void restartNoise();
    float nextNoise();
    double flickerFactor(double start, double duration) const;
    double lightOnSite(int colour) const;
    void buildTransfer();
    double transfer(double signal) const;

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
    // The transfer curve at kTransferSteps points per output step, for signals
    // 0..256 (a power per pixel would cost more than the rest of the frame).
    static constexpr int kTransferSteps = 16;
    std::vector<float> transfer_;
};

} // namespace korval::camera
