// The light a scene is lit by, given as a colour temperature: the white it
// gives in linear sRGB (D65 white = 1, 1, 1), at the luminance of that white.
// Below 4000 K the light is a black body (tungsten lamps, 2850 K being the
// usual lamp); from 4000 K on it is daylight of that correlated temperature.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace korval::camera {

constexpr double kLowestLightKelvin = 2000.0;
constexpr double kHighestLightKelvin = 10000.0;

// Linear R, G, B of the light's white with luminance 1.
std::array<double, 3> lightWhite(double kelvin);

// "2850K", "2850k" or "2850" within the supported range; nothing otherwise.
std::optional<double> parseLightKelvin(const std::string& text);

} // namespace korval::camera
