#include "camera/sensor/sensor_model.h"

#include "camera/sensor/illuminant.h"

namespace korval::camera {
namespace {

// Each filter passes its own colour and a share of the luminance; the share
// is what a chroma gain of 1.6 (the driver's default saturation) removes.
constexpr double kOverlap = 1.0 - 1.0 / 1.6;
constexpr double kLuma[3] = {0.299, 0.587, 0.114};
// Sensitivity of the red, green and blue sites relative to green: under a
// 4500 K light a grey comes out as red / green 0.8 and blue / green 0.73 after
// the on-chip gamma, the middle of the driver's white-balance grey window, so
// that greys stay inside it from tungsten light to daylight; green leads
// under every light, as the driver's gains (1.0 to 2.0) need.
constexpr double kSensitivity[3] = {0.576, 1.0, 0.755};
constexpr double kTransferGamma = 0.6; // with the driver's 0.7: about the display's 1 / 2.4
constexpr double kBlackLevel = 4.0;
constexpr double kReadNoise = 1.0; // fixed pattern: the same light gives the same frame

ColourResponse overlappingFilters()
{
    ColourResponse response{};
    for (int site = 0; site < 3; ++site) {
        for (int j = 0; j < 3; ++j) {
            const double own = site == j ? 1.0 - kOverlap : 0.0;
            response[site][j] = kSensitivity[site] * (own + kOverlap * kLuma[j]);
        }
    }
    return response;
}

} // namespace

std::optional<SensorModel> parseSensorModel(const std::string& text)
{
    if (text == "ideal") {
        return SensorModel::Ideal;
    }
    if (text == "real") {
        return SensorModel::Real;
    }
    return std::nullopt;
}

const char* sensorModelName(SensorModel model) { return model == SensorModel::Ideal ? "ideal" : "real"; }

SensorOptions sensorOptionsFor(SensorModel model, double kelvin, SensorOptions base)
{
    const std::array<double, 3> reference = lightWhite(6500.0);
    const std::array<double, 3> white = lightWhite(kelvin);
    for (int c = 0; c < 3; ++c) {
        base.light[c] = white[c] / reference[c];
    }
    if (model == SensorModel::Real) {
        base.response = overlappingFilters();
        base.transferGamma = kTransferGamma;
        base.blackLevel = kBlackLevel;
        base.noiseSigma = kReadNoise;
        base.fixedPatternNoise = true;
    }
    return base;
}

} // namespace korval::camera
