// Auto white balance end to end: a grey card on the real sensor comes out grey under each light.
#include "PipelineHarness.h"

#include "camera/sensor/sensor_model.h"

namespace korval::testing {

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
    double bgr[3] = {0, 0, 0}; // the middle rows' means
    for (std::size_t at = read.data.size() / 3; at < read.data.size() * 2 / 3; ++at) {
        bgr[at % 3] += read.data[at] * 9.0 / read.data.size();
    }
    EXPECT_NEAR(bgr[2], bgr[1], 1.5) << "red against green";
    EXPECT_NEAR(bgr[0], bgr[1], 1.5) << "blue against green";
}

INSTANTIATE_TEST_SUITE_P(Lights, PipelineWhiteBalanceTest, ::testing::Values(2850.0, 5000.0, 6500.0));

} // namespace korval::testing
