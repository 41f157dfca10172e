// The newest frame the driver delivered, handed from the capture thread to any
// number of viewers, with the counters shown beside the picture. A frame is
// encoded as JPEG once, when the first viewer asks for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korval::tools::serve {

struct DeliveredFrame {
    std::vector<std::uint8_t> bytes; // as the driver delivered it
    int width = 0;
    int height = 0;
    bool i420 = true;
    std::uint64_t sequence = 0; // 1 for the first frame served
};

struct FrameCounters {
    std::uint64_t frames = 0;  // delivered since the server started
    double rate = 0;           // frames per second over the last two seconds
    std::int64_t dropped = 0;  // the driver's drop counts, summed over stream restarts
    std::uint64_t emptyReads = 0;
};

struct JpegFrame {
    std::shared_ptr<const std::string> jpeg;
    std::uint64_t sequence = 0;
};

class FrameHub {
public:
    // From the capture thread: one delivered frame and the stream's drop count so far.
    void publish(std::span<const std::uint8_t> bytes, int width, int height, bool i420, std::int64_t dropCount);
    void countEmptyRead();
    // A new stream starts its drop count at 0: keep what the old one counted.
    void streamRestarted();

    // The newest frame after `after`, waiting up to `timeout`; nothing on time-out or close.
    std::optional<JpegFrame> waitJpeg(std::uint64_t after, std::chrono::milliseconds timeout);
    std::shared_ptr<const DeliveredFrame> latest() const;
    FrameCounters counters() const;

    // Wakes every viewer; waits return nothing from now on.
    void close();
    bool closed() const;

private:
    std::optional<JpegFrame> encodeLatest(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::shared_ptr<const DeliveredFrame> latest_;
    JpegFrame encoded_;
    std::deque<std::chrono::steady_clock::time_point> arrivals_;
    FrameCounters counters_;
    std::int64_t droppedBefore_ = 0;
    std::int64_t streamDropped_ = 0;
    bool closed_ = false;
};

} // namespace korval::tools::serve
