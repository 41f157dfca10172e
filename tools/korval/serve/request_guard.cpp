#include "tools/korval/serve/request_guard.h"

#include "tools/korval/serve/http_request.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>

namespace korval::tools::serve {
namespace {

bool isIpv4(const std::string& text)
{
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool isIpv6(const std::string& text)
{
    in6_addr address{};
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

bool isLoopback(const std::string& address)
{
    return address == "::1" || address.starts_with("127.");
}

// "name:port" or "[v6]:port" split; false when malformed.
bool splitHost(const std::string& host, std::string& name, std::string& port)
{
    std::size_t nameEnd = 0;
    if (host.starts_with("[")) {
        nameEnd = host.find(']');
        if (nameEnd == std::string::npos || !isIpv6(host.substr(1, nameEnd - 1))) {
            return false;
        }
        ++nameEnd;
    } else {
        nameEnd = std::min(host.find(':'), host.size());
    }
    name = lowerCase(host.substr(0, nameEnd));
    if (nameEnd == host.size()) {
        port.clear();
        return !name.empty();
    }
    if (host[nameEnd] != ':') {
        return false;
    }
    port = host.substr(nameEnd + 1);
    return !name.empty() && !port.empty() && std::all_of(port.begin(), port.end(), ::isdigit);
}

} // namespace

std::vector<std::string> interfaceAddresses()
{
    std::vector<std::string> addresses;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return addresses;
    }
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        const sockaddr* address = entry->ifa_addr;
        char text[INET6_ADDRSTRLEN] = {};
        if (address != nullptr && address->sa_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof(text));
        } else if (address != nullptr && address->sa_family == AF_INET6) {
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof(text));
        }
        if (text[0] != 0) {
            addresses.emplace_back(text);
        }
    }
    freeifaddrs(interfaces);
    return addresses;
}

RequestGuard::RequestGuard(const std::vector<std::string>& addresses, int port,
                           const std::vector<std::string>& interfaces)
    : port_(port)
{
    for (const auto& address : addresses) {
        if (address != "0.0.0.0" && address != "::") {
            addName(address);
            continue;
        }
        for (const auto& local : interfaces) {
            if (address == "::" || isIpv4(local)) {
                addName(local);
            }
        }
    }
}

void RequestGuard::addName(const std::string& address)
{
    names_.push_back(lowerCase(isIpv6(address) ? "[" + address + "]" : address));
    if (isLoopback(address)) {
        names_.push_back("localhost");
    }
}

bool RequestGuard::hostAllowed(const std::string& host) const
{
    std::string name;
    std::string port;
    if (!splitHost(host, name, port)) {
        return false;
    }
    const bool portMatches = port.empty() ? port_ == 80 : port.size() <= 5 && std::stoi(port) == port_;
    if (!portMatches) {
        return false;
    }
    return std::find(names_.begin(), names_.end(), name) != names_.end();
}

bool RequestGuard::originAllowed(const std::string& origin, bool present) const
{
    if (!present) {
        return true;
    }
    const std::string scheme = "http://";
    return origin.starts_with(scheme) && hostAllowed(origin.substr(scheme.size()));
}

} // namespace korval::tools::serve
