#include "tools/korval/capture_options.h"

#include <gtest/gtest.h>

namespace {

using namespace korval::tools;

std::string errorOf(std::vector<std::string> args)
{
    std::string error;
    EXPECT_FALSE(parseCaptureOptions(args, error).has_value()) << "accepted: " << args.front();
    return error;
}

TEST(CaptureOptionsTest, DefaultsAndEveryOption)
{
    std::string error;
    auto defaults = parseCaptureOptions({}, error);
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->frames, 30);
    EXPECT_TRUE(defaults->i420);
    EXPECT_EQ(defaults->width, 352);
    EXPECT_EQ(defaults->outputKind, OutputKind::Y4m);
    EXPECT_TRUE(defaults->lockstep);

    auto all = parseCaptureOptions({"--frames", "5", "--format=rgb24", "--size", "160x120", "--scene", "chart",
                                    "--output", "f%02d.png", "--machine", "m", "--clock", "real"},
                                   error);
    ASSERT_TRUE(all) << error;
    EXPECT_EQ(all->frames, 5);
    EXPECT_FALSE(all->i420);
    EXPECT_EQ(all->width, 160);
    EXPECT_EQ(all->height, 120);
    EXPECT_EQ(all->scene, "chart");
    EXPECT_EQ(all->outputKind, OutputKind::PngPattern);
    EXPECT_EQ(all->machine, "m");
    EXPECT_EQ(all->clock, korval::host::ClockMode::Real);
    EXPECT_FALSE(all->lockstep);
    auto fast = parseCaptureOptions({"--clock", "fast"}, error);
    ASSERT_TRUE(fast) << error;
    EXPECT_FALSE(fast->lockstep);
    EXPECT_EQ(fast->clock, korval::host::ClockMode::Scaled);
    EXPECT_EQ(defaults->sensor, korval::camera::SensorModel::Real);
    auto lit = parseCaptureOptions({"--light", "2850K", "--sensor", "ideal"}, error);
    ASSERT_TRUE(lit) << error;
    EXPECT_EQ(lit->lightKelvin, 2850.0);
    EXPECT_EQ(lit->sensor, korval::camera::SensorModel::Ideal);

    auto rgb = parseCaptureOptions({"--format", "rgb24"}, error);
    ASSERT_TRUE(rgb);
    EXPECT_EQ(rgb->outputKind, OutputKind::PngPattern) << "RGB24 without an output goes to PNG files";
}

TEST(CaptureOptionsTest, EachErrorNamesTheOptionAndValue)
{
    for (const char* bad : {"0", "-3", "12x", "", "100001", "99999999999"}) {
        const std::string error = errorOf({"--frames", bad});
        EXPECT_NE(error.find("--frames"), std::string::npos) << error;
        std::string quoted = "'";
        quoted.append(bad).push_back('\'');
        EXPECT_NE(error.find(quoted), std::string::npos) << error;
    }
    EXPECT_NE(errorOf({"--size", "100x100"}).find("--size: '100x100'"), std::string::npos);
    EXPECT_NE(errorOf({"--format", "yuy2"}).find("--format: 'yuy2'"), std::string::npos);
    EXPECT_NE(errorOf({"--scene", "sky"}).find("--scene: 'sky'"), std::string::npos);
    EXPECT_NE(errorOf({"--clock", "slow"}).find("--clock: 'slow'"), std::string::npos);
    EXPECT_NE(errorOf({"--light", "1500K"}).find("--light: '1500K'"), std::string::npos);
    EXPECT_NE(errorOf({"--sensor", "cmos"}).find("--sensor: 'cmos'"), std::string::npos);
    EXPECT_NE(errorOf({"--output", "x.avi"}).find("--output: 'x.avi'"), std::string::npos);
    EXPECT_NE(errorOf({"--format", "rgb24", "--output", "x.y4m"}).find("I420 only"), std::string::npos);
    EXPECT_NE(errorOf({"--bogus"}).find("unknown option '--bogus'"), std::string::npos);
    EXPECT_NE(errorOf({"--frames=3", "--bogus=1"}).find("'--bogus'"), std::string::npos);
    EXPECT_NE(errorOf({"--size"}).find("'--size' needs a value"), std::string::npos);
    EXPECT_NE(errorOf({"stray"}).find("'stray'"), std::string::npos);
}

} // namespace
