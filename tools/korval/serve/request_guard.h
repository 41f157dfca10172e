// Which requests the server answers: only those addressed to it by one of its
// own names (a Host naming another site means DNS rebinding), and changes
// only from its own pages (a foreign Origin means a cross-site request).
#pragma once

#include <string>
#include <vector>

namespace korval::tools::serve {

// The addresses of this machine's network interfaces, as text.
std::vector<std::string> interfaceAddresses();

class RequestGuard {
public:
    // `addresses`: the IP addresses listened on; `port`: the port served. An
    // address that listens everywhere stands for the machine's `interfaces`
    // (0.0.0.0 their IPv4 addresses, :: all of them).
    RequestGuard(const std::vector<std::string>& addresses, int port,
                 const std::vector<std::string>& interfaces = interfaceAddresses());

    // A Host header ("127.0.0.1:8080", "[::1]:8080", "localhost:8080").
    bool hostAllowed(const std::string& host) const;
    // An Origin header; a request without one (not from a browser) is allowed.
    bool originAllowed(const std::string& origin, bool present) const;

private:
    void addName(const std::string& address);

    std::vector<std::string> names_; // lower case, IPv6 in brackets
    int port_;
};

} // namespace korval::tools::serve
