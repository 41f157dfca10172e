#include "camera/sensor/illuminant.h"

#include <algorithm>
#include <charconv>

namespace korval::camera {
namespace {

struct Chromaticity {
    double x;
    double y;
};

// Black-body chromaticity by the cubic fits of Kim et al. (2002).
Chromaticity blackBody(double t)
{
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double x = t <= 4000.0 ? -0.2661239e9 / t3 - 0.2343589e6 / t2 + 0.8776956e3 / t + 0.179910
                                 : -3.0258469e9 / t3 + 2.1070379e6 / t2 + 0.2226347e3 / t + 0.240390;
    const double x2 = x * x;
    const double x3 = x2 * x;
    double y = 0.0;
    if (t <= 2222.0) {
        y = -1.1063814 * x3 - 1.34811020 * x2 + 2.18555832 * x - 0.20219683;
    } else if (t <= 4000.0) {
        y = -0.9549476 * x3 - 1.37418593 * x2 + 2.09137015 * x - 0.16748867;
    } else {
        y = 3.0817580 * x3 - 5.87338670 * x2 + 3.75112997 * x - 0.37001483;
    }
    return {x, y};
}

// The CIE daylight locus.
Chromaticity daylight(double t)
{
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double x = t <= 7000.0 ? -4.6070e9 / t3 + 2.9678e6 / t2 + 0.09911e3 / t + 0.244063
                                 : -2.0064e9 / t3 + 1.9018e6 / t2 + 0.24748e3 / t + 0.237040;
    return {x, -3.000 * x * x + 2.870 * x - 0.275};
}

} // namespace

std::array<double, 3> lightWhite(double kelvin)
{
    const double t = std::clamp(kelvin, kLowestLightKelvin, kHighestLightKelvin);
    const Chromaticity c = t < 4000.0 ? blackBody(t) : daylight(t);
    const double X = c.x / c.y;
    const double Z = (1.0 - c.x - c.y) / c.y;
    // XYZ (Y = 1) to linear sRGB.
    return {3.2404542 * X - 1.5371385 - 0.4985314 * Z, -0.9692660 * X + 1.8760108 + 0.0415560 * Z,
            0.0556434 * X - 0.2040259 + 1.0572252 * Z};
}

std::optional<double> parseLightKelvin(const std::string& text)
{
    std::string digits = text;
    if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'k')) {
        digits.pop_back();
    }
    int kelvin = 0;
    const auto [end, fault] = std::from_chars(digits.data(), digits.data() + digits.size(), kelvin);
    if (digits.empty() || fault != std::errc() || end != digits.data() + digits.size() ||
        kelvin < kLowestLightKelvin || kelvin > kHighestLightKelvin) {
        return std::nullopt;
    }
    return static_cast<double>(kelvin);
}

} // namespace korval::camera
