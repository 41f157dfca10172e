// The real sensor as a camera engineer would measure it: raw colours less
// saturated than the scene, a dark level, an on-chip gamma, read noise, and
// greys that take the light's colour; the ideal sensor stays the scene's.
#include "camera/sensor/illuminant.h"
#include "camera/sensor/sensor_model.h"

#include "sensor_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace korval::camera {
namespace {

using testing::settingsWithLines;

// Mean raw value of each site colour (R, G, B) for a flat scene.
std::array<double, 3> rawMeans(const SensorOptions& options, float r, float g, float b, int lines = 40)
{
    Sensor sensor(options);
    sensor.setScene(makeFlatScene(r, g, b));
    std::vector<std::uint8_t> bayer;
    sensor.render(settingsWithLines(lines), 0.0, bayer);
    std::array<double, 3> sum{};
    std::array<int, 3> count{};
    for (int y = 0; y < kSensorHeight; ++y) {
        for (int x = 0; x < kSensorWidth; ++x) {
            const int c = Sensor::colourAt(x, y);
            sum[c] += bayer[static_cast<std::size_t>(y) * kSensorWidth + x];
            ++count[c];
        }
    }
    for (int c = 0; c < 3; ++c) {
        sum[c] /= count[c];
    }
    return sum;
}

TEST(SensorModel, OverlappingFiltersDesaturateARedScene)
{
    const auto ideal = rawMeans(sensorOptionsFor(SensorModel::Ideal, 6500), 2.0F, 0.1F, 0.1F);
    const auto real = rawMeans(sensorOptionsFor(SensorModel::Real, 6500), 2.0F, 0.1F, 0.1F);
    EXPECT_GT(ideal[0] / ideal[1], 10.0);
    EXPECT_LT(real[0] / real[1], 3.0);
    EXPECT_GT(real[0] / real[1], 1.2);
}

TEST(SensorModel, DarkLevelNoiseAndGammaOfTheRealSensor)
{
    const SensorOptions real = sensorOptionsFor(SensorModel::Real, 6500);
    const auto black = rawMeans(real, 0.0F, 0.0F, 0.0F);
    for (double mean : black) {
        EXPECT_NEAR(mean, real.blackLevel, 0.5);
    }
    // Twice the light gives 2^gamma times the signal above the dark level.
    const auto once = rawMeans(real, 0.5F, 0.5F, 0.5F, 20);
    const auto twice = rawMeans(real, 0.5F, 0.5F, 0.5F, 40);
    ASSERT_LT(twice[1], 250.0);
    EXPECT_NEAR((twice[1] - real.blackLevel) / (once[1] - real.blackLevel), std::pow(2.0, real.transferGamma), 0.03);
    // The noise is the pixels' own: the same in every frame, different per seed.
    Sensor sensor(real);
    sensor.setScene(makeFlatScene(0.5F, 0.5F, 0.5F));
    std::vector<std::uint8_t> first, second;
    sensor.render(settingsWithLines(20), 0.0, first);
    sensor.render(settingsWithLines(20), 0.1, second);
    EXPECT_EQ(first, second);
    SensorOptions reseeded = real;
    reseeded.seed = real.seed + 1;
    Sensor other(reseeded);
    other.setScene(makeFlatScene(0.5F, 0.5F, 0.5F));
    other.render(settingsWithLines(20), 0.0, second);
    EXPECT_NE(first, second);
    EXPECT_GT(std::count(first.begin(), first.end(), first[0]), 0);
    EXPECT_LT(std::count(first.begin(), first.end(), first[0]), static_cast<long>(first.size() / 2));
}

TEST(SensorModel, GreysTakeTheLightsColourAndGreenLeadsUnderEveryLight)
{
    std::array<double, 3> warm{};
    std::array<double, 3> cool{};
    for (double kelvin : {2850.0, 5000.0, 6500.0}) {
        const auto grey = rawMeans(sensorOptionsFor(SensorModel::Real, kelvin), 0.2F, 0.2F, 0.2F);
        // The driver's white balance can only raise red and blue (gains 1 to 2).
        EXPECT_LT(grey[0], grey[1]) << kelvin;
        EXPECT_LT(grey[2], grey[1]) << kelvin;
        EXPECT_GT(grey[0] * 2.0, grey[1]) << kelvin;
        EXPECT_GT(grey[2] * 2.0, grey[1]) << kelvin;
        (kelvin == 2850.0 ? warm : cool) = grey;
    }
    EXPECT_GT(warm[0] / warm[1], cool[0] / cool[1]);
    EXPECT_LT(warm[2] / warm[1], cool[2] / cool[1]);
}

TEST(SensorModel, LightsByColourTemperature)
{
    const auto d65 = lightWhite(6500);
    const auto lamp = lightWhite(2850);
    for (double v : d65) {
        EXPECT_NEAR(v, 1.0, 0.01);
    }
    EXPECT_NEAR(lamp[0], 1.84, 0.02);
    EXPECT_NEAR(lamp[1], 0.83, 0.02);
    EXPECT_NEAR(lamp[2], 0.23, 0.02);
    const struct {
        const char* text;
        double kelvin; // 0: refused
    } cases[] = {{"2850K", 2850}, {"5000k", 5000}, {"6500", 6500}, {"1999K", 0}, {"10001K", 0},
                 {"K", 0},        {"", 0},         {"65OOK", 0},  {"-3000", 0}, {"3000KK", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseLightKelvin(c.text).value_or(0), c.kelvin) << c.text;
    }
}

} // namespace
} // namespace korval::camera
