#include "serve_test_support.h"

#include "tools/korval/serve/http_request.h"
#include "tools/korval/serve/scene_source.h"

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace korval::serve_test {
namespace {

using tools::serve::HttpServerLimits;
using tools::serve::WebServer;

struct RawCase {
    const char* what;
    std::string request; // after "METHOD /path HTTP/1.1\r\nHost: ..." is filled in
    bool halfClose;
    const char* status;  // the status line's start
    const char* answer;  // found in the answer
};

std::string head(const std::string& line, int port, const std::string& more = "")
{
    return line + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nConnection: close\r\n" + more;
}

std::string manyHeaders(std::size_t count)
{
    std::string headers;
    for (std::size_t i = 0; i < count; ++i) {
        headers += "X-Filler-" + std::to_string(i) + ": 1\r\n";
    }
    return headers;
}

std::string bodyOf(const std::string& answer)
{
    const auto start = answer.find("\r\n\r\n");
    return start == std::string::npos ? std::string() : answer.substr(start + 4);
}

TEST_F(ServeTest, RequestsOutsideTheLimitsAreRefusedWithTheirStatus)
{
    const int port = server_->port();
    const std::string over = std::to_string(tools::serve::kMaxUploadBytes + 1);
    const std::string chunkOver = "800001"; // hexadecimal: one byte over 8 MiB
    const RawCase cases[] = {
        {"a whole request, then the sending side shut", head("GET /api/counters", port) + "\r\n", true,
         "HTTP/1.1 200", "\"frames\""},
        {"a range of the JSON is not served as if whole", head("GET /api/state", port, "Range: bytes=0-9\r\n") + "\r\n",
         false, "HTTP/1.1 200", "\"properties\""},
        {"a parameter that is not UTF-8", head("POST /api/property?name=brightness&value=%FF%FE", port) + "\r\n",
         false, "HTTP/1.1 400", "not UTF-8"},
        {"a scene name that is not UTF-8", head("POST /api/scene?name=%C3%28", port) + "\r\n", false, "HTTP/1.1 400",
         "not UTF-8"},
        {"a bad escape", head("GET /api/state?x=%G1", port) + "\r\n", false, "HTTP/1.1 400", "bad % escape"},
        {"too many header lines", head("GET /api/state", port, manyHeaders(5000)) + "\r\n", false, "HTTP/1.1 431",
         "too many or too long"},
        {"one header line too long", head("GET /api/state", port, "X-Long: " + std::string(40000, 'a') + "\r\n"),
         false, "HTTP/1.1 431", "too many or too long"},
        {"a request line too long", "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n", false, "HTTP/1.1 414",
         "too long"},
        {"a chunk past the upload limit",
         head("POST /api/scene/upload", port, "Content-Type: image/png\r\nTransfer-Encoding: chunked\r\n") + "\r\n" +
             chunkOver + "\r\n",
         false, "HTTP/1.1 413", "too large"},
        {"chunks adding up past the upload limit",
         head("POST /api/scene/upload", port, "Content-Type: image/png\r\nTransfer-Encoding: chunked\r\n") +
             "\r\n400000\r\n" + std::string(0x400000, 'x') + "\r\n400001\r\n",
         false, "HTTP/1.1 413", "too large"},
        {"a sized body past the upload limit",
         head("POST /api/scene/upload", port, "Content-Type: image/png\r\nContent-Length: " + over + "\r\n") + "\r\n",
         false, "HTTP/1.1 413", "too large"},
        {"a body both chunked and sized",
         head("POST /api/scene", port, "Transfer-Encoding: chunked\r\nContent-Length: 3\r\n") + "\r\n0\r\n\r\n", false,
         "HTTP/1.1 400", "never both"},
        {"a chunked upload within the limit",
         head("POST /api/scene/upload", port, "Content-Type: image/png\r\nTransfer-Encoding: chunked\r\n") +
             "\r\n4\r\nGIF8\r\n0\r\n\r\n",
         false, "HTTP/1.1 400", "not a PNG"},
    };
    for (const auto& test : cases) {
        const std::string answer = rawExchange(port, test.request, test.halfClose);
        EXPECT_TRUE(answer.starts_with(test.status)) << test.what << ": " << answer.substr(0, 200);
        EXPECT_NE(answer.find(test.answer), std::string::npos) << test.what << ": " << answer.substr(0, 300);
    }
    const std::string ranged = rawExchange(port, cases[1].request);
    EXPECT_EQ(ranged.find("Content-Range"), std::string::npos);
    EXPECT_TRUE(nlohmann::json::accept(bodyOf(ranged)));
}

// Each slow client holds only its own connection, and only for the request time.
TEST_F(ServeTest, DribblingClientsBlockNobodyAndAreCutOff)
{
    HttpServerLimits limits;
    limits.requestTime = std::chrono::minutes(2); // longer than this test
    limits.connectionsPerPeer = 20;
    WebServer patient(*service_, "", 0, limits);
    limits.requestTime = std::chrono::milliseconds(300);
    WebServer strict(*service_, "", 0, limits);
    std::string error;
    ASSERT_TRUE(patient.start(error) && strict.start(error)) << error;
    std::vector<int> dribblers;
    for (int i = 0; i < 20; ++i) {
        dribblers.push_back(connectTo(patient.port()));
        ASSERT_GE(dribblers.back(), 0);
        send(dribblers.back(), "G", 1, MSG_NOSIGNAL);
    }
    // The 21st connection from the same address is told at once; another address is served.
    const std::string request = head("GET /api/counters", patient.port()) + "\r\n";
    const std::string refused = rawExchange(patient.port(), request);
    EXPECT_TRUE(refused.starts_with("HTTP/1.1 503")) << refused.substr(0, 200);
    EXPECT_NE(refused.find("too many connections"), std::string::npos);
    const int other = connectTo(patient.port(), "127.0.0.2");
    ASSERT_GE(other, 0);
    send(other, request.data(), request.size(), MSG_NOSIGNAL);
    char answer[12] = {};
    ASSERT_EQ(recv(other, answer, sizeof(answer), MSG_WAITALL), static_cast<ssize_t>(sizeof(answer)));
    EXPECT_EQ(std::string(answer, sizeof(answer)), "HTTP/1.1 200");
    close(other);
    for (int fd : dribblers) {
        close(fd);
    }
    // A client that never finishes its request is cut off when the request time runs out.
    const int slow = connectTo(strict.port());
    ASSERT_GE(slow, 0);
    const std::string unfinished = "GET /api/counters HTTP/1.1\r\nHo";
    send(slow, unfinished.data(), unfinished.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(closedByServer(slow));
    close(slow);
}

TEST_F(ServeTest, StopEndsAConnectionWhoseClientIsStillSending)
{
    WebServer other(*service_, "", 0);
    std::string error;
    ASSERT_TRUE(other.start(error)) << error;
    const int dribbler = connectTo(other.port());
    ASSERT_GE(dribbler, 0);
    send(dribbler, "GET /api/st", 11, MSG_NOSIGNAL);
    const std::string request = head("GET /api/counters", other.port()) + "\r\n";
    EXPECT_TRUE(rawExchange(other.port(), request).starts_with("HTTP/1.1 200")); // the dribbler's thread is running
    other.stop(); // returns without the rest of the request (a hang fails the test by its time-out)
    EXPECT_TRUE(closedByServer(dribbler));
    close(dribbler);
}

TEST_F(ServeTest, ListeningEverywhereTakesChangesOnlyFromItsOwnAddresses)
{
    WebServer everywhere(*service_, "0.0.0.0", 0);
    std::string error;
    ASSERT_TRUE(everywhere.start(error)) << error;
    const int port = everywhere.port();
    const std::string own = "127.0.0.1:" + std::to_string(port);
    const std::pair<std::string, const char*> cases[] = {
        {"Host: " + own + "\r\n", "HTTP/1.1 200"},
        {"Host: " + own + "\r\nOrigin: http://" + own + "\r\n", "HTTP/1.1 200"},
        {"Host: " + own + "\r\nOrigin: http://203.0.113.9:" + std::to_string(port) + "\r\n", "HTTP/1.1 403"},
        {"Host: " + own + "\r\nOrigin: http://camera.attacker.example:" + std::to_string(port) + "\r\n",
         "HTTP/1.1 403"},
        {"Host: 203.0.113.9:" + std::to_string(port) + "\r\n", "HTTP/1.1 403"},
    };
    for (const auto& [headers, status] : cases) {
        const std::string reply =
            rawExchange(port, "POST /api/scene?name=chart HTTP/1.1\r\nConnection: close\r\n" + headers + "\r\n");
        EXPECT_TRUE(reply.starts_with(status)) << headers << reply.substr(0, 200);
    }
}

TEST(HttpRequest, Utf8IsCheckedByTheRulesOfItsEncoding)
{
    const std::pair<std::string, bool> cases[] = {
        {"plain", true},           {"gr\xc3\xbc\xc3\x9f", true}, {"\xf0\x9f\x93\xb7", true},
        {"\xff", false},           {"\xc3(", false},             {"\xc0\xaf", false}, // overlong '/'
        {"\xed\xa0\x80", false},   {"\xf4\x90\x80\x80", false},  {"\xe2\x82", false},
    };
    for (const auto& [text, valid] : cases) {
        EXPECT_EQ(tools::serve::isUtf8(text), valid) << text;
    }
}

} // namespace
} // namespace korval::serve_test
