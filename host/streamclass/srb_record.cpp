// Stream request blocks: creation, hand-over to the minidriver and the
// verifier's view of their completion.
#include "host/kernel/bug_check.h"
#include "host/kernel/irql.h"
#include "host/streamclass/class_state.h"

#include <algorithm>
#include <atomic>

namespace korval::host {

namespace {

std::atomic<std::uint64_t> completionCounter{0};

void retireFromStream(const std::shared_ptr<SrbRecord>& record)
{
    if (!record->stream) {
        return;
    }
    StreamClassStreamState& stream = *record->stream;
    std::lock_guard lock(stream.mutex);
    auto& outstanding = stream.outstanding;
    outstanding.erase(std::remove(outstanding.begin(), outstanding.end(), record), outstanding.end());
    stream.changed.notify_all();
}

std::shared_ptr<SrbRecord> findLiveSrb(PHW_STREAM_REQUEST_BLOCK srb, const std::string& how)
{
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    auto found = book.srbs.find(srb);
    std::shared_ptr<SrbRecord> record = found == book.srbs.end() ? nullptr : found->second.lock();
    if (!record) {
        bugCheck("stream class: " + how + " for SRB " + pointerText(srb) +
                 ", which the class does not know (completed after the class retired it, or never issued)");
    }
    return record;
}

void checkNotifier(PVOID deviceExtension, PHW_STREAM_OBJECT streamObject, const std::string& how,
                   PHW_STREAM_REQUEST_BLOCK srb)
{
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    if (streamObject != nullptr) {
        auto found = book.openStreams.find(streamObject);
        if (found == book.openStreams.end() || found->second.expired()) {
            bugCheck("stream class: " + how + " for SRB " + pointerText(srb) + " on stream object " +
                     pointerText(streamObject) + ", which is not open (closed or never opened)");
        }
        return;
    }
    auto found = book.devicesByExtension.find(deviceExtension);
    if (found == book.devicesByExtension.end() || found->second.expired()) {
        bugCheck("stream class: " + how + " for SRB " + pointerText(srb) + " with device extension " +
                 pointerText(deviceExtension) + ", which belongs to no device");
    }
}

void checkCompletion(const SrbRecord& record, PVOID deviceExtension, PHW_STREAM_OBJECT streamObject,
                     const std::string& how)
{
    if (record.completed) {
        bugCheck("stream class: " + how + ": " + record.describe() + " completed twice");
    }
    if (!record.delivered) {
        bugCheck("stream class: " + how + ": " + record.describe() + " completed before it was handed over");
    }
    const bool isAdapter = record.kind == SrbKind::Adapter;
    if (streamObject == nullptr && !isAdapter) {
        bugCheck("stream class: " + record.describe() + " is a stream SRB but was completed with " + how);
    }
    if (streamObject != nullptr && isAdapter) {
        bugCheck("stream class: " + record.describe() + " is an adapter SRB but was completed with " + how);
    }
    if (streamObject != nullptr && streamObject != &record.stream->object) {
        bugCheck("stream class: " + how + ": " + record.describe() + " completed on another stream object " +
                 pointerText(streamObject));
    }
    if (streamObject == nullptr && deviceExtension != record.srb.HwDeviceExtension) {
        bugCheck("stream class: " + how + ": " + record.describe() + " completed with device extension " +
                 pointerText(deviceExtension));
    }
    if (record.srb.Status == STATUS_PENDING) {
        bugCheck("stream class: " + how + ": " + record.describe() + " completed with Status STATUS_PENDING");
    }
}

void markCompleted(const std::shared_ptr<SrbRecord>& record)
{
    record->completed = true;
    record->completionOrder = ++completionCounter;
    record->done.notify_all();
}

} // namespace

SrbRecord::~SrbRecord()
{
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    auto found = book.srbs.find(&srb);
    if (found != book.srbs.end() && found->second.expired()) {
        book.srbs.erase(found);
    }
}

std::string SrbRecord::describe() const
{
    std::string text = "SRB " + pointerText(&srb) + " (" + srbCommandName(srb.Command);
    if (stream) {
        text += ", stream " + std::to_string(stream->object.StreamNumber);
    }
    text += ", device extension " + pointerText(srb.HwDeviceExtension) + ")";
    return text;
}

bool SrbRecord::waitCompleted(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex);
    return done.wait_for(lock, timeout, [this] { return completed; });
}

