#include "serve_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace korval::serve_test {

namespace {

constexpr int kSettlingFrames = 10;
constexpr int kMostLooks = 40;
constexpr double kSettled = 1.0;

} // namespace

double ServeTest::freshMean_ = -1;
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

int connectTo(int port, const char* from)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval wait{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    sockaddr_in local{AF_INET, 0, {}, {}};
    inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in server{AF_INET, htons(static_cast<std::uint16_t>(port)), {}, {}};
    inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof(server)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string rawExchange(int port, const std::string& request, bool halfClose)
{
    const int fd = connectTo(port);
    std::string answer;
    if (fd < 0) {
        return answer;
    }
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    if (halfClose) {
        shutdown(fd, SHUT_WR);
    }
    char buffer[16384];
    for (ssize_t got; (got = recv(fd, buffer, sizeof(buffer), 0)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return answer;
}

bool closedByServer(int fd)
{
    char buffer[4096];
    ssize_t got = 0;
    while ((got = recv(fd, buffer, sizeof(buffer), 0)) > 0) {
    }
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

void ServeTest::SetUpTestSuite()
{
    tools::serve::ServeOptions options;
    options.scene = "chart";
    service_ = std::make_unique<tools::serve::CameraService>(options);
    server_ = std::make_unique<tools::serve::WebServer>(*service_, "", 0);
    std::string error;
    ASSERT_TRUE(server_->start(error)) << error;
    freshMean_ = settledPicture().mean; // auto exposure finds its level first
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

Picture ServeTest::settledPicture()
{
    Picture last = freshPicture(kSettlingFrames);
    for (int look = 0; look < kMostLooks; ++look) {
        const Picture next = freshPicture(kSettlingFrames);
        if (std::abs(next.mean - last.mean) < kSettled) {
            return next;
        }
        last = next;
    }
    return last;
}

nlohmann::json ServeTest::propertyIn(const nlohmann::json& state, const std::string& name)
{
    for (const auto& entry : state["properties"]) {
        if (entry["name"] == name) {
            return entry;
        }
    }
    return nlohmann::json();
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
