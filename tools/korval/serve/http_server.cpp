#include "tools/korval/serve/http_server.h"

#include "tools/korval/serve/http_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace korval::tools::serve {
namespace {

constexpr int kBacklog = 64;
constexpr int kRequestsPerConnection = 100;

const char* reasonPhrase(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Error";
    }
}

std::string peerAddress(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof(text));
        return text;
    }
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof(text));
    } else {
        inet_ntop(AF_INET6, &v6, text, sizeof(text));
    }
    return text;
}

int boundPort(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(address).sin_port
                                              : reinterpret_cast<sockaddr_in6&>(address).sin6_port);
}

// A listening socket on `address`:`port`, or -1.
int listenOn(const addrinfo& where, bool anyV6)
{
    const int fd = socket(where.ai_family, where.ai_socktype | SOCK_CLOEXEC, where.ai_protocol);
    if (fd < 0) {
        return -1;
    }
    int yes = 1; // not SO_REUSEPORT, which would let another program share the port
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    if (where.ai_family == AF_INET6) {
        int v6only = anyV6 ? 0 : 1; // "::" serves IPv4 too; "::1" leaves 127.0.0.1 to its own socket
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof(v6only));
    }
    if (::bind(fd, where.ai_addr, where.ai_addrlen) != 0 || listen(fd, kBacklog) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string chunk(std::string_view part)
{
    char size[20];
    std::snprintf(size, sizeof(size), "%zx\r\n", part.size());
    return std::string(size).append(part).append("\r\n");
}

} // namespace

bool StreamSink::write(std::string_view part)
{
    return !part.empty() && !stopping_ && socket_.write(chunked_ ? chunk(part) : std::string(part));
}

void HttpResponse::setHeader(const std::string& name, const std::string& value)
{
    for (auto& header : headers) {
        if (header.first == name) {
            header.second = value;
            return;
        }
    }
    headers.emplace_back(name, value);
}

void HttpResponse::setContent(std::string content, const std::string& type)
{
    body = std::move(content);
    setHeader("Content-Type", type);
}

void HttpResponse::setStream(const std::string& type, std::function<bool(StreamSink&)> parts,
                             std::function<void()> ended)
{
    setHeader("Content-Type", type);
    stream = std::move(parts);
    streamEnded = std::move(ended);
}

HttpServer::HttpServer(HttpServerLimits limits)
    : limits_(limits), stopFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

HttpServer::~HttpServer()
{
    stop();
    for (int fd : listeners_) {
        close(fd);
    }
    close(stopFd_);
}

void HttpServer::route(const std::string& method, const std::string& path, HttpHandler handler)
{
    routes_[{method, path}] = std::move(handler);
}

bool HttpServer::bind(const std::string& address, int& port, std::string& error)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    int fd = -1;
    if (getaddrinfo(address.c_str(), service.c_str(), &hints, &found) == 0) {
        fd = listenOn(*found, address == "::");
        freeaddrinfo(found);
    }
    if (fd < 0) {
        error = "cannot listen on " + address + " port " + service;
        return false;
    }
    port = boundPort(fd);
    listeners_.push_back(fd);
    return true;
}

void HttpServer::start()
{
    acceptor_ = std::thread([this] { acceptLoop(); });
}

