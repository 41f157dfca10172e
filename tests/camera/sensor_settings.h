// Sensor timing of a 400-line frame at the power-on divider and line length
// whose exposure lasts `exposureLines` lines, at analogue gain `gain`.
#pragma once

#include "camera/device/register_file.h"

namespace korval::camera::testing {

inline SensorSettings settingsWithLines(int exposureLines, int gain = SensorSettings{}.gain)
{
    SensorSettings s;
    s.clockDivider = 3;
    s.lineClocks = 444;
    s.frameLines = 400;
    s.exposureStartLine = 400 - exposureLines + 1;
    s.fineDelay = 1;
    s.gain = gain;
    return s;
}

} // namespace korval::camera::testing
