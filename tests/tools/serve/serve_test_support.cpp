#include "serve_test_support.h"

#include <turbojpeg.h>

#include <chrono>
#include <thread>
#include <vector>

namespace korval::serve_test {

namespace {

constexpr int kSettlingFrames = 15;

} // namespace

std::unique_ptr<tools::serve::CameraService> ServeTest::service_;
std::unique_ptr<tools::serve::WebServer> ServeTest::server_;

Picture decodeJpeg(const std::string& jpeg)
{
    Picture picture;
    tjhandle handle = tjInitDecompress();
    auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.data());
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(handle, bytes, jpeg.size(), &picture.width, &picture.height, &subsampling,
                            &colourspace) == 0) {
        std::vector<unsigned char> rgb(static_cast<std::size_t>(picture.width) * picture.height * 3);
        if (tjDecompress2(handle, bytes, jpeg.size(), rgb.data(), picture.width, 0, picture.height, TJPF_RGB, 0) ==
            0) {
            double sum = 0;
            for (unsigned char value : rgb) {
                sum += value;
            }
            picture.mean = sum / static_cast<double>(rgb.size());
        }
    }
    tjDestroy(handle);
    return picture;
}

void ServeTest::SetUpTestSuite()
{
    tools::serve::ServeOptions options;
    options.scene = "chart";
    service_ = std::make_unique<tools::serve::CameraService>(options);
    server_ = std::make_unique<tools::serve::WebServer>(*service_, "", 0);
    std::string error;
    ASSERT_TRUE(server_->start(error)) << error;
    freshPicture(kSettlingFrames); // auto exposure finds its level first
}

void ServeTest::TearDownTestSuite()
{
    server_.reset();
    service_.reset();
}

httplib::Client ServeTest::client()
{
    httplib::Client client("127.0.0.1", server_->port());
    client.set_read_timeout(std::chrono::seconds(20));
    return client;
}

std::string ServeTest::origin()
{
    return "http://127.0.0.1:" + std::to_string(server_->port());
}

httplib::Result ServeTest::post(const std::string& pathAndQuery, const httplib::Headers& headers)
{
    return client().Post(pathAndQuery, headers, std::string(), "text/plain");
}

nlohmann::json ServeTest::state()
{
    auto answer = client().Get("/api/state");
    return answer && answer->status == 200 ? nlohmann::json::parse(answer->body) : nlohmann::json();
}

Picture ServeTest::freshPicture(int frames)
{
    const auto start = service_->frames().counters().frames;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (service_->frames().counters().frames < start + static_cast<std::uint64_t>(frames) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    auto answer = client().Get("/frame.jpg");
    return answer && answer->status == 200 ? decodeJpeg(answer->body) : Picture{};
}

} // namespace korval::serve_test
