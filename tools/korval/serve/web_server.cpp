#include "tools/korval/serve/web_server.h"

#include "tools/korval/serve/page_assets.h"
#include "tools/korval/serve/scene_source.h"

#include <algorithm>
#include <initializer_list>
#include <set>

namespace korval::tools::serve {
namespace {

using Request = HttpRequest;
using Response = HttpResponse;

constexpr const char* kBoundary = "korvalframe";
constexpr int kMaxPictureStreams = 6;
constexpr int kMaxEventStreams = 16;
constexpr auto kFrameWait = std::chrono::milliseconds(500);
constexpr auto kFirstFrameWait = std::chrono::seconds(3);
constexpr std::size_t kLongestParameter = 64;

void sendJson(Response& res, const nlohmann::json& body, int status = 200)
{
    res.status = status;
    res.setHeader("Cache-Control", "no-store");
    // Text that is not UTF-8 (from a request) is shown replaced, never thrown on.
    res.setContent(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
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
        } else if (!isUtf8(value)) {
            reason = "parameter '" + name + "' is not UTF-8 text";
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
    return req.param(name);
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
    res.setHeader("X-Content-Type-Options", "nosniff");
    res.setHeader("X-Frame-Options", "DENY");
    res.setHeader("Referrer-Policy", "no-referrer");
    res.setHeader("Content-Security-Policy",
                   "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob:; "
                   "connect-src 'self'; frame-ancestors 'none'; form-action 'none'; base-uri 'none'");
}

void addPageRoutes(HttpServer& server)
{
    server.route("GET", "/", [](const Request& req, Response& res) {
        if (parametersValid(req, res, {})) {
            res.setContent(kPageHtml, "text/html; charset=utf-8");
        }
    });
    server.route("GET", "/favicon.ico", [](const Request&, Response& res) { res.status = 204; });
    server.route("GET", "/page.js", [](const Request&, Response& res) {
        res.setContent(kPageScript, "text/javascript; charset=utf-8");
    });
    server.route("GET", "/page.css", [](const Request&, Response& res) {
        res.setContent(kPageStyle, "text/css; charset=utf-8");
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
    res.setHeader("Cache-Control", "no-store");
    res.setContent(*frame->jpeg, "image/jpeg");
}

// One JPEG part per delivered frame until the viewer leaves or the server stops.
// `view` (any short text) only tells a page's successive requests apart, so
// that a browser asks anew instead of showing the image it has.
void servePictureStream(FrameHub& hub, std::atomic<int>& openStreams, const Request& req, Response& res)
{
    if (!parametersValid(req, res, {"view"})) {
        return;
    }
    if (++openStreams > kMaxPictureStreams) {
        --openStreams;
        sendError(res, 503, "too many live pictures open; close one");
        return;
    }
    res.setHeader("Cache-Control", "no-store");
    res.setStream(
        std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
        [&hub, last = std::uint64_t{0}](StreamSink& sink) mutable {
            auto frame = hub.waitJpeg(last, kFrameWait);
            if (!frame) {
                return !hub.closed() && !sink.stopping();
            }
            last = frame->sequence;
            std::string part = std::string("--") + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                               std::to_string(frame->jpeg->size()) + "\r\n\r\n";
            part.append(*frame->jpeg).append("\r\n");
            return sink.write(part);
        },
        [&openStreams] { --openStreams; });
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
        res.setHeader("Content-Disposition", "attachment; filename=\"korval-still.png\"");
    }
    res.setHeader("Cache-Control", "no-store");
    res.setContent(*png, "image/png");
}

void addPictureRoutes(HttpServer& server, CameraService& service, std::atomic<int>& openStreams)
{
    server.route("GET", "/frame.jpg", [&service](const Request& req, Response& res) { serveFrame(service, req, res); });
    server.route("GET", "/stream.mjpg", [&service, &openStreams](const Request& req, Response& res) {
        servePictureStream(service.frames(), openStreams, req, res);
    });
    server.route("GET", "/api/still.png", [&service](const Request& req, Response& res) { serveStill(service, req, res); });
}

// Pushes to one page: "state" whenever anything changed (the page then asks
// for the state), "counters" with every frame wait, which also finds a page
// that has gone.
void serveEvents(CameraService& service, std::atomic<int>& openEvents, const Request& req, Response& res)
{
    if (!parametersValid(req, res, {})) {
        return;
    }
    if (++openEvents > kMaxEventStreams) {
        --openEvents;
        sendError(res, 503, "too many pages open; close one");
        return;
    }
    res.setHeader("Cache-Control", "no-store");
    res.setStream(
        "text/event-stream",
        [&service, seen = std::optional<std::uint64_t>()](StreamSink& sink) mutable {
            const std::uint64_t version = service.waitForChange(seen.value_or(~std::uint64_t{0}), kFrameWait);
            std::string events = seen ? "" : "retry: 1000\n\n";
            if (version != seen) {
                seen = version;
                events += "event: state\ndata: " + std::to_string(version) + "\n\n";
            }
            events += "event: counters\ndata: " + service.counters().dump() + "\n\n";
            return !sink.stopping() && sink.write(events);
        },
        [&openEvents] { --openEvents; });
}

void addStateRoutes(HttpServer& server, CameraService& service, std::atomic<int>& openEvents)
{
    server.route("GET", "/api/events", [&service, &openEvents](const Request& req, Response& res) {
        serveEvents(service, openEvents, req, res);
    });
    server.route("GET", "/api/state", [&service](const Request& req, Response& res) {
        if (parametersValid(req, res, {})) {
            sendJson(res, service.state());
        }
    });
    server.route("GET", "/api/counters", [&service](const Request& req, Response& res) {
        if (parametersValid(req, res, {})) {
            sendJson(res, service.counters());
        }
    });
    server.route("POST", "/api/property", [&service](const Request& req, Response& res) {
        if (!parametersValid(req, res, {"name", "value", "mode"})) {
            return;
        }
        if (!req.hasParam("name") || (!req.hasParam("value") && !req.hasParam("mode"))) {
            sendError(res, 400, "a property change needs name and value (or mode)");
            return;
        }
        nlohmann::json changed;
        const auto error =
            service.setProperty(parameter(req, "name"), parameter(req, "value"), parameter(req, "mode"), changed);
        answer(res, error, [&] { return nlohmann::json{{"property", changed}}; });
    });
    server.route("POST", "/api/defaults", [&service](const Request& req, Response& res) {
        if (parametersValid(req, res, {})) {
            answer(res, service.restoreDefaults(), [&] { return service.state(); });
        }
    });
}

void addStreamRoutes(HttpServer& server, CameraService& service)
{
    server.route("POST", "/api/stream", [&service](const Request& req, Response& res) {
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
            answer(res, service.restartStream(width, height, format == "i420"), [&] { return service.state(); });
        }
    });
    server.route("POST", "/api/scene", [&service](const Request& req, Response& res) {
        if (parametersValid(req, res, {"name"})) {
            answer(res, service.selectScene(parameter(req, "name")), [&] { return service.summary(); });
        }
    });
    server.route("POST", "/api/scene/upload", [&service](const Request& req, Response& res) {
        if (!parametersValid(req, res, {})) {
            return;
        }
        if (req.header("content-type") != "image/png") {
            sendError(res, 400, "the upload must be sent as image/png");
            return;
        }
        answer(res, service.uploadScene(req.body), [&] { return service.summary(); });
    });
    server.route("POST", "/api/snapshot", [&service](const Request& req, Response& res) {
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

void describeErrors(HttpServer& server)
{
    server.setErrorBody([](const std::string& reason, Response& res) {
        addSecurityHeaders(res);
        sendError(res, res.status, reason);
    });
}

} // namespace

WebServer::WebServer(CameraService& service, std::string listen, int port, HttpServerLimits limits)
    : service_(service), loopbackDefault_(listen.empty()), port_(port), limits_(limits)
{
    addresses_ = loopbackDefault_ ? std::vector<std::string>{"127.0.0.1", "::1"} : std::vector{listen};
}

WebServer::~WebServer()
{
    stop();
}

std::unique_ptr<HttpServer> WebServer::makeServer()
{
    auto server = std::make_unique<HttpServer>(limits_);
    server->setGate([this](const Request& req, Response& res) {
        addSecurityHeaders(res);
        const std::string host = req.header("host");
        if (!guard_->hostAllowed(host)) {
            sendError(res, 403, "Host '" + host.substr(0, kLongestParameter) + "' is not this server");
            return true;
        }
        const bool changes = req.method != "GET" && req.method != "HEAD";
        if (changes && !guard_->originAllowed(req.header("origin"), req.hasHeader("origin"))) {
            sendError(res, 403, "changes are taken only from this server's own page");
            return true;
        }
        return false;
    });
    addPageRoutes(*server);
    addPictureRoutes(*server, service_, openStreams_);
    addStateRoutes(*server, service_, openEvents_);
    addStreamRoutes(*server, service_);
    describeErrors(*server);
    return server;
}

bool WebServer::start(std::string& error)
{
    server_ = makeServer();
    for (const auto& address : addresses_) {
        int port = port_;
        if (!server_->bind(address, port, error)) {
            if (loopbackDefault_ && address == "::1" && !bound_.empty()) {
                continue; // no IPv6 loopback here: 127.0.0.1 alone
            }
            server_.reset();
            bound_.clear();
            return false;
        }
        port_ = port; // the free port the first address took serves the others too
        bound_.push_back(address);
    }
    guard_ = std::make_unique<RequestGuard>(bound_, port_);
    server_->start();
    return true;
}

void WebServer::stop()
{
    if (server_) {
        server_->stop();
    }
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
