// One HTTP/1.1 request as 'korval serve' reads it: request line, headers and
// body, each bounded, so that a client can neither make the server hold an
// unbounded request nor leave a malformed one half understood.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace korval::tools::serve {

// Header names and tokens compare without case.
std::string lowerCase(std::string text);

struct HttpLimits {
    std::size_t requestLineBytes = 8192;
    std::size_t headerLines = 100;
    std::size_t headerBytes = 16384; // all header lines together
    std::size_t bodyBytes = 8u << 20;
};

struct HttpRequest {
    std::string method;
    std::string path;   // percent-decoded, without the query
    int minorVersion = 1; // HTTP/1.x
    std::vector<std::pair<std::string, std::string>> params;  // decoded query, in order
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case
    std::string body;

    bool hasParam(const std::string& name) const;
    std::string param(const std::string& name) const; // the first, or empty
    bool hasHeader(const std::string& name) const;    // `name` in lower case
    std::string header(const std::string& name) const;
    bool keepAlive() const; // the client allows another request on this connection
};

// Where a request's bytes come from (a socket, or a test's text).
class RequestInput {
public:
    enum class Got { Data, TooLong, Ended };
    virtual ~RequestInput() = default;
    // One line without its CRLF (or LF); TooLong once `max` bytes pass without one.
    virtual Got line(std::string& text, std::size_t max) = 0;
    // Exactly `count` more bytes appended to `text`.
    virtual Got bytes(std::string& text, std::size_t count) = 0;
};

struct ReadOutcome {
    int status = 0;     // 0: a request was read; else the status to answer with
    std::string reason; // for the answer
    bool ended = false; // the client left (or timed out) before a whole request
};

// Reads one request. `sendContinue` is called before a body the client
// waits to send (Expect: 100-continue).
ReadOutcome readRequest(RequestInput& input, const HttpLimits& limits, HttpRequest& request,
                        const std::function<void()>& sendContinue);

// Decodes %XX (and '+' in a query) in place; false when an escape is malformed.
bool percentDecode(std::string& text, bool query);
bool isUtf8(const std::string& text);

} // namespace korval::tools::serve
