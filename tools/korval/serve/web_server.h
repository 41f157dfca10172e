// The HTTP side of 'korval serve': the page, the live picture as motion JPEG,
// and a small JSON interface over the camera service. Listens on loopback
// (127.0.0.1 and ::1) unless given another address.
#pragma once

#include "tools/korval/serve/camera_service.h"
#include "tools/korval/serve/http_server.h"
#include "tools/korval/serve/request_guard.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace korval::tools::serve {

class WebServer {
public:
    // `listen` empty: loopback only. `port` 0: any free port.
    WebServer(CameraService& service, std::string listen, int port, HttpServerLimits limits = {});
    ~WebServer(); // stop()
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds and starts answering; false with `error` naming the address.
    bool start(std::string& error);
    // Ends every connection; a picture or event stream ends within one frame wait.
    void stop();

    int port() const { return port_; }
    std::vector<std::string> urls() const;

private:
    std::unique_ptr<HttpServer> makeServer();

    CameraService& service_;
    std::vector<std::string> addresses_;
    bool loopbackDefault_;
    int port_;
    HttpServerLimits limits_;
    std::unique_ptr<RequestGuard> guard_;
    std::unique_ptr<HttpServer> server_;
    std::vector<std::string> bound_;
    std::atomic<int> openStreams_{0};
    std::atomic<int> openEvents_{0};
};

} // namespace korval::tools::serve
