#include "camera/sensor/sensor.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korval::camera {

double SensorTiming::lineSeconds(const SensorSettings& s)
{
    return std::max(1, s.clockDivider) * static_cast<double>(s.lineClocks) / kMasterClockHz;
}

int SensorTiming::effectiveFrameLines(const SensorSettings& s)
{
    return std::max(kMinimumFrameLines, s.frameLines);
}

double SensorTiming::framePeriodSeconds(const SensorSettings& s)
{
    return lineSeconds(s) * effectiveFrameLines(s);
}

int SensorTiming::framesPerSecond(const SensorSettings& s)
{
    return std::min(255, static_cast<int>(1.0 / framePeriodSeconds(s)));
}

// The exposure runs from the start line to the end of the frame, shortened by
// the fine delay and the fixed 88-clock read-out of the line.
double SensorTiming::exposureSeconds(const SensorSettings& s)
{
    const int frameLines = effectiveFrameLines(s);
    const int startLine = std::clamp(s.exposureStartLine, 1, frameLines);
    const int lines = frameLines - startLine + 1;
    const double clocks =
        std::max(static_cast<double>(s.lineClocks) / 8.0,
                 static_cast<double>(lines) * s.lineClocks - s.fineDelay - 88.0);
    return clocks * std::max(1, s.clockDivider) / kMasterClockHz;
}

Sensor::Sensor(SensorOptions options) : options_(options)
{
    seedNoise();
    buildTransfer();
    radiance_.rgb.assign(static_cast<std::size_t>(kSensorWidth) * kSensorHeight * 3, 0.0F);
    placeDefects();
}

void Sensor::setScene(std::unique_ptr<Scene> scene)
{
    scene_ = std::move(scene);
    radianceValid_ = false;
}

void Sensor::setOptions(const SensorOptions& options)
{
    options_ = options;
    seedNoise();
    buildTransfer();
    placeDefects();
}

void Sensor::buildTransfer()
{
    transfer_.clear();
    if (options_.transferGamma == 1.0) {
        return;
    }
    transfer_.resize(256 * kTransferSteps + 2);
    for (std::size_t i = 0; i < transfer_.size(); ++i) {
        const double signal = static_cast<double>(i) / kTransferSteps;
        transfer_[i] = static_cast<float>(255.0 * std::pow(signal / 255.0, options_.transferGamma));
    }
}

double Sensor::transfer(double signal) const
{
    if (transfer_.empty()) {
        return signal;
    }
    const double at = std::clamp(signal, 0.0, 256.0) * kTransferSteps;
    const auto below = static_cast<std::size_t>(at);
    const double part = at - static_cast<double>(below);
    return transfer_[below] + part * (transfer_[below + 1] - transfer_[below]);
}

void Sensor::seedNoise()
{
    constexpr std::size_t kNoiseTableSize = 1 << 16;
    std::mt19937 draw(options_.seed);
    std::normal_distribution<float> unit(0.0F, 1.0F);
    noiseTable_.resize(kNoiseTableSize);
    for (float& sample : noiseTable_) {
        sample = unit(draw);
    }
    restartNoise();
}

void Sensor::restartNoise() { noiseState_ = options_.seed == 0 ? 0x9E3779B9U : options_.seed; }

float Sensor::nextNoise()
{
    noiseState_ ^= noiseState_ << 13;
    noiseState_ ^= noiseState_ >> 17;
    noiseState_ ^= noiseState_ << 5;
    return noiseTable_[noiseState_ & (noiseTable_.size() - 1)];
}

void Sensor::placeDefects()
{
    defects_.clear();
    std::mt19937 place(options_.seed ^ 0x5EED);
    std::uniform_int_distribution<int> where(0, kSensorWidth * kSensorHeight - 1);
    for (int i = 0; i < options_.hotPixels; ++i) {
        defects_.emplace_back(where(place), 255);
    }
    for (int i = 0; i < options_.coldPixels; ++i) {
        defects_.emplace_back(where(place), 0);
    }
}

// Mean light level over the exposure window under lamps that pulse at twice
// the mains frequency.
double Sensor::flickerFactor(double start, double duration) const
{
    if (options_.flickerDepth <= 0.0 || duration <= 0.0) {
        return 1.0;
    }
    const double omega = 2.0 * std::numbers::pi * 2.0 * options_.mainsHz;
    const double mean =
        (std::cos(omega * start) - std::cos(omega * (start + duration))) / (omega * duration);
    return 1.0 + options_.flickerDepth * mean;
}

// The light's power in the band of a site's filter, relative to the scene's
// own white: each filter's response scales with the light it passes.
double Sensor::lightOnSite(int colour) const
{
    const auto& filter = options_.response[static_cast<std::size_t>(colour)];
    const double white = filter[0] + filter[1] + filter[2];
    if (white <= 0.0) {
        return 0.0;
    }
    return (filter[0] * options_.light[0] + filter[1] * options_.light[1] + filter[2] * options_.light[2]) / white;
}

void Sensor::render(const SensorSettings& settings, double frameStartSeconds,
                    std::vector<std::uint8_t>& bayer)
{
    bayer.resize(static_cast<std::size_t>(kSensorWidth) * kSensorHeight);
    if (scene_ && (!radianceValid_ || scene_->moving())) {
        scene_->render(frameStartSeconds, radiance_);
        radianceValid_ = true;
    }
    if (options_.fixedPatternNoise) {
        restartNoise();
    }
    const double exposure = SensorTiming::exposureSeconds(settings);
    const double lineTime = SensorTiming::lineSeconds(settings);
    const ColourResponse& response = options_.response;
    std::array<double, 3> scale{};
    for (int c = 0; c < 3; ++c) {
        scale[c] = options_.sensitivity * lightOnSite(c) * options_.colourCast[c] * exposure *
                   (1.0 + settings.gain / 10.0) * (1.0 + settings.gainIndex[c] / 8.0);
        if (options_.applyDigitalGains) {
            scale[c] *= settings.digitalGain[c] / 128.0;
        }
    }
    for (int y = 0; y < kSensorHeight; ++y) {
        const double light = flickerFactor(frameStartSeconds + y * lineTime, exposure);
        std::uint8_t* row = bayer.data() + static_cast<std::size_t>(y) * kSensorWidth;
        for (int x = 0; x < kSensorWidth; ++x) {
            const int c = colourAt(x, y);
            const float* scene = radiance_.pixel(x, y);
            const double seen = scene[0] * response[c][0] + scene[1] * response[c][1] + scene[2] * response[c][2];
            double value = transfer(seen * scale[c] * light) + options_.blackLevel;
            if (options_.noiseSigma > 0.0) {
                value += options_.noiseSigma * nextNoise();
            }
            row[x] = static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
        }
    }
    for (const auto& [index, value] : defects_) {
        bayer[static_cast<std::size_t>(index)] = value;
    }
}

} // namespace korval::camera
