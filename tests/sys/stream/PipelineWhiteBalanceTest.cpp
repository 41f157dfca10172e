// Auto white balance end to end: the real sensor sees a grey card under lights
// of different colour, and the delivered picture of the card comes out grey.
#include "PipelineHarness.h"

#include "camera/sensor/sensor_model.h"

#include <array>

namespace korval::testing {
namespace {

// Mean B, G, R of the middle quarter of a BGR24 frame.
std::array<double, 3> middleMean(const std::vector<std::uint8_t>& bgr, int width, int height)
{
    std::array<double, 3> sum{};
    int count = 0;
    for (int y = height * 3 / 8; y < height * 5 / 8; ++y) {
        for (int x = width * 3 / 8; x < width * 5 / 8; ++x) {
            for (int c = 0; c < 3; ++c) {
                sum[c] += bgr[(static_cast<std::size_t>(y) * width + x) * 3 + c];
            }
            ++count;
        }
    }
    for (double& channel : sum) {
        channel /= count;
    }
    return sum;
}

class PipelineWhiteBalanceTest : public PipelineTest, public ::testing::WithParamInterface<double> {};

TEST_P(PipelineWhiteBalanceTest, GreyCardComesOutGrey)
{
    camera().setSensorOptions(camera::sensorOptionsFor(camera::SensorModel::Real, GetParam(), camera().sensorOptions()));
    camera().setScene(camera::makeFlatScene(0.2f, 0.2f, 0.2f));
    startStreaming();
    ReadRequest read = request();
    for (int frame = 0; frame < 160; ++frame) {
        ASSERT_EQ(fillNext(read), STATUS_SUCCESS);
    }
    const auto bgr = middleMean(read.data, 352, 288);
    EXPECT_NEAR(bgr[2], bgr[1], 1.5) << "red against green";
    EXPECT_NEAR(bgr[0], bgr[1], 1.5) << "blue against green";
}

INSTANTIATE_TEST_SUITE_P(Lights, PipelineWhiteBalanceTest, ::testing::Values(2850.0, 5000.0, 6500.0));

} // namespace
} // namespace korval::testing
