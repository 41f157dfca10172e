// An open stream: control requests, stream properties, reads in flight and close.
#include "host/kernel/bug_check.h"
#include "host/kernel/irql.h"
#include "host/streamclass/class_state.h"

#include <algorithm>
#include <functional>

namespace korval::host {

namespace {

void deliverRead(const std::shared_ptr<SrbRecord>& record)
{
    bool closing;
    {
        std::lock_guard streamLock(record->stream->mutex);
        closing = record->stream->closing;
        std::lock_guard lock(record->mutex);
        record->delivered = !closing;
    }
    if (closing) {
        completeByClass(record, STATUS_CANCELLED);
        return;
    }
    record->stream->object.ReceiveDataPacket(&record->srb);
}

// The sequential application thread: hands reads over in submission order,
// each after the previous ReceiveDataPacket call returned.
void sequentialDelivery(StreamClassStreamState* stream)
{
    for (;;) {
        std::shared_ptr<SrbRecord> next;
        {
            std::unique_lock lock(stream->mutex);
            stream->changed.wait(lock, [&] { return !stream->toDeliver.empty() || stream->stopDelivery; });
            if (stream->toDeliver.empty()) {
                return;
            }
            next = stream->toDeliver.front();
            stream->toDeliver.pop_front();
        }
        deliverRead(next);
    }
}

std::shared_ptr<SrbRecord> newRead(const std::shared_ptr<StreamClassStreamState>& stream, ULONG bufferSize,
                                   SRB_COMMAND command)
{
    auto record = newSrb(stream->device, stream, SrbKind::StreamData, command);
    const HW_STREAM_OBJECT& object = stream->object;
    record->buffer.assign(bufferSize, 0);
    record->headerBlock =
        AlignedBlock(sizeof(KSSTREAM_HEADER) + object.StreamHeaderMediaSpecific + object.StreamHeaderWorkspace);
    auto* header = static_cast<KSSTREAM_HEADER*>(record->headerBlock.data());
    header->Size = sizeof(KSSTREAM_HEADER) + object.StreamHeaderMediaSpecific;
    header->FrameExtent = bufferSize;
    const bool mapped = object.Pio || object.Dma;
    header->Data = bufferSize > 0 && mapped ? record->buffer.data() : nullptr;
    record->srb.CommandData.DataBufferArray = header;
    record->srb.NumberOfBuffers = 1;
    record->srb.NumberOfBytesToTransfer = bufferSize;
    return record;
}

// Pending SRBs that reached the minidriver hear of the cancellation through
// HwCancelPacket (at DISPATCH_LEVEL, under the class's lock, as on the real
// platform); reads still waiting in the class are completed by the class.
void cancelPending(StreamClassStreamState& stream)
{
    std::vector<std::shared_ptr<SrbRecord>> pending;
    std::deque<std::shared_ptr<SrbRecord>> undelivered;
    {
        std::lock_guard lock(stream.mutex);
        stream.closing = true;
        pending = stream.outstanding;
        undelivered.swap(stream.toDeliver);
    }
    for (const auto& record : undelivered) {
        completeByClass(record, STATUS_CANCELLED);
    }
    StreamClassDeviceState& device = *stream.device;
    for (const auto& record : pending) {
        std::lock_guard cancel(device.cancelLock);
        bool live;
        {
            std::lock_guard lock(record->mutex);
            live = record->delivered && !record->completed;
        }
        if (live && device.init.HwCancelPacket != nullptr) {
            ScopedIrql atDispatch(DISPATCH_LEVEL);
            device.init.HwCancelPacket(&record->srb);
        }
    }
}

void waitForOutstanding(StreamClassStreamState& stream, std::chrono::milliseconds patience)
{
    std::unique_lock lock(stream.mutex);
    if (stream.changed.wait_for(lock, patience, [&] { return stream.outstanding.empty(); })) {
        return;
    }
    std::string pending;
    for (const auto& record : stream.outstanding) {
        pending += "\n    " + record->describe();
    }
    bugCheck("stream class: stream " + std::to_string(stream.object.StreamNumber) +
             " cannot close: SRBs never completed by the minidriver:" + pending);
}

void stopDeliveryThreads(StreamClassStreamState& stream)
{
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(stream.mutex);
        stream.stopDelivery = true;
        stream.changed.notify_all();
        threads.swap(stream.concurrentThreads);
        if (stream.sequentialThread.joinable()) {
            threads.push_back(std::move(stream.sequentialThread));
        }
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

// A control SRB handed to ReceiveControlPacket on the caller's thread; waits
// for its completion, which may come from any thread.
std::shared_ptr<SrbRecord> controlSrb(const std::shared_ptr<StreamClassStreamState>& stream, SRB_COMMAND command,
                                      const std::function<void(HW_STREAM_REQUEST_BLOCK&)>& prepare)
{
    requirePassiveLevel(srbCommandName(command).c_str());
    auto record = newSrb(stream->device, stream, SrbKind::StreamControl, command);
    prepare(record->srb);
    {
        std::lock_guard lock(stream->mutex);
        if (!stream->open) {
            bugCheck("stream class client: " + srbCommandName(command) + " sent to a closed stream");
        }
        stream->outstanding.push_back(record);
    }
    {
        std::lock_guard lock(record->mutex);
        record->delivered = true;
    }
    stream->object.ReceiveControlPacket(&record->srb);
    if (!record->waitCompleted(stream->device->options.patience)) {
        bugCheck("stream class: " + record->describe() + " was never completed by the minidriver");
    }
    return record;
}

} // namespace

StreamClassStream::StreamClassStream(std::shared_ptr<StreamClassStreamState> state) : state_(std::move(state)) {}

StreamClassStream::~StreamClassStream()
{
    if (isOpen()) {
        close(state_->device->options.patience);
    }
}

PHW_STREAM_OBJECT StreamClassStream::object() const
{
    return &state_->object;
}

ULONG StreamClassStream::streamNumber() const
{
    return state_->object.StreamNumber;
}

bool StreamClassStream::isOpen() const
{
    std::lock_guard lock(state_->mutex);
    return state_->open;
}

SrbResult StreamClassStream::sendControlRaw(SRB_COMMAND command, void (*prepare)(HW_STREAM_REQUEST_BLOCK&, void*),
                                            void* context)
{
    auto record = controlSrb(state_, command, [&](HW_STREAM_REQUEST_BLOCK& srb) { prepare(srb, context); });
    return {record->srb.Status, record->srb.ActualBytesTransferred};
}

NTSTATUS StreamClassStream::setState(KSSTATE state)
{
    return sendControl(SRB_SET_STREAM_STATE, [&](HW_STREAM_REQUEST_BLOCK& srb) { srb.CommandData.StreamState = state; })
        .status;
}

NTSTATUS StreamClassStream::getState(KSSTATE* state)
{
    auto record = controlSrb(state_, SRB_GET_STREAM_STATE, [](HW_STREAM_REQUEST_BLOCK& srb) {
        srb.CommandData.StreamState = KSSTATE_STOP;
        srb.NumberOfBytesToTransfer = sizeof(KSSTATE);
    });
    if (state != nullptr) {
        *state = record->srb.CommandData.StreamState;
    }
    return record->srb.Status;
}

NTSTATUS StreamClassStream::setMasterClock(std::shared_ptr<MasterClock> clock)
{
    HANDLE handle = clock ? clock->handle() : nullptr;
    {
        std::lock_guard lock(state_->mutex);
        if (clock) {
            state_->clock = clock; // kept while the stream is open, so the handle stays valid
        }
    }
    return sendControl(SRB_INDICATE_MASTER_CLOCK,
                       [&](HW_STREAM_REQUEST_BLOCK& srb) { srb.CommandData.MasterClockHandle = handle; })
        .status;
}

NTSTATUS StreamClassStream::proposeDataFormat(const FormatBytes& format)
{
    AlignedBlock copy(format.bytes.size());
    if (!format.bytes.empty()) {
        std::memcpy(copy.data(), format.bytes.data(), format.bytes.size());
    }
    return sendControl(SRB_PROPOSE_DATA_FORMAT, [&](HW_STREAM_REQUEST_BLOCK& srb) {
               srb.CommandData.OpenFormat = static_cast<PKSDATAFORMAT>(copy.data());
               srb.NumberOfBytesToTransfer = static_cast<ULONG>(format.bytes.size());
           }).status;
}

namespace {

PropertyResult streamProperty(const std::shared_ptr<StreamClassStreamState>& state,
                              const PropertyRequest& request, bool isSet)
{
    const KSPROPERTY_SET* sets = nullptr;
    ULONG count = 0;
    {
        std::lock_guard lock(state->device->mutex);
        if (const HW_STREAM_INFORMATION* information = state->device->information(state->object.StreamNumber)) {
            sets = information->StreamPropertiesArray;
            count = information->NumStreamPropArrayEntries;
        }
    }
    ULONG setIndex = 0;
    if (auto refused = refuseProperty(sets, count, request, isSet, &setIndex)) {
        return *refused;
    }
    PropertyBuffers buffers;
    auto record = controlSrb(state, isSet ? SRB_SET_STREAM_PROPERTY : SRB_GET_STREAM_PROPERTY,
                             [&](HW_STREAM_REQUEST_BLOCK& srb) { preparePropertySrb(srb, setIndex, request, buffers); });
    return finishPropertySrb(*record, buffers, {record->srb.Status, record->srb.ActualBytesTransferred});
}

} // namespace

PropertyResult StreamClassStream::getProperty(PropertyRequest request)
{
    return streamProperty(state_, request, false);
}

PropertyResult StreamClassStream::setProperty(PropertyRequest request)
{
    return streamProperty(state_, request, true);
}

void StreamClassStream::setReadDelivery(ReadDelivery delivery)
{
    std::lock_guard lock(state_->mutex);
    state_->delivery = delivery;
}

std::shared_ptr<StreamRead> StreamClassStream::submitRead(ULONG bufferSize, SRB_COMMAND command)
{
    requirePassiveLevel("a read submission");
    auto record = newRead(state_, bufferSize, command);
    std::lock_guard lock(state_->mutex);
    if (!state_->open) {
        bugCheck("stream class client: read submitted to a closed stream");
    }
    state_->outstanding.push_back(record);
    if (state_->delivery == ReadDelivery::Concurrent) {
        state_->concurrentThreads.emplace_back([record] { deliverRead(record); });
    } else {
        state_->toDeliver.push_back(record);
        if (!state_->sequentialThread.joinable()) {
            state_->sequentialThread = std::thread(sequentialDelivery, state_.get());
        }
        state_->changed.notify_all();
    }
    return std::shared_ptr<StreamRead>(new StreamRead(record));
}

std::size_t StreamClassStream::readsInFlight() const
{
    std::lock_guard lock(state_->mutex);
    return static_cast<std::size_t>(std::count_if(state_->outstanding.begin(), state_->outstanding.end(),
                                                  [](const auto& record) { return record->kind == SrbKind::StreamData; }));
}

NTSTATUS StreamClassStream::close(std::chrono::milliseconds patience)
{
    requirePassiveLevel("stream close");
    if (!isOpen()) {
        return STATUS_SUCCESS;
    }
    cancelPending(*state_);
    waitForOutstanding(*state_, patience);
    stopDeliveryThreads(*state_);
    auto device = state_->device;
    auto record = newSrb(device, state_, SrbKind::Adapter, SRB_CLOSE_STREAM);
    const NTSTATUS status = dispatchAdapterSrb(record).status;
    {
        ClassBook& book = classBook();
        std::lock_guard lock(book.mutex);
        book.openStreams.erase(&state_->object);
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->open = false;
        state_->clock.reset();
    }
    std::lock_guard lock(device->mutex);
    auto& streams = device->streams;
    streams.erase(std::remove_if(streams.begin(), streams.end(),
                                 [&](const auto& weak) { return weak.expired() || weak.lock() == state_; }),
                  streams.end());
    return status;
}

} // namespace korval::host
