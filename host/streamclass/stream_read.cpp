// A read request as the client sees it: wait for it, then read its header,
// the media-specific record behind the header and the data.
#include "host/streamclass/class_state.h"

namespace korval::host {

StreamRead::StreamRead(std::shared_ptr<SrbRecord> record) : record_(std::move(record)) {}

StreamRead::~StreamRead() = default;

void StreamRead::wait() const
{
    std::unique_lock lock(record_->mutex);
    record_->done.wait(lock, [&] { return record_->completed; });
}

bool StreamRead::waitFor(std::chrono::milliseconds timeout) const
{
    return record_->waitCompleted(timeout);
}

bool StreamRead::completed() const
{
    std::lock_guard lock(record_->mutex);
    return record_->completed;
}

std::uint64_t StreamRead::completionOrder() const
{
    std::lock_guard lock(record_->mutex);
    return record_->completionOrder;
}

NTSTATUS StreamRead::status() const
{
    wait();
    return record_->srb.Status;
}

const KSSTREAM_HEADER& StreamRead::header() const
{
    wait();
    return *static_cast<const KSSTREAM_HEADER*>(record_->headerBlock.data());
}

std::span<const std::uint8_t> StreamRead::mediaSpecific() const
{
    wait();
    const auto* bytes = static_cast<const std::uint8_t*>(record_->headerBlock.data());
    return {bytes + sizeof(KSSTREAM_HEADER), record_->stream->object.StreamHeaderMediaSpecific};
}

const KS_FRAME_INFO* StreamRead::frameInfo() const
{
    const auto specific = mediaSpecific();
    return specific.size() >= sizeof(KS_FRAME_INFO) ? reinterpret_cast<const KS_FRAME_INFO*>(specific.data())
                                                    : nullptr;
}

std::span<const std::uint8_t> StreamRead::buffer() const
{
    wait();
    return record_->buffer;
}

std::span<const std::uint8_t> StreamRead::dataUsed() const
{
    const KSSTREAM_HEADER& streamHeader = header();
    const std::size_t used = std::min<std::size_t>(streamHeader.DataUsed, record_->buffer.size());
    return std::span<const std::uint8_t>(record_->buffer).first(used);
}

PHW_STREAM_REQUEST_BLOCK StreamRead::srb() const
{
    return &record_->srb;
}

} // namespace korval::host
