#include "tools/korval/serve/request_guard.h"

#include <gtest/gtest.h>

namespace korval::serve_test {
namespace {

using tools::serve::RequestGuard;

struct HostCase {
    std::vector<std::string> addresses;
    int port;
    const char* host;
    bool allowed;
};

TEST(RequestGuard, HostMustNameTheServedAddressAndPort)
{
    const std::vector<std::string> loopback = {"127.0.0.1", "::1"};
    const HostCase cases[] = {
        {loopback, 8080, "127.0.0.1:8080", true},
        {loopback, 8080, "[::1]:8080", true},
        {loopback, 8080, "LOCALHOST:8080", true},
        {loopback, 8080, "localhost:8081", false},
        {loopback, 8080, "127.0.0.1", false},       // port 80 implied
        {loopback, 80, "127.0.0.1", true},
        {loopback, 8080, "attacker.example:8080", false}, // DNS rebinding
        {loopback, 8080, "localhost.attacker.example:8080", false},
        {loopback, 8080, "192.168.1.2:8080", false},
        {loopback, 8080, "", false},
        {loopback, 8080, "[::1:8080", false},
        {loopback, 8080, "127.0.0.1:80x", false},
        {loopback, 8080, "127.0.0.1:008080", false},
        {{"192.168.1.2"}, 8080, "192.168.1.2:8080", true},
        {{"192.168.1.2"}, 8080, "localhost:8080", false},
        {{"0.0.0.0"}, 8080, "10.1.2.3:8080", true},
        {{"0.0.0.0"}, 8080, "camera.example:8080", false},
        {{"::"}, 8080, "[fe80::1]:8080", true},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(RequestGuard(test.addresses, test.port).hostAllowed(test.host), test.allowed)
            << test.host << " on port " << test.port;
    }
}

TEST(RequestGuard, ChangesOnlyFromTheServersOwnOrigin)
{
    const RequestGuard guard({"127.0.0.1", "::1"}, 8080);
    EXPECT_TRUE(guard.originAllowed("", false)); // not a browser
    EXPECT_TRUE(guard.originAllowed("http://127.0.0.1:8080", true));
    EXPECT_TRUE(guard.originAllowed("http://localhost:8080", true));
    EXPECT_FALSE(guard.originAllowed("https://127.0.0.1:8080", true));
    EXPECT_FALSE(guard.originAllowed("http://attacker.example", true));
    EXPECT_FALSE(guard.originAllowed("null", true));
    EXPECT_FALSE(guard.originAllowed("", true));
}

} // namespace
} // namespace korval::serve_test