void HttpServer::stop()
{
    if (stopping_.exchange(true)) {
        return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(stopFd_, &one, sizeof(one));
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    std::vector<Connection> connections;
    {
        std::lock_guard lock(mutex_);
        connections.swap(connections_);
    }
    for (auto& connection : connections) {
        connection.thread.join();
    }
}

void HttpServer::acceptLoop()
{
    std::vector<pollfd> watched{{stopFd_, POLLIN, 0}};
    for (int fd : listeners_) {
        watched.push_back({fd, POLLIN, 0});
    }
    while (!stopping_) {
        if (poll(watched.data(), watched.size(), -1) < 0 || watched[0].revents != 0) {
            continue;
        }
        for (std::size_t i = 1; i < watched.size(); ++i) {
            if (watched[i].revents == 0) {
                continue;
            }
            sockaddr_storage address{};
            socklen_t length = sizeof(address);
            const int fd = accept4(watched[i].fd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
            if (fd >= 0) {
                admit(fd, peerAddress(address));
            }
        }
    }
}

void HttpServer::reapFinished()
{
    std::erase_if(connections_, [](Connection& connection) {
        if (!*connection.done) {
            return false;
        }
        connection.thread.join();
        return true;
    });
}

// One thread per connection, within the limits; beyond them the client is told at once.
void HttpServer::admit(int fd, const std::string& peer)
{
    std::lock_guard lock(mutex_);
    reapFinished();
    if (connections_.size() >= limits_.connections || perPeer_[peer] >= limits_.connectionsPerPeer) {
        ClientSocket socket(fd, stopFd_, std::chrono::milliseconds(100));
        HttpResponse response;
        refuse(503, "too many connections from " + peer + "; close some", response);
        HttpRequest request;
        answer(socket, request, response, false);
        return;
    }
    ++perPeer_[peer];
    auto done = std::make_shared<std::atomic<bool>>(false);
    connections_.push_back({std::thread([this, fd, peer, done] {
                                serveConnection(fd, peer);
                                *done = true;
                            }),
                            done});
}

void HttpServer::serveConnection(int fd, std::string peer)
{
    {
        ClientSocket socket(fd, stopFd_, limits_.writeTime);
        socket.setDeadline(Clock::now() + limits_.requestTime);
        for (int served = 0; served < kRequestsPerConnection && !stopping_; ++served) {
            if (served > 0 && !socket.awaitData(limits_.idleTime)) {
                break;
            }
            if (served > 0) {
                socket.setDeadline(Clock::now() + limits_.requestTime);
            }
            HttpRequest request;
            const ReadOutcome outcome = readRequest(socket, limits_, request, [&socket] {
                socket.write("HTTP/1.1 100 Continue\r\n\r\n");
            });
            if (outcome.ended) {
                break;
            }
            HttpResponse response;
            if (outcome.status != 0) {
                refuse(outcome.status, outcome.reason, response);
                answer(socket, request, response, false);
                socket.lingeringClose(); // the unread rest of the request must not reset the answer
                break;
            }
            dispatch(request, response);
            const bool keepAlive = request.keepAlive() && !response.stream && served + 1 < kRequestsPerConnection;
            if (!answer(socket, request, response, keepAlive) || !keepAlive) {
                break;
            }
        }
    }
    std::lock_guard lock(mutex_);
    if (--perPeer_[peer] == 0) {
        perPeer_.erase(peer);
    }
}

void HttpServer::refuse(int status, const std::string& reason, HttpResponse& response)
{
    response.status = status;
    if (describeError_) {
        describeError_(reason, response);
    }
}

void HttpServer::dispatch(const HttpRequest& request, HttpResponse& response)
{
    if (gate_ && gate_(request, response)) {
        return;
    }
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    auto found = routes_.find({method, request.path});
    if (found == routes_.end()) {
        const bool otherMethod = std::any_of(routes_.begin(), routes_.end(),
                                             [&](const auto& route) { return route.first.second == request.path; });
        refuse(otherMethod ? 405 : 404, otherMethod ? "this page does not take " + request.method : "no such page",
               response);
        return;
    }
    try {
        found->second(request, response);
    } catch (const std::exception&) {
        response = HttpResponse();
        refuse(500, "the server failed on this request", response);
    }
}

bool HttpServer::answer(ClientSocket& socket, const HttpRequest& request, HttpResponse& response, bool keepAlive)
{
    const bool chunked = response.stream && request.minorVersion == 1;
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) + "\r\n";
    for (const auto& [name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
    }
    head += response.stream ? (chunked ? "Transfer-Encoding: chunked\r\n" : "")
                            : "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += keepAlive ? "\r\n" : "Connection: close\r\n\r\n";
    const bool withBody = request.method != "HEAD";
    bool written = socket.write(head) && (!withBody || response.stream || socket.write(response.body));
    if (response.stream && withBody && written) {
        StreamSink sink(socket, stopping_, chunked);
        while (!stopping_ && response.stream(sink)) {
        }
        written = !chunked || socket.write("0\r\n\r\n");
    }
    if (response.streamEnded) {
        response.streamEnded();
    }
    return written;
}

} // namespace korval::tools::serve
