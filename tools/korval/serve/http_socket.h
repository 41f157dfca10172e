// A connected client socket as the HTTP server uses it: buffered reads that
// end at a deadline or when the server stops, and writes that must make
// progress within a time, so no client can hold a server thread for ever.
#pragma once

#include "tools/korval/serve/http_request.h"

#include <chrono>
#include <string>
#include <string_view>

namespace korval::tools::serve {

using Clock = std::chrono::steady_clock;

class ClientSocket : public RequestInput {
public:
    // Takes `fd` (made non-blocking) and closes it; `stopFd` readable means the server stops.
    ClientSocket(int fd, int stopFd, std::chrono::milliseconds writeTime);
    ~ClientSocket() override;
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    // Reads fail once `deadline` has passed.
    void setDeadline(Clock::time_point deadline) { deadline_ = deadline; }
    // True when a request's first byte is here within `wait`.
    bool awaitData(std::chrono::milliseconds wait);

    Got line(std::string& text, std::size_t max) override;
    Got bytes(std::string& text, std::size_t count) override;

    // False when the client stops reading for the write time, leaves, or the server stops.
    bool write(std::string_view data);
    // Ends the answer and takes what the client still sends for a moment, so
    // that an answer given before the whole request was read reaches it.
    void lingeringClose();

private:
    bool fill();
    bool waitFor(short events, Clock::time_point until);

    int fd_;
    int stopFd_;
    std::chrono::milliseconds writeTime_;
    Clock::time_point deadline_;
    std::string buffer_;
    std::size_t position_ = 0;
};

} // namespace korval::tools::serve
