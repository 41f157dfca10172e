// One camera service and web server on a free loopback port, started once for
// a test suite, with an HTTP client and a look at the delivered pictures.
#pragma once

#include "tools/korval/serve/camera_service.h"
#include "tools/korval/serve/web_server.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace korval::serve_test {

struct Picture {
    int width = 0;
    int height = 0;
    double mean = -1; // of all R, G, B samples
};

// Width, height and mean of a JPEG; mean -1 when it does not decode.
Picture decodeJpeg(const std::string& jpeg);

// A raw TCP client to 127.0.0.1:`port` (from address `from`), or -1; reads time out after 20 s.
int connectTo(int port, const char* from = "127.0.0.1");
// Sends `request`, shuts the sending side when asked, and returns all the server answers until it closes.
std::string rawExchange(int port, const std::string& request, bool halfClose = false);
// Waits (bounded by the read time-out) until the server closes `fd`; true when it did.
bool closedByServer(int fd);

class ServeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    static httplib::Client client();
    static std::string origin();
    static httplib::Result post(const std::string& pathAndQuery, const httplib::Headers& headers = {});
    static nlohmann::json state();
    // The newest picture after at least `frames` more frames were delivered.
    static Picture freshPicture(int frames = 3);
    // The picture once auto exposure has settled: two looks ten frames apart agree.
    static Picture settledPicture();

    // A property's value and mode in a state answer.
    static nlohmann::json propertyIn(const nlohmann::json& state, const std::string& name);

    static double freshMean_; // of the chart as a fresh start shows it, once settled
    static std::unique_ptr<tools::serve::CameraService> service_;
    static std::unique_ptr<tools::serve::WebServer> server_;
};

} // namespace korval::serve_test
