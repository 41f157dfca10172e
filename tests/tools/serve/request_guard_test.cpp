#include "tools/korval/serve/request_guard.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace korval::serve_test {
namespace {

using tools::serve::RequestGuard;

// This machine's interfaces as the guard of a server on 0.0.0.0 or :: sees them.
const std::vector<std::string> kInterfaces = {"127.0.0.1", "192.168.1.2", "::1", "fe80::1"};

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
        {{"0.0.0.0"}, 8080, "10.1.2.3:8080", false}, // not one of this machine's addresses
        {{"0.0.0.0"}, 8080, "192.168.1.2:8080", true},
        {{"0.0.0.0"}, 8080, "localhost:8080", true},
        {{"0.0.0.0"}, 8080, "[fe80::1]:8080", false}, // 0.0.0.0 serves no IPv6
        {{"0.0.0.0"}, 8080, "camera.example:8080", false},
        {{"::"}, 8080, "[fe80::1]:8080", true},
        {{"::"}, 8080, "192.168.1.2:8080", true},
        {{"::"}, 8080, "[fe80::2]:8080", false},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(RequestGuard(test.addresses, test.port, kInterfaces).hostAllowed(test.host), test.allowed)
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

    // Listening everywhere, a change is still taken only from a page this server served.
    const RequestGuard everywhere({"0.0.0.0"}, 8080, kInterfaces);
    for (const auto& [origin, allowed] : {std::pair{"http://192.168.1.2:8080", true},
                                          {"http://127.0.0.1:8080", true},
                                          {"http://203.0.113.9:8080", false},
                                          {"http://camera.attacker.example:8080", false},
                                          {"http://192.168.1.2:8081", false}}) {
        EXPECT_EQ(everywhere.originAllowed(origin, true), allowed) << origin;
    }
}

TEST(RequestGuard, ListeningEverywhereAcceptsThisMachinesOwnAddresses)
{
    const auto interfaces = tools::serve::interfaceAddresses();
    ASSERT_NE(std::find(interfaces.begin(), interfaces.end(), "127.0.0.1"), interfaces.end());
    const RequestGuard guard({"0.0.0.0"}, 8080);
    EXPECT_TRUE(guard.hostAllowed("127.0.0.1:8080"));
    EXPECT_FALSE(guard.hostAllowed("203.0.113.9:8080"));
}

} // namespace
} // namespace korval::serve_test
