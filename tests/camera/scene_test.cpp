// Scenes: the built-in patterns and PNG pictures, in linear light.
#include "camera/sensor/scene.h"
#include "support/png_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace korval::camera {
namespace {

LinearImage blank()
{
    LinearImage image;
    image.rgb.assign(static_cast<std::size_t>(image.width) * image.height * 3, -1.0F);
    return image;
}

TEST(Scenes, ColourChartPatchesCarryTheReferenceColoursInLinearLight)
{
    LinearImage image = blank();
    makeColourChart()->render(0.0, image);
    for (int patch = 0; patch < 24; ++patch) {
        const ChartPatchBox box = chartPatchBox(patch);
        for (const auto& [x, y] : {std::pair{box.x0, box.y0}, std::pair{box.x1 - 1, box.y1 - 1}}) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_FLOAT_EQ(image.pixel(x, y)[c], linearFromSrgb(kColourChartSrgb[patch][c])) << "patch " << patch;
            }
        }
    }
    // The card shows all round the chart: past every patch's outer edge.
    const ChartPatchBox first = chartPatchBox(0);
    const ChartPatchBox last = chartPatchBox(23);
    for (const auto& [x, y] : {std::pair{first.x0 - 1, first.y0}, std::pair{first.x0, first.y0 - 1},
                              std::pair{last.x1, last.y1 - 1}, std::pair{last.x1 - 1, last.y1}}) {
        EXPECT_FLOAT_EQ(image.pixel(x, y)[1], kChartSurround) << x << "," << y;
    }
    EXPECT_GT(first.x0, image.width / 8);
    EXPECT_GT(first.y0, image.height / 8);
    EXPECT_NEAR(linearFromSrgb(255), 1.0F, 1e-6F);
    EXPECT_NEAR(linearFromSrgb(188), 0.5F, 0.01F);
    EXPECT_EQ(linearFromSrgb(0), 0.0F);
}

TEST(Scenes, ColourBarsAndTheMovingPatternFillEveryPixel)
{
    LinearImage bars = blank();
    makeColourBars()->render(0.0, bars);
    EXPECT_FLOAT_EQ(bars.pixel(5, 5)[0], 0.75F);     // white bar
    EXPECT_FLOAT_EQ(bars.pixel(bars.width - 5, 5)[1], 0.0F); // black bar
    auto moving = makeMovingPattern();
    EXPECT_TRUE(moving->moving());
    LinearImage a = blank();
    LinearImage b = blank();
    moving->render(0.0, a);
    moving->render(0.5, b);
    EXPECT_NE(a.rgb, b.rgb);
    for (float value : a.rgb) {
        ASSERT_GE(value, 0.0F);
    }
}

TEST(Scenes, PngPicturesAreScaledToTheSensor)
{
    // A 704 × 576 picture: left half red, right half blue.
    const int width = 704;
    const int height = 576;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rgb[(static_cast<std::size_t>(y) * width + x) * 3 + (x < width / 2 ? 0 : 2)] = 255;
        }
    }
    const std::string path = korval::testing::writeRgbPng("scene_red_blue_source", width, height, rgb);
    ASSERT_FALSE(path.empty());
    std::string error;
    auto scene = loadPngScene(path, error);
    ASSERT_NE(scene, nullptr) << error;
    LinearImage image = blank();
    scene->render(0.0, image);
    EXPECT_FLOAT_EQ(image.pixel(10, 10)[0], 1.0F);
    EXPECT_FLOAT_EQ(image.pixel(10, 10)[2], 0.0F);
    EXPECT_FLOAT_EQ(image.pixel(340, 280)[2], 1.0F);
    EXPECT_FLOAT_EQ(image.pixel(175, 100)[0], 1.0F);

    EXPECT_EQ(loadPngScene("pictures/no-such-file.png", error), nullptr);
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace korval::camera
