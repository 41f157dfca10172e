#include "tools/korval/cli.h"
#include "tools/korval/serve/serve_options.h"

#include <gtest/gtest.h>

#include <sstream>

namespace korval::serve_test {
namespace {

using tools::serve::parseServeOptions;

TEST(ServeOptions, ReadsEveryOption)
{
    std::string error;
    auto options = parseServeOptions({"--port", "0", "--listen=::1", "--machine", "m", "--scene", "moving",
                                      "--size", "176x144", "--format", "rgb24", "--usb-trace", "t.pcap", "--light=2850K",
                                      "--sensor", "ideal"},
                                     error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->port, 0);
    EXPECT_EQ(options->listen, "::1");
    EXPECT_EQ(options->machine, "m");
    EXPECT_EQ(options->scene, "moving");
    EXPECT_EQ(options->width, 176);
    EXPECT_FALSE(options->i420);
    EXPECT_EQ(options->usbTrace, "t.pcap");
    EXPECT_EQ(options->lightKelvin, 2850);
    EXPECT_EQ(options->sensor, camera::SensorModel::Ideal);
    EXPECT_EQ(parseServeOptions({}, error)->sensor, camera::SensorModel::Real); // as capture's scenes
    EXPECT_EQ(parseServeOptions({}, error)->listen, ""); // loopback by default
}

TEST(ServeOptions, RefusalsNameTheOptionAtFault)
{
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--port", "65536"}, "--port: '65536'"},
        {{"--port", "80a"}, "--port: '80a'"},
        {{"--listen", "localhost"}, "--listen: 'localhost' is not an IPv4 or IPv6 address"},
        {{"--scene", "picture.jpg"}, "--scene: 'picture.jpg'"},
        {{"--size", "100x100"}, "--size: '100x100'"},
        {{"--format", "yuy2"}, "--format: 'yuy2'"},
        {{"--light", "900K"}, "--light: '900K'"},
        {{"--sensor", "perfect"}, "--sensor: 'perfect'"},
        {{"--frames", "3"}, "unknown option '--frames'"},
        {{"--port"}, "option '--port' needs a value"},
        {{"extra"}, "unexpected argument 'extra'"},
    };
    for (const auto& [args, message] : cases) {
        std::string error;
        EXPECT_FALSE(parseServeOptions(args, error));
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

TEST(ServeOptions, CommandExitsWithUsageOnABadOption)
{
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(tools::runKorval({"serve", "--port", "-1"}, out, err), 2);
    EXPECT_NE(err.str().find("korval serve: --port"), std::string::npos);
    EXPECT_EQ(tools::runKorval({"serve", "--help"}, out, err), 0);
    EXPECT_NE(out.str().find("usage: korval serve"), std::string::npos);
}

} // namespace
} // namespace korval::serve_test
