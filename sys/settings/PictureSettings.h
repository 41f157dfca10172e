// What the user's picture settings come to in the processing stages: the
// colour gains of manual white balance and the tone stage's brightness word.
#pragma once

#include "base/DeviceContext.h"

constexpr ULONG NEUTRAL_GAIN = 128;         // 1.0 in the gain fixed point
constexpr ULONG WHITE_BALANCE_LAST_PRESET = 2;      // manual white balance 0..2: the camera's presets
constexpr ULONG WHITE_BALANCE_LOWEST_KELVIN = 2000; // from here up to 9999: a colour temperature
constexpr ULONG WHITE_BALANCE_USER_GAINS = 10000;   // the user's own colour gains

// Manual white balance: the colour gains (R, G, B) a white-balance value
// selects: a preset (0..2), the user's gains (10000) or a colour temperature.
VOID SelectWhiteBalanceGains(DeviceContext* Device, ULONG Value);

// The brightness word of the tone stage for the current brightness: with
// manual white balance the manual gains and the exposure target shift it.
USHORT BrightnessWord(const DeviceContext* Device, BOOLEAN AutoWhiteBalance);
