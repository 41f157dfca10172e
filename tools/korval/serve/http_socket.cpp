#include "tools/korval/serve/http_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace korval::tools::serve {
namespace {

constexpr std::size_t kReadBytes = 16384;
constexpr std::size_t kCompactAfter = 65536;
constexpr auto kLingerTime = std::chrono::seconds(2);
constexpr std::size_t kLingerBytes = 16u << 20;

} // namespace

ClientSocket::ClientSocket(int fd, int stopFd, std::chrono::milliseconds writeTime)
    : fd_(fd), stopFd_(stopFd), writeTime_(writeTime), deadline_(Clock::now())
{
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

ClientSocket::~ClientSocket()
{
    close(fd_);
}

// False on time-out, on a server stop, or when the socket fails.
bool ClientSocket::waitFor(short events, Clock::time_point until)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd watched[2] = {{fd_, events, 0}, {stopFd_, POLLIN, 0}};
        const int ready = poll(watched, 2, static_cast<int>(std::min<long long>(left, 1000000)));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (watched[1].revents != 0) {
            return false;
        }
        if (watched[0].revents != 0) {
            return true;
        }
    }
}

bool ClientSocket::fill()
{
    if (position_ > kCompactAfter) {
        buffer_.erase(0, position_);
        position_ = 0;
    }
    for (;;) {
        char chunk[kReadBytes];
        const ssize_t got = recv(fd_, chunk, sizeof(chunk), 0);
        if (got > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(got));
            return true;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return false;
        }
        if (!waitFor(POLLIN, deadline_)) {
            return false;
        }
    }
}

bool ClientSocket::awaitData(std::chrono::milliseconds wait)
{
    if (position_ < buffer_.size()) {
        return true;
    }
    const auto saved = deadline_;
    deadline_ = Clock::now() + wait;
    const bool got = fill();
    deadline_ = saved;
    return got;
}

RequestInput::Got ClientSocket::line(std::string& text, std::size_t max)
{
    std::size_t searched = position_;
    for (;;) {
        const std::size_t end = buffer_.find('\n', searched);
        if (end != std::string::npos && end - position_ <= max + 1) {
            text.assign(buffer_, position_, end - position_);
            if (!text.empty() && text.back() == '\r') {
                text.pop_back();
            }
            position_ = end + 1;
            return Got::Data;
        }
        if (buffer_.size() - position_ > max + 1) {
            return Got::TooLong;
        }
        searched = buffer_.size();
        if (!fill()) {
            return Got::Ended;
        }
    }
}

RequestInput::Got ClientSocket::bytes(std::string& text, std::size_t count)
{
    while (count > 0) {
        if (position_ == buffer_.size() && !fill()) {
            return Got::Ended;
        }
        const std::size_t take = std::min(count, buffer_.size() - position_);
        text.append(buffer_, position_, take);
        position_ += take;
        count -= take;
    }
    return Got::Data;
}

bool ClientSocket::write(std::string_view data)
{
    while (!data.empty()) {
        const ssize_t sent = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (!waitFor(POLLOUT, Clock::now() + writeTime_)) {
            return false;
        }
    }
    return true;
}

void ClientSocket::lingeringClose()
{
    shutdown(fd_, SHUT_WR);
    deadline_ = Clock::now() + kLingerTime;
    for (std::size_t taken = 0; taken < kLingerBytes && fill();) {
        taken += buffer_.size() - position_;
        position_ = buffer_.size();
    }
}

} // namespace korval::tools::serve
