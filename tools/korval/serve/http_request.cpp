#include "tools/korval/serve/http_request.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace korval::tools::serve {
namespace {

using Got = RequestInput::Got;

constexpr std::size_t kChunkLineBytes = 1024;
constexpr int kBlankLinesBeforeRequest = 4;

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool isToken(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c) || std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string::npos;
    });
}

ReadOutcome refuse(int status, std::string reason)
{
    return {status, std::move(reason), false};
}

ReadOutcome ended()
{
    return {0, {}, true};
}

bool parseQuery(const std::string& query, HttpRequest& request)
{
    std::size_t start = 0;
    while (start <= query.size() && !query.empty()) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        std::string item = query.substr(start, end - start);
        start = end + 1;
        if (item.empty()) {
            continue;
        }
        const std::size_t equals = item.find('=');
        std::string name = item.substr(0, equals);
        std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);
        if (!percentDecode(name, true) || !percentDecode(value, true)) {
            return false;
        }
        request.params.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

ReadOutcome parseRequestLine(const std::string& line, HttpRequest& request)
{
    const std::size_t firstSpace = line.find(' ');
    const std::size_t lastSpace = line.rfind(' ');
    if (firstSpace == std::string::npos || firstSpace == lastSpace) {
        return refuse(400, "malformed request line");
    }
    request.method = line.substr(0, firstSpace);
    const std::string target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    const std::string version = line.substr(lastSpace + 1);
    if (!isToken(request.method) || target.empty() || target[0] != '/') {
        return refuse(400, "malformed request line");
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        return refuse(505, "only HTTP/1.0 and HTTP/1.1 are served");
    }
    request.minorVersion = version.back() - '0';
    const std::size_t question = target.find('?');
    request.path = target.substr(0, question);
    if (!percentDecode(request.path, false) || !isUtf8(request.path)) {
        return refuse(400, "malformed path");
    }
    if (question != std::string::npos && !parseQuery(target.substr(question + 1), request)) {
        return refuse(400, "malformed query (a bad % escape)");
    }
    return {};
}

// Header lines up to the blank line, into `headers`; `budget` is what the
// header section may still take.
ReadOutcome readHeaderLines(RequestInput& input, const HttpLimits& limits, std::size_t& budget,
                            std::vector<std::pair<std::string, std::string>>& headers)
{
    std::string line;
    for (std::size_t count = 0;; ++count) {
        const Got got = input.line(line, budget);
        if (got == Got::Ended) {
            return ended();
        }
        if (got == Got::TooLong || count > limits.headerLines) {
            return refuse(431, "the request's headers are too many or too long");
        }
        budget -= std::min(budget, line.size() + 2);
        if (line.empty()) {
            return {};
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || !isToken(line.substr(0, colon))) {
            return refuse(400, "malformed header line");
        }
        headers.emplace_back(lowerCase(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    }
}

bool parseSize(const std::string& text, int base, std::size_t& size)
{
    if (text.empty() || text.size() > 15) {
        return false;
    }
    size = 0;
    for (char c : text) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : base == 16 && std::isxdigit(static_cast<unsigned char>(c))
                              ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                              : -1;
        if (digit < 0) {
            return false;
        }
        size = size * static_cast<std::size_t>(base) + static_cast<std::size_t>(digit);
    }
    return true;
}

ReadOutcome readChunkedBody(RequestInput& input, const HttpLimits& limits, std::size_t& budget,
                            HttpRequest& request)
{
    std::string line;
    for (;;) {
        const Got got = input.line(line, kChunkLineBytes);
        if (got != Got::Data) {
            return got == Got::Ended ? ended() : refuse(400, "malformed chunk");
        }
        std::size_t size = 0;
        if (!parseSize(trimmed(line.substr(0, line.find(';'))), 16, size)) {
            return refuse(400, "malformed chunk size");
        }
        if (size > limits.bodyBytes - request.body.size()) {
            return refuse(413, "the request body is too large");
        }
        if (size == 0) {
            std::vector<std::pair<std::string, std::string>> trailers;
            return readHeaderLines(input, limits, budget, trailers);
        }
        if (input.bytes(request.body, size) != Got::Data) {
            return ended();
        }
        if (input.line(line, 2) != Got::Data || !line.empty()) {
            return refuse(400, "malformed chunk");
        }
    }
}

ReadOutcome readBody(RequestInput& input, const HttpLimits& limits, std::size_t& budget, HttpRequest& request,
                     const std::function<void()>& sendContinue)
{
    const bool chunked = request.hasHeader("transfer-encoding");
    const bool sized = request.hasHeader("content-length");
    if (chunked && (sized || lowerCase(request.header("transfer-encoding")) != "chunked")) {
        return refuse(400, "only a chunked or a Content-Length body is taken, never both");
    }
    std::size_t length = 0;
    if (sized && !parseSize(request.header("content-length"), 10, length)) {
        return refuse(400, "malformed Content-Length");
    }
    if (length > limits.bodyBytes) {
        return refuse(413, "the request body is too large");
    }
    if ((chunked || length > 0) && lowerCase(request.header("expect")) == "100-continue") {
        sendContinue();
    }
    if (chunked) {
        return readChunkedBody(input, limits, budget, request);
    }
    if (length > 0 && input.bytes(request.body, length) != Got::Data) {
        return ended();
    }
    return {};
}

} // namespace

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool HttpRequest::hasParam(const std::string& name) const
{
    return std::any_of(params.begin(), params.end(), [&](const auto& p) { return p.first == name; });
}

std::string HttpRequest::param(const std::string& name) const
{
    auto found = std::find_if(params.begin(), params.end(), [&](const auto& p) { return p.first == name; });
    return found == params.end() ? std::string() : found->second;
}

bool HttpRequest::hasHeader(const std::string& name) const
{
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return h.first == name; });
}

std::string HttpRequest::header(const std::string& name) const
{
    auto found = std::find_if(headers.begin(), headers.end(), [&](const auto& h) { return h.first == name; });
    return found == headers.end() ? std::string() : found->second;
}

bool HttpRequest::keepAlive() const
{
    const std::string connection = lowerCase(header("connection"));
    return minorVersion == 1 ? connection != "close" : connection == "keep-alive";
}

ReadOutcome readRequest(RequestInput& input, const HttpLimits& limits, HttpRequest& request,
                        const std::function<void()>& sendContinue)
{
    std::string line;
    for (int blank = 0; line.empty(); ++blank) {
        const Got got = input.line(line, limits.requestLineBytes);
        if (got == Got::Ended || (line.empty() && blank == kBlankLinesBeforeRequest)) {
            return ended();
        }
        if (got == Got::TooLong) {
            return refuse(414, "the request line is too long");
        }
    }
    if (ReadOutcome outcome = parseRequestLine(line, request); outcome.status != 0) {
        return outcome;
    }
    std::size_t budget = limits.headerBytes;
    if (ReadOutcome outcome = readHeaderLines(input, limits, budget, request.headers);
        outcome.status != 0 || outcome.ended) {
        return outcome;
    }
    return readBody(input, limits, budget, request, sendContinue);
}

bool percentDecode(std::string& text, bool query)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            std::size_t value = 0;
            if (i + 2 >= text.size() || !parseSize(text.substr(i + 1, 2), 16, value)) {
                return false;
            }
            decoded.push_back(static_cast<char>(value));
            i += 2;
        } else {
            decoded.push_back(query && text[i] == '+' ? ' ' : text[i]);
        }
    }
    text = std::move(decoded);
    return true;
}

bool isUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

} // namespace korval::tools::serve
