// The sensor's physics: exposure, analogue gain and the per-colour gains act
// linearly until clipping; noise and defects are seeded; flicker bands lines;
// timing follows the registers.
#include "camera/sensor/sensor.h"

#include "sensor_settings.h"

#include <gtest/gtest.h>

#include <numeric>

namespace korval::camera {
namespace {

// At unity analogue gain.
SensorSettings atUnityGain(int exposureLines)
{
    return testing::settingsWithLines(exposureLines, 0);
}

// Mean of one Bayer colour (0 R, 1 G, 2 B) over the frame.
double meanOf(const std::vector<std::uint8_t>& bayer, int colour)
{
    double sum = 0.0;
    int count = 0;
    for (int y = 0; y < kSensorHeight; ++y) {
        for (int x = 0; x < kSensorWidth; ++x) {
            if (Sensor::colourAt(x, y) == colour) {
                sum += bayer[static_cast<std::size_t>(y) * kSensorWidth + x];
                ++count;
            }
        }
    }
    return sum / count;
}

std::vector<std::uint8_t> renderFlat(float level, const SensorSettings& settings, SensorOptions options = {})
{
    Sensor sensor(options);
    sensor.setScene(makeFlatScene(level, level, level));
    std::vector<std::uint8_t> bayer;
    sensor.render(settings, 0.0, bayer);
    return bayer;
}

TEST(SensorPhysics, DoublingTheExposureDoublesAnUnclippedMean)
{
    const SensorSettings single = atUnityGain(50);
    const SensorSettings twice = atUnityGain(100);
    const double ratio = SensorTiming::exposureSeconds(twice) / SensorTiming::exposureSeconds(single);
    EXPECT_NEAR(ratio, 2.0, 0.01);
    SensorOptions options;
    options.noiseSigma = 2.0;
    const auto a = renderFlat(2.0F, single, options);
    const auto b = renderFlat(2.0F, twice, options);
    for (int colour = 0; colour < 3; ++colour) {
        ASSERT_LT(meanOf(b, colour), 250.0);
        EXPECT_NEAR(meanOf(b, colour) / meanOf(a, colour), ratio, 0.02) << "colour " << colour;
    }
}

TEST(SensorPhysics, AnalogueGainScalesAllColoursAndGainIndicesOnlyTheirOwn)
{
    SensorSettings base = atUnityGain(40);
    const auto plain = renderFlat(4.0F, base);
    SensorSettings gained = base;
    gained.gain = 10; // × 2
    const auto doubled = renderFlat(4.0F, gained);
    for (int colour = 0; colour < 3; ++colour) {
        EXPECT_NEAR(meanOf(doubled, colour) / meanOf(plain, colour), 2.0, 0.02);
    }
    SensorSettings red = base;
    red.gainIndex = {8, 0, 0}; // red × 2
    const auto reddened = renderFlat(4.0F, red);
    EXPECT_NEAR(meanOf(reddened, 0) / meanOf(plain, 0), 2.0, 0.02);
    EXPECT_DOUBLE_EQ(meanOf(reddened, 1), meanOf(plain, 1));
    EXPECT_DOUBLE_EQ(meanOf(reddened, 2), meanOf(plain, 2));
}

TEST(SensorPhysics, DigitalGainsApplyOnlyWhenTheCameraIsToldTo)
{
    SensorSettings settings = atUnityGain(40);
    settings.digitalGain = {64, 128, 255};
    const auto carried = renderFlat(4.0F, settings);
    SensorOptions applying;
    applying.applyDigitalGains = true;
    const auto applied = renderFlat(4.0F, settings, applying);
    EXPECT_DOUBLE_EQ(meanOf(carried, 0), meanOf(carried, 1));
    EXPECT_NEAR(meanOf(applied, 0) / meanOf(carried, 0), 0.5, 0.02);
    EXPECT_DOUBLE_EQ(meanOf(applied, 1), meanOf(carried, 1));
}

TEST(SensorPhysics, ColourCastTintsAndBrightLightClips)
{
    SensorOptions cast;
    cast.colourCast = {1.5, 1.0, 0.5};
    const auto tinted = renderFlat(4.0F, atUnityGain(40), cast);
    EXPECT_GT(meanOf(tinted, 0), meanOf(tinted, 1));
    EXPECT_LT(meanOf(tinted, 2), meanOf(tinted, 1));
    const auto clipped = renderFlat(6.0F, atUnityGain(390));
    EXPECT_EQ(meanOf(clipped, 1), 255.0);
}

TEST(SensorPhysics, NoiseAndDefectsFollowTheSeed)
{
    SensorOptions options;
    options.noiseSigma = 3.0;
    options.seed = 7;
    options.hotPixels = 10;
    options.coldPixels = 10;
    const auto a = renderFlat(4.0F, atUnityGain(40), options);
    const auto b = renderFlat(4.0F, atUnityGain(40), options);
    EXPECT_EQ(a, b);
    options.seed = 8;
    const auto c = renderFlat(4.0F, atUnityGain(40), options);
    EXPECT_NE(a, c);
    const auto stuckHigh = std::count(a.begin(), a.end(), 255);
    const auto stuckLow = std::count(a.begin(), a.end(), 0);
    EXPECT_GE(stuckHigh, 9);
    EXPECT_GE(stuckLow, 9);
}

TEST(SensorPhysics, MainsFlickerBandsShortExposuresOnly)
{
    SensorOptions flicker;
    flicker.flickerDepth = 0.5;
    flicker.mainsHz = 50.0;
    auto rowMean = [](const std::vector<std::uint8_t>& bayer, int y) {
        const auto* row = bayer.data() + static_cast<std::size_t>(y) * kSensorWidth;
        return std::accumulate(row, row + kSensorWidth, 0.0) / kSensorWidth;
    };
    auto spread = [&](const std::vector<std::uint8_t>& bayer) {
        double low = 1e9;
        double high = 0;
        for (int y = 0; y < kSensorHeight; y += 2) {
            low = std::min(low, rowMean(bayer, y));
            high = std::max(high, rowMean(bayer, y));
        }
        return high - low;
    };
    const auto shortExposure = renderFlat(20.0F, atUnityGain(8), flicker);
    EXPECT_GT(spread(shortExposure), 10.0);
    // 90 lines at divider 3 are 10 ms: one whole flicker period averages out.
    SensorSettings period = atUnityGain(90);
    period.fineDelay = 0;
    const double exposure = SensorTiming::exposureSeconds(period);
    ASSERT_NEAR(exposure, 0.01, 0.0002);
    const auto wholePeriod = renderFlat(3.0F, period, flicker);
    EXPECT_LT(spread(wholePeriod), 2.5);
}

TEST(SensorTiming, FramePeriodFollowsDividerLineClocksAndFrameLines)
{
    SensorSettings s;
    s.clockDivider = 3;
    s.lineClocks = 444;
    s.frameLines = 293;
    EXPECT_NEAR(SensorTiming::framePeriodSeconds(s), 3.0 * 444 * 293 / 12e6, 1e-12);
    EXPECT_EQ(SensorTiming::framesPerSecond(s), 30);
    s.clockDivider = 30;
    EXPECT_EQ(SensorTiming::framesPerSecond(s), 3);
    s.clockDivider = 3;
    s.frameLines = 100; // below the picture height: the sensor still reads every line
    EXPECT_EQ(SensorTiming::effectiveFrameLines(s), kMinimumFrameLines);
    s.frameLines = 586;
    s.lineClocks = 512;
    EXPECT_NEAR(SensorTiming::framePeriodSeconds(s), 3.0 * 512 * 586 / 12e6, 1e-12);
}

} // namespace
} // namespace korval::camera
