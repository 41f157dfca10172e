#include "tools/korval/serve/web_server.h"

#include "tools/korval/serve/page_assets.h"
#include "tools/korval/serve/scene_source.h"

#include <httplib.h>
#include <sys/socket.h>

#include <initializer_list>
#include <set>

namespace korval::tools::serve {
namespace {

using httplib::Request;
using httplib::Response;
using HandlerResponse = httplib::Server::HandlerResponse;

constexpr const char* kBoundary = "korvalframe";
constexpr int kMaxPictureStreams = 6;
constexpr std::size_t kServerThreads = 16;
constexpr auto kFrameWait = std::chrono::milliseconds(500);
constexpr auto kFirstFrameWait = std::chrono::seconds(3);
constexpr std::size_t kLongestParameter = 64;

void sendJson(Response& res, const nlohmann::json& body, int status = 200)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body.dump(), "application/json");
}

void sendError(Response& res, int status, const std::string& reason)
{
    sendJson(res, {{"error", reason}}, status);
}

// Every parameter must be one the endpoint knows, given once and short.
bool parametersValid(const Request& req, Response& res, std::initializer_list<const char*> known)
{
    std::set<std::string> seen;
    for (const auto& parameter : req.params) {
        const std::string& name = parameter.first;
        const std::string& value = parameter.second;
        const bool isKnown = std::any_of(known.begin(), known.end(), [&](const char* k) { return name == k; });
        std::string reason;
        if (!isKnown) {
            reason = "unknown parameter '" + name.substr(0, kLongestParameter) + "'";
        } else if (!seen.insert(name).second) {
            reason = "parameter '" + name + "' given twice";
        } else if (value.size() > kLongestParameter) {
            reason = "parameter '" + name + "' is too long";
        }
        if (!reason.empty()) {
            sendError(res, 400, reason);
            return false;
        }
    }
    return true;
}

std::string parameter(const Request& req, const char* name)
{
    return req.has_param(name) ? req.get_param_value(name) : std::string();
}

// The error, or what `body` makes of the new state.
template <class Body>
void answer(Response& res, const std::optional<ServiceError>& error, Body body)
{
    if (error) {
        sendError(res, error->badRequest ? 400 : 503, error->reason);
    } else {
        sendJson(res, body());
    }
}

void addSecurityHeaders(Response& res)
{
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob:; "
                   "connect-src 'self'; frame-ancestors 'none'; form-action 'none'; base-uri 'none'");
}

void restrictSocket(socket_t sock)
{
    // Not SO_REUSEPORT, which would let another program share the port.
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
}

void addPageRoutes(httplib::Server& server)
{
    server.Get("/", [](const Request& req, Response& res) {
        if (parametersValid(req, res, {})) {
            res.set_content(kPageHtml, "text/html; charset=utf-8");
        }
    });
    server.Get("/favicon.ico", [](const Request&, Response& res) { res.status = 204; });
    server.Get("/page.js", [](const Request&, Response& res) {
        res.set_content(kPageScript, "text/javascript; charset=utf-8");
    });
    server.Get("/page.css", [](const Request&, Response& res) {
        res.set_content(kPageStyle, "text/css; charset=utf-8");
    });
}

