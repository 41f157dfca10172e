// A small HTTP/1.1 server for the page: one thread per connection, bounded
// per client address and in total, every request read within a time and
// within the size limits, and a stop that ends every connection at once,
// however slowly its client sends.
#pragma once

#include "tools/korval/serve/http_request.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace korval::tools::serve {

class ClientSocket;

struct HttpServerLimits : HttpLimits {
    std::chrono::milliseconds requestTime{10000}; // from a connection or a request's first byte to its end
    std::chrono::milliseconds idleTime{5000};     // for the next request on a kept connection
    std::chrono::milliseconds writeTime{5000};    // for a write to make progress
    std::size_t connectionsPerPeer = 32;
    std::size_t connections = 256;
};

// Where an endless answer (a picture or event stream) writes its parts.
class StreamSink {
public:
    StreamSink(ClientSocket& socket, const std::atomic<bool>& stopping, bool chunked)
        : socket_(socket), stopping_(stopping), chunked_(chunked)
    {
    }
    // False when the viewer has gone: the stream ends.
    bool write(std::string_view part);
    bool stopping() const { return stopping_; }

private:
    ClientSocket& socket_;
    const std::atomic<bool>& stopping_;
    bool chunked_;
};

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // An answer without an end: called until it returns false or the server stops.
    std::function<bool(StreamSink&)> stream;
    std::function<void()> streamEnded; // after the last call, however it ended

    void setHeader(const std::string& name, const std::string& value);
    void setContent(std::string content, const std::string& type);
    void setStream(const std::string& type, std::function<bool(StreamSink&)> parts, std::function<void()> ended);
};

using HttpHandler = std::function<void(const HttpRequest&, HttpResponse&)>;

class HttpServer {
public:
    explicit HttpServer(HttpServerLimits limits = {});
    ~HttpServer(); // stop()
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    void route(const std::string& method, const std::string& path, HttpHandler handler);
    // Runs before routing; true when it has answered the request itself.
    void setGate(std::function<bool(const HttpRequest&, HttpResponse&)> gate) { gate_ = std::move(gate); }
    // Fills the answer for a refused request (status set, body empty).
    void setErrorBody(std::function<void(const std::string& reason, HttpResponse&)> describe)
    {
        describeError_ = std::move(describe);
    }

    // Binds an IPv4 or IPv6 address; `port` 0 takes a free one and sets it.
    bool bind(const std::string& address, int& port, std::string& error);
    void start();
    // Ends the accept loop and every connection, then returns.
    void stop();

private:
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void acceptLoop();
    void admit(int fd, const std::string& peer);
    void serveConnection(int fd, std::string peer);
    bool answer(ClientSocket& socket, const HttpRequest& request, HttpResponse& response, bool keepAlive);
    void dispatch(const HttpRequest& request, HttpResponse& response);
    void refuse(int status, const std::string& reason, HttpResponse& response);
    void reapFinished();

    HttpServerLimits limits_;
    std::map<std::pair<std::string, std::string>, HttpHandler> routes_; // (method, path)
    std::function<bool(const HttpRequest&, HttpResponse&)> gate_;
    std::function<void(const std::string&, HttpResponse&)> describeError_;
    std::vector<int> listeners_;
    int stopFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_; // connections_ and perPeer_
    std::vector<Connection> connections_;
    std::map<std::string, std::size_t> perPeer_;
};

} // namespace korval::tools::serve
