#include "tools/korval/serve/frame_hub.h"

#include "tools/korval/serve/image_encoding.h"

namespace korval::tools::serve {
namespace {

constexpr auto kRateWindow = std::chrono::seconds(2);

} // namespace

void FrameHub::publish(std::span<const std::uint8_t> bytes, int width, int height, bool i420,
                       std::int64_t dropCount)
{
    auto frame = std::make_shared<DeliveredFrame>();
    frame->bytes.assign(bytes.begin(), bytes.end());
    frame->width = width;
    frame->height = height;
    frame->i420 = i420;
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mutex_);
        frame->sequence = ++counters_.frames;
        latest_ = std::move(frame);
        streamDropped_ = dropCount;
        counters_.dropped = droppedBefore_ + streamDropped_;
        arrivals_.push_back(now);
        while (arrivals_.size() > 2 && now - arrivals_.front() > kRateWindow) {
            arrivals_.pop_front();
        }
        const double span = std::chrono::duration<double>(arrivals_.back() - arrivals_.front()).count();
        counters_.rate = span > 0 ? static_cast<double>(arrivals_.size() - 1) / span : 0;
    }
    changed_.notify_all();
}

void FrameHub::countEmptyRead()
{
    std::lock_guard lock(mutex_);
    ++counters_.emptyReads;
}

void FrameHub::streamRestarted()
{
    std::lock_guard lock(mutex_);
    droppedBefore_ += streamDropped_;
    streamDropped_ = 0;
    arrivals_.clear();
    counters_.rate = 0;
}

std::optional<JpegFrame> FrameHub::waitJpeg(std::uint64_t after, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    const bool fresh = changed_.wait_for(lock, timeout, [&] {
        return closed_ || (latest_ && latest_->sequence > after);
    });
    if (!fresh || closed_) {
        return std::nullopt;
    }
    return encodeLatest(lock);
}

// Encodes outside the lock; a frame encoded by another viewer meanwhile is reused.
std::optional<JpegFrame> FrameHub::encodeLatest(std::unique_lock<std::mutex>& lock)
{
    auto frame = latest_;
    if (encoded_.jpeg && encoded_.sequence == frame->sequence) {
        return encoded_;
    }
    lock.unlock();
    auto jpeg = std::make_shared<const std::string>(jpegFromFrame(*frame));
    lock.lock();
    if (jpeg->empty()) {
        return std::nullopt;
    }
    if (!encoded_.jpeg || encoded_.sequence < frame->sequence) {
        encoded_ = {jpeg, frame->sequence};
    }
    return JpegFrame{jpeg, frame->sequence};
}

std::shared_ptr<const DeliveredFrame> FrameHub::latest() const
{
    std::lock_guard lock(mutex_);
    return latest_;
}

FrameCounters FrameHub::counters() const
{
    std::lock_guard lock(mutex_);
    return counters_;
}

void FrameHub::close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool FrameHub::closed() const
{
    std::lock_guard lock(mutex_);
    return closed_;
}

} // namespace korval::tools::serve
