#include "camera/device/video_stream.h"

#include <algorithm>
#include <cstring>

namespace korval::camera {
namespace {

// Bytes the camera can hold before it must discard output (never reached
// while the line planner keeps the FIFO within its capacity).
constexpr std::size_t kQueueLimit = 256 * 1024;

} // namespace

VideoStream::VideoStream(Sensor& sensor, const RegisterFile& registers)
    : sensor_(sensor), registers_(registers)
{
}

void VideoStream::stop()
{
    running_ = false;
    queue_.clear();
    queueHead_ = 0;
    lastTiming_.reset();
}

void VideoStream::advance(double nowSeconds)
{
    if (!running_) {
        if (packetSize_ == 0) {
            return;
        }
        running_ = true;
        sceneOrigin_ = sceneOrigin_.value_or(nowSeconds);
        startFrame(nowSeconds);
    }
    for (;;) {
        while (nextLine_ < kSensorHeight && frameStart_ + (nextLine_ + 1) * lineTime_ <= nowSeconds) {
            produceLine(nextLine_++);
            if (nextLine_ == kSensorHeight) {
                finishFrame();
            }
        }
        const double frameEnd = frameStart_ + frameLines_ * lineTime_;
        if (nextLine_ < kSensorHeight || frameEnd > nowSeconds) {
            return;
        }
        startFrame(frameEnd);
    }
}

void VideoStream::startFrame(double startSeconds)
{
    settings_ = registers_.settings();
    const Timing timing{settings_.clockDivider, settings_.lineClocks,
                        SensorTiming::effectiveFrameLines(settings_)};
    const bool timingChanged = lastTiming_.has_value() && !(*lastTiming_ == timing);
    lastTiming_ = timing;

    frameStart_ = startSeconds;
    lineTime_ = SensorTiming::lineSeconds(settings_);
    frameLines_ = timing.frameLines;
    nextLine_ = 0;
    sensor_.render(settings_, startSeconds - *sceneOrigin_, bayer_);

    current_ = FrameStats{};
    current_.sequence = ++sequence_;
    current_.framesPerSecond = SensorTiming::framesPerSecond(settings_);
    current_.spoiled = timingChanged || spoilNext_;
    spoilNext_ = false;

    std::array<std::uint8_t, 6> marker = kFrameMarker;
    if (corruptNext_) {
        marker[5] ^= 0x01;
        corruptNext_ = false;
    }
    const std::uint8_t header[kFrameHeaderBytes] = {
        static_cast<std::uint8_t>(current_.spoiled ? 0x80 : 0x00),
        static_cast<std::uint8_t>(current_.sequence & 0xFF),
        static_cast<std::uint8_t>(current_.framesPerSecond),
        registers_.active(0x0E),
        registers_.active(0x4A),
        registers_.active(0x0B),
        registers_.active(0x0C),
        registers_.active(0x0D),
        registers_.active(0x09),
        registers_.active(0x0A),
    };
    queueBytes(marker.data(), marker.size());
    queueBytes(header, sizeof header);
    const double drainPerLine = static_cast<double>(packetSize_) * lineTime_ * 1000.0;
    planner_ = LinePlanner(static_cast<double>(fifoBytes_), drainPerLine);
    planner_.addOverhead(marker.size() + sizeof header);
    current_.bytes = marker.size() + sizeof header;
}

void VideoStream::produceLine(int y)
{
    const std::uint8_t* line = bayer_.data() + static_cast<std::size_t>(y) * kSensorWidth;
    LineKind kind = planner_.choose(line, kSensorWidth);
    lineBytes_.clear();
    encodeLine(line, kSensorWidth, kind, lineBytes_);
    if (kind != LineKind::Dropped && wouldFormMarker(lineBytes_)) {
        // The stream must never show a frame marker inside a frame.
        kind = LineKind::Dropped;
        lineBytes_.clear();
        encodeLine(line, kSensorWidth, kind, lineBytes_);
    }
    ++current_.linesOfKind[static_cast<std::size_t>(kind)];
    current_.bytes += lineBytes_.size();
    queueBytes(lineBytes_.data(), lineBytes_.size());
}

void VideoStream::finishFrame()
{
    lastFrame_ = current_;
}

bool VideoStream::wouldFormMarker(const std::vector<std::uint8_t>& line) const
{
    const std::size_t queued = queue_.size() - queueHead_;
    const std::size_t tail = std::min<std::size_t>(queued, kFrameMarker.size() - 1);
    std::vector<std::uint8_t> window(queue_.end() - static_cast<std::ptrdiff_t>(tail), queue_.end());
    window.insert(window.end(), line.begin(), line.end());
    return std::search(window.begin(), window.end(), kFrameMarker.begin(), kFrameMarker.end()) !=
           window.end();
}

void VideoStream::queueBytes(const std::uint8_t* bytes, std::size_t count)
{
    if (queue_.size() - queueHead_ + count > kQueueLimit) {
        return;
    }
    queue_.insert(queue_.end(), bytes, bytes + count);
}

std::size_t VideoStream::takePacket(std::uint8_t* out, std::size_t capacity)
{
    const std::size_t count = std::min(capacity, queue_.size() - queueHead_);
    if (out != nullptr && count > 0) {
        std::memcpy(out, queue_.data() + queueHead_, count);
    }
    queueHead_ += count;
    if (queueHead_ == queue_.size()) {
        queue_.clear();
        queueHead_ = 0;
    } else if (queueHead_ > 64 * 1024) {
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(queueHead_));
        queueHead_ = 0;
    }
    return count;
}

} // namespace korval::camera
