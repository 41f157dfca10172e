// korval chart-check: the colour difference against published CIEDE2000
// pairs (hue wrap-around and the blue rotation term included), the patch
// statistics on pictures painted with known colours, and the command itself.
#include "tool_test_support.h"

#include "camera/sensor/scene.h"
#include "tools/korval/chart_check_measure.h"

namespace {

using korval::tools::ChartAccumulator;
using korval::tools::ciede2000;
using korval::tools::Lab;
using korval::tools::labFromSrgb;
using korval::tools_test::ToolTest;

TEST(ChartColour, Ciede2000MatchesThePublishedPairs)
{
    const struct {
        Lab first, second;
        double de00;
    } pairs[] = {
        {{50, 2.6772, -79.7751}, {50, 0, -82.7485}, 2.0425},
        {{50, 3.1571, -77.2803}, {50, 0, -82.7485}, 2.8615},
        {{50, 0, 0}, {50, -1, 2}, 2.3669},
        {{50, 2.49, -0.001}, {50, -2.49, 0.0009}, 7.1792},
        {{50, 2.49, -0.001}, {50, -2.49, 0.0011}, 7.2195},
        {{50, -0.001, 2.49}, {50, 0.0009, -2.49}, 4.8045},
        {{50, -0.001, 2.49}, {50, 0.0011, -2.49}, 4.7461},
        {{50, 2.5, 0}, {50, 0, -2.5}, 4.3065},
        {{50, 2.5, 0}, {73, 25, -18}, 27.1492},
        {{50, 2.5, 0}, {56, -27, -3}, 31.9030},
        {{50, 2.5, 0}, {50, 3.1736, 0.5854}, 1.0000},
        {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
        {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, 2.0373},
        {{90.9257, -0.5406, -0.9208}, {88.6381, -0.8985, -0.7239}, 1.5381},
        {{2.0776, 0.0795, -1.1350}, {0.9033, -0.0636, -0.5514}, 0.9082},
    };
    for (const auto& pair : pairs) {
        EXPECT_NEAR(ciede2000(pair.first, pair.second), pair.de00, 5e-5) << pair.first.L << " " << pair.second.L;
        EXPECT_NEAR(ciede2000(pair.second, pair.first), pair.de00, 5e-5);
    }
}

TEST(ChartColour, LabOfSrgbUnderD65)
{
    const struct {
        double r, g, b;
        Lab lab;
    } cases[] = {{255, 255, 255, {100, 0, 0}}, {0, 0, 0, {0, 0, 0}}, {128, 128, 128, {53.585, 0, 0}},
                 {255, 0, 0, {53.241, 80.092, 67.203}}, {0, 0, 255, {32.297, 79.188, -107.860}}};
    for (const auto& c : cases) {
        const Lab lab = labFromSrgb(c.r, c.g, c.b);
        EXPECT_NEAR(lab.L, c.lab.L, 0.01) << c.r << " " << c.g << " " << c.b;
        EXPECT_NEAR(lab.a, c.lab.a, 0.02);
        EXPECT_NEAR(lab.b, c.lab.b, 0.02);
    }
}

// A 352 × 288 picture of the chart in its known colours where the scene puts
// its patches, on a black surround.
std::vector<std::uint8_t> paintedChart(int brighten = 0)
{
    using korval::camera::kColourChartSrgb;
    const int width = 352;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * 288 * 3, 0);
    for (int patch = 0; patch < 24; ++patch) {
        const auto box = korval::camera::chartPatchBox(patch);
        for (int y = box.y0; y < box.y1; ++y) {
            for (int x = box.x0; x < box.x1; ++x) {
                for (int c = 0; c < 3; ++c) {
                    rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c] =
                        static_cast<std::uint8_t>(std::min(255, kColourChartSrgb[patch][c] + brighten));
                }
            }
        }
    }
    return rgb;
}

TEST(ChartMeasure, KnownColoursScoreZeroAndBrightPatchesClip)
{
    ChartAccumulator exact(352, 288);
    exact.add(paintedChart());
    const auto report = exact.report();
    EXPECT_LT(report.meanDe00, 1e-9);
    EXPECT_NEAR(report.greyAbMax, 0.55, 0.01); // neutral 5 is (122, 122, 121): b* 0.55
    EXPECT_TRUE(report.clipped.empty());

    ChartAccumulator bright(352, 288);
    bright.add(paintedChart(30));
    const auto brighter = bright.report();
    EXPECT_EQ(brighter.clipped, (std::vector<int>{12, 16, 19})); // the reds of orange yellow and yellow, white
    EXPECT_GT(brighter.meanDe00, 5.0);
}

TEST_F(ToolTest, ChartCheckReportsTheChartAsJsonAndRefusesAWrongLight)
{
    ASSERT_EQ(run({"chart-check", "--json", "--settle", "4", "--light", "5000K"}), 0) << err_.str();
    const std::string json = out_.str();
    for (const char* key : {"\"mean_de00\":", "\"worst_de00\":", "\"grey_ab_max\":", "\"clipped\":[",
                            "\"light_kelvin\":5000", "\"patch\":24"}) {
        EXPECT_NE(json.find(key), std::string::npos) << key << " in " << json;
    }
    EXPECT_EQ(run({"chart-check", "--light", "900K"}), 2);
    EXPECT_NE(err_.str().find("--light: '900K'"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"chart-check", "--settle", "x"}), 2);
    EXPECT_NE(err_.str().find("--settle"), std::string::npos) << err_.str();
}

} // namespace
