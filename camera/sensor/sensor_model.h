// The two sensors the virtual camera can carry. The ideal one delivers the
// scene's colours as they are. The real one is built like the small CMOS
// sensors of USB 1.1 cameras: its colour filters overlap (each site also sees
// part of the other two colours, so raw colours are far less saturated than
// the scene), green is the most sensitive colour, red the least, it has an
// on-chip gamma, a dark level and read noise. Its response is the inverse of
// what the driver's default tuning does: the colour gains bring its greys
// back to grey, saturation 160 undoes the filters' overlap, and the driver's
// gamma 0.7 completes the on-chip gamma to the usual display encoding.
#pragma once

#include "camera/sensor/sensor.h"

#include <optional>
#include <string>

namespace korval::camera {

enum class SensorModel { Ideal, Real };

// "ideal" or "real"; nothing otherwise.
std::optional<SensorModel> parseSensorModel(const std::string& text);
const char* sensorModelName(SensorModel model);

// The sensor's options under a light of `kelvin` (6500 K: the scene's own
// white); seed, defects and flicker stay as they are in `base`.
SensorOptions sensorOptionsFor(SensorModel model, double kelvin, SensorOptions base = {});

} // namespace korval::camera