void serveFrame(CameraService& service, const Request& req, Response& res)
{
    if (!parametersValid(req, res, {})) {
        return;
    }
    auto frame = service.frames().waitJpeg(0, kFirstFrameWait);
    if (!frame) {
        sendError(res, 503, "no frame from the camera");
        return;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(*frame->jpeg, "image/jpeg");
}

// One JPEG part per delivered frame until the viewer leaves or the server stops.
void servePictureStream(FrameHub& hub, std::atomic<int>& openStreams, const Request& req, Response& res)
{
    if (!parametersValid(req, res, {})) {
        return;
    }
    if (++openStreams > kMaxPictureStreams) {
        --openStreams;
        sendError(res, 503, "too many live pictures open; close one");
        return;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
        [&hub, last = std::uint64_t{0}](std::size_t, httplib::DataSink& sink) mutable {
            auto frame = hub.waitJpeg(last, kFrameWait);
            if (!frame) {
                return !hub.closed();
            }
            last = frame->sequence;
            std::string part = std::string("--") + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                               std::to_string(frame->jpeg->size()) + "\r\n\r\n";
            part.append(*frame->jpeg).append("\r\n");
            return sink.write(part.data(), part.size());
        },
        [&openStreams](bool) { --openStreams; });
}

void serveStill(CameraService& service, const Request& req, Response& res)
{
    const std::string download = parameter(req, "download");
    if (!parametersValid(req, res, {"download"})) {
        return;
    }
    if (!download.empty() && download != "0" && download != "1") {
        sendError(res, 400, "download must be 0 or 1");
        return;
    }
    auto png = service.stillPng();
    if (!png) {
        sendError(res, 404, "no still yet: press the snapshot button");
        return;
    }
    if (download == "1") {
        res.set_header("Content-Disposition", "attachment; filename=\"korval-still.png\"");
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(*png, "image/png");
}

void addPictureRoutes(httplib::Server& server, CameraService& service, std::atomic<int>& openStreams)
{
    server.Get("/frame.jpg", [&service](const Request& req, Response& res) { serveFrame(service, req, res); });
    server.Get("/stream.mjpg", [&service, &openStreams](const Request& req, Response& res) {
        servePictureStream(service.frames(), openStreams, req, res);
    });
    server.Get("/api/still.png", [&service](const Request& req, Response& res) { serveStill(service, req, res); });
}

void addStateRoutes(httplib::Server& server, CameraService& service)
{
    server.Get("/api/state", [&service](const Request& req, Response& res) {
        if (parametersValid(req, res, {})) {
            sendJson(res, service.state());
        }
    });
    server.Get("/api/counters", [&service](const Request& req, Response& res) {
        if (parametersValid(req, res, {})) {
            sendJson(res, service.counters());
        }
    });
    server.Post("/api/property", [&service](const Request& req, Response& res) {
        if (!parametersValid(req, res, {"name", "value", "mode"})) {
            return;
        }
        if (!req.has_param("name") || (!req.has_param("value") && !req.has_param("mode"))) {
            sendError(res, 400, "a property change needs name and value (or mode)");
            return;
        }
        nlohmann::json changed;
        const auto error =
            service.setProperty(parameter(req, "name"), parameter(req, "value"), parameter(req, "mode"), changed);
        answer(res, error, [&] { return nlohmann::json{{"property", changed}}; });
    });
    server.Post("/api/defaults", [&service](const Request& req, Response& res) {
        if (parametersValid(req, res, {})) {
            answer(res, service.restoreDefaults(), [&] { return service.state(); });
        }
    });
}

void addStreamRoutes(httplib::Server& server, CameraService& service)
{
    server.Post("/api/stream", [&service](const Request& req, Response& res) {
        if (!parametersValid(req, res, {"size", "format"})) {
            return;
        }
        int width = 0;
        int height = 0;
        const std::string format = parameter(req, "format");
        if (!parseFrameSize(parameter(req, "size"), width, height)) {
            sendError(res, 400, "size must be one of 640x480, 352x288, 320x240, 176x144, 160x120");
        } else if (format != "i420" && format != "rgb24") {
            sendError(res, 400, "format must be i420 or rgb24");
        } else {
            answer(res, service.restartStream(width, height, format == "i420"), [&] { return service.summary(); });
        }
    });
    server.Post("/api/scene", [&service](const Request& req, Response& res) {
        if (parametersValid(req, res, {"name"})) {
            answer(res, service.selectScene(parameter(req, "name")), [&] { return service.summary(); });
        }
    });
    server.Post("/api/scene/upload", [&service](const Request& req, Response& res) {
        if (!parametersValid(req, res, {})) {
            return;
        }
        if (req.get_header_value("Content-Type") != "image/png") {
            sendError(res, 400, "the upload must be sent as image/png");
            return;
        }
        answer(res, service.uploadScene(req.body), [&] { return service.summary(); });
    });
    server.Post("/api/snapshot", [&service](const Request& req, Response& res) {
        if (!parametersValid(req, res, {})) {
            return;
        }
        if (auto error = service.takeSnapshot()) {
            sendError(res, 503, error->reason);
        } else {
            sendJson(res, service.counters());
        }
    });
}

void describeErrors(httplib::Server& server)
{
    server.set_error_handler([](const Request&, Response& res) {
        if (!res.body.empty()) {
            return;
        }
        const std::string reason = res.status == 404   ? "no such page"
                                   : res.status == 413 ? "the request is too large"
                                   : res.status == 400 ? "malformed request (a POST needs a Content-Length)"
                                                       : "the request was refused";
        sendError(res, res.status, reason);
    });
    server.set_exception_handler([](const Request&, Response& res, std::exception_ptr) {
        sendError(res, 500, "the server failed on this request");
    });
}

} // namespace

WebServer::WebServer(CameraService& service, std::string listen, int port)
    : service_(service), loopbackDefault_(listen.empty()), port_(port)
{
    addresses_ = loopbackDefault_ ? std::vector<std::string>{"127.0.0.1", "::1"} : std::vector{listen};
}

WebServer::~WebServer()
{
    stop();
}

std::unique_ptr<httplib::Server> WebServer::makeServer()
{
    auto server = std::make_unique<httplib::Server>();
    server->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server->set_socket_options(restrictSocket);
    server->set_keep_alive_timeout(1);
    server->set_read_timeout(5);
    server->set_write_timeout(5);
    server->set_payload_max_length(kMaxUploadBytes);
    server->set_pre_routing_handler([this](const Request& req, Response& res) {
        addSecurityHeaders(res);
        const std::string host = req.get_header_value("Host");
        if (!guard_->hostAllowed(host)) {
            sendError(res, 403, "Host '" + host.substr(0, kLongestParameter) + "' is not this server");
            return HandlerResponse::Handled;
        }
        const bool changes = req.method != "GET" && req.method != "HEAD";
        if (changes && !guard_->originAllowed(req.get_header_value("Origin"), req.has_header("Origin"))) {
            sendError(res, 403, "changes are taken only from this server's own page");
            return HandlerResponse::Handled;
        }
        return HandlerResponse::Unhandled;
    });
    addPageRoutes(*server);
    addPictureRoutes(*server, service_, openStreams_);
    addStateRoutes(*server, service_);
    addStreamRoutes(*server, service_);
    describeErrors(*server);
    return server;
}

bool WebServer::start(std::string& error)
{
    for (const auto& address : addresses_) {
        auto server = makeServer();
        bool bound = false;
        if (port_ == 0) {
            port_ = server->bind_to_any_port(address);
            bound = port_ > 0;
        } else {
            bound = server->bind_to_port(address, port_);
        }
        if (!bound) {
            if (loopbackDefault_ && address == "::1" && !servers_.empty()) {
                continue; // no IPv6 loopback here: 127.0.0.1 alone
            }
            error = "cannot listen on " + address + " port " + std::to_string(port_ < 0 ? 0 : port_);
            stop();
            return false;
        }
        bound_.push_back(address);
        servers_.push_back(std::move(server));
    }
    guard_ = std::make_unique<RequestGuard>(bound_, port_);
    for (auto& server : servers_) {
        threads_.emplace_back([running = server.get()] { running->listen_after_bind(); });
    }
    // A stop() before the server runs would be missed: wait until it does.
    for (auto& server : servers_) {
        while (!server->is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

void WebServer::stop()
{
    for (auto& server : servers_) {
        server->stop();
    }
    for (auto& thread : threads_) {
        thread.join();
    }
    threads_.clear();
    servers_.clear();
}

std::vector<std::string> WebServer::urls() const
{
    std::vector<std::string> urls;
    for (const auto& address : bound_) {
        const std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
        urls.push_back("http://" + host + ":" + std::to_string(port_) + "/");
    }
    return urls;
}

} // namespace korval::tools::serve