void requirePassiveLevel(const char* what)
{
    const unsigned irql = currentIrql();
    if (irql != PASSIVE_LEVEL) {
        bugCheck(std::string("stream class: ") + what + " called at IRQL " + std::to_string(irql) +
                 " (PASSIVE_LEVEL required)");
    }
}

std::shared_ptr<SrbRecord> newSrb(const std::shared_ptr<StreamClassDeviceState>& device,
                                  const std::shared_ptr<StreamClassStreamState>& stream, SrbKind kind,
                                  SRB_COMMAND command)
{
    auto record = std::make_shared<SrbRecord>();
    record->kind = kind;
    record->device = device;
    record->stream = stream;
    record->extension = AlignedBlock(device->init.PerRequestExtensionSize);
    HW_STREAM_REQUEST_BLOCK& srb = record->srb;
    srb.SizeOfThisPacket = sizeof(HW_STREAM_REQUEST_BLOCK);
    srb.Command = command;
    srb.Status = STATUS_PENDING;
    srb.StreamObject = stream ? &stream->object : nullptr;
    srb.HwDeviceExtension = device->extension.data();
    srb.SRBExtension = record->extension.data();
    if (kind == SrbKind::StreamData) {
        srb.Flags = SRB_HW_FLAGS_DATA_TRANSFER | SRB_HW_FLAGS_STREAM_REQUEST;
    } else if (kind == SrbKind::StreamControl) {
        srb.Flags = SRB_HW_FLAGS_STREAM_REQUEST;
    }
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    book.srbs[&srb] = record;
    return record;
}

SrbResult dispatchAdapterSrb(const std::shared_ptr<SrbRecord>& record)
{
    requirePassiveLevel(srbCommandName(record->srb.Command).c_str());
    {
        std::lock_guard lock(record->mutex);
        record->delivered = true;
    }
    record->device->init.HwReceivePacket(&record->srb);
    std::lock_guard lock(record->mutex);
    if (!record->completed) {
        bugCheck("stream class: adapter " + record->describe() +
                 " was still pending when HwReceivePacket returned");
    }
    return {record->srb.Status, record->srb.ActualBytesTransferred};
}

void completeByClass(const std::shared_ptr<SrbRecord>& record, NTSTATUS status)
{
    {
        std::lock_guard lock(record->mutex);
        record->srb.Status = status;
        markCompleted(record);
    }
    retireFromStream(record);
}

void completeFromMinidriver(PHW_STREAM_REQUEST_BLOCK srb, PVOID deviceExtension, PHW_STREAM_OBJECT streamObject)
{
    const std::string how = streamObject != nullptr ? "StreamRequestComplete" : "DeviceRequestComplete";
    const unsigned irql = currentIrql();
    if (irql > DISPATCH_LEVEL) {
        bugCheck("stream class: " + how + " at IRQL " + std::to_string(irql) + " (above DISPATCH_LEVEL)");
    }
    if (srb == nullptr) {
        bugCheck("stream class: " + how + " with a null SRB");
    }
    checkNotifier(deviceExtension, streamObject, how, srb);
    std::shared_ptr<SrbRecord> record = findLiveSrb(srb, how);
    {
        std::lock_guard cancel(record->device->cancelLock);
        std::lock_guard lock(record->mutex);
        checkCompletion(*record, deviceExtension, streamObject, how);
        markCompleted(record);
    }
    retireFromStream(record);
}

} // namespace korval::host
