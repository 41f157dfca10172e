// What the user's picture settings come to in the processing stages, shared
// by the registry load, the stream's open path and the live property path.
#include "settings/PictureSettings.h"

namespace {

constexpr LONGLONG LARGEST_BRIGHTNESS_WORD = 510;

LONGLONG Low16(ULONG Value)
{
    return static_cast<LONGLONG>(Value & 0xFFFF);
}

// Manual white balance by colour temperature: the red and blue gains (green
// 128) that bring a grey lit by a light of that temperature back to grey on
// this camera's sensor, measured at these temperatures and interpolated
// linearly in mired between them. Below the first row the first holds.
struct tagTemperatureGains {
    ULONG ulKelvin;
    ULONG ulRedGain;
    ULONG ulBlueGain;
};

const tagTemperatureGains TemperatureGains[] = {
    {WHITE_BALANCE_LOWEST_KELVIN, 105, 222}, {2500, 121, 215}, {3000, 133, 203}, {3500, 143, 191}, {4000, 153, 185},
    {4500, 160, 176}, {5000, 166, 168}, {5500, 171, 162}, {6000, 175, 156}, {6500, 178, 152},
    {7000, 181, 148}, {8000, 186, 141}, {9000, 189, 137}, {10000, 192, 133},
};

constexpr ULONG MIRED_SCALE = 1000000;

ULONG Interpolate(ULONG From, ULONG To, ULONG Done, ULONG Span)
{
    const LONG delta = static_cast<LONG>(To) - static_cast<LONG>(From);
    return static_cast<ULONG>(static_cast<LONG>(From) + delta * static_cast<LONG>(Done) / static_cast<LONG>(Span));
}

VOID GainsForTemperature(ULONG Kelvin, ULONG* Gains)
{
    const ULONG count = sizeof(TemperatureGains) / sizeof(TemperatureGains[0]);
    ULONG upper = 0;
    while (upper < count && TemperatureGains[upper].ulKelvin < Kelvin) {
        ++upper;
    }
    if (upper == 0 || upper == count) {
        const tagTemperatureGains& edge = TemperatureGains[upper == 0 ? 0 : count - 1];
        Gains[0] = edge.ulRedGain;
        Gains[2] = edge.ulBlueGain;
        return;
    }
    const tagTemperatureGains& warm = TemperatureGains[upper - 1];
    const tagTemperatureGains& cool = TemperatureGains[upper];
    const ULONG warmMired = MIRED_SCALE / warm.ulKelvin;
    const ULONG span = warmMired - MIRED_SCALE / cool.ulKelvin;
    const ULONG done = warmMired - MIRED_SCALE / Kelvin;
    Gains[0] = Interpolate(warm.ulRedGain, cool.ulRedGain, done, span);
    Gains[2] = Interpolate(warm.ulBlueGain, cool.ulBlueGain, done, span);
}

} // namespace

// 0, 1 and 2 are the camera's fixed presets and 10000 the user's own gains;
// every other value is a colour temperature in kelvin.
VOID SelectWhiteBalanceGains(DeviceContext* Device, ULONG Value)
{
    ULONG gains[3];
    switch (Value) {
    case 0: gains[0] = 128; gains[1] = 180; gains[2] = 300; break;
    case 1: gains[0] = 140; gains[1] = 128; gains[2] = 150; break;
    case 2: gains[0] = 128; gains[1] = 130; gains[2] = 220; break;
    case WHITE_BALANCE_USER_GAINS:
        gains[0] = Device->ManualGain1;
        gains[1] = NEUTRAL_GAIN;
        gains[2] = Device->ManualGain3;
        break;
    default:
        GainsForTemperature(Value, gains);
        gains[1] = NEUTRAL_GAIN;
        break;
    }
    Device->CurGain1 = gains[0];
    Device->CurGain2 = gains[1];
    Device->CurGain3 = gains[2];
}

// Manual white balance: the gains weighted as luma (1/4, 1/2, 1/4, by shifts)
// against 1.0, scaled by the exposure target, move the brightness. In both
// white-balance modes the word is held to the tone stage's 0..510: below 0 the
// 16-bit word would wrap round to the brightest setting, and a brightness
// beyond the range gives the brightest word, never its low 16 bits.
USHORT BrightnessWord(const DeviceContext* Device, BOOLEAN AutoWhiteBalance)
{
    LONGLONG word = Device->CurBrightness;
    if (!AutoWhiteBalance) {
        const LONGLONG gainLuma = (Low16(Device->CurGain3) >> 2) + (Low16(Device->CurGain2) >> 1) +
                                  (Low16(Device->CurGain1) >> 2) - static_cast<LONGLONG>(NEUTRAL_GAIN);
        word += gainLuma * Low16(Device->CurExposure) / 64;
    }
    if (word < 0) {
        return 0;
    }
    return static_cast<USHORT>(word > LARGEST_BRIGHTNESS_WORD ? LARGEST_BRIGHTNESS_WORD : word);
}
