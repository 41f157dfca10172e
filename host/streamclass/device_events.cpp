// Device events: a client enables a published event, the minidriver's event
// routine hears of it, and the minidriver's signals are counted per event.
#include "host/streamclass/class_state.h"

#include <algorithm>

namespace korval::host {

namespace {

NTSTATUS callEventRoutine(StreamClassDeviceState& device, DeviceEventState& event, BOOLEAN enable)
{
    PHW_EVENT_ROUTINE routine;
    {
        std::lock_guard lock(device.mutex);
        const HW_STREAM_HEADER* header = device.header();
        routine = header != nullptr ? header->DeviceEventRoutine : nullptr;
    }
    if (routine == nullptr) {
        return STATUS_SUCCESS;
    }
    requirePassiveLevel("the device event routine");
    HW_EVENT_DESCRIPTOR descriptor{};
    descriptor.Enable = enable;
    descriptor.EventEntry = &event.entry;
    descriptor.EventData = &event.data;
    descriptor.DeviceExtension = static_cast<struct _HW_DEVICE_EXTENSION*>(device.extension.data());
    descriptor.EnableEventSetIndex = event.setIndex;
    return routine(&descriptor);
}

void forget(StreamClassDeviceState& device, const DeviceEventState* event)
{
    std::lock_guard lock(device.mutex);
    auto& events = device.events;
    events.erase(std::remove_if(events.begin(), events.end(), [&](const auto& held) { return held.get() == event; }),
                 events.end());
}

} // namespace

namespace {

// Points the entry at the published set and item; false when not published.
bool findPublishedEvent(const StreamClassDeviceState& device, const GUID& set, ULONG id, DeviceEventState& event)
{
    const HW_STREAM_HEADER* header = device.header();
    const KSEVENT_SET* sets = header != nullptr ? header->DeviceEventsArray : nullptr;
    const ULONG count = header != nullptr ? header->NumDevEventArrayEntries : 0;
    for (ULONG i = 0; sets != nullptr && i < count; ++i) {
        if (sets[i].Set == nullptr || *sets[i].Set != set || sets[i].EventItem == nullptr) {
            continue;
        }
        for (ULONG k = 0; k < sets[i].EventsCount; ++k) {
            if (sets[i].EventItem[k].EventId == id) {
                event.entry.EventSet = &sets[i];
                event.entry.EventItem = &sets[i].EventItem[k];
                event.setIndex = i;
                return true;
            }
        }
    }
    return false;
}

} // namespace

std::unique_ptr<DeviceEvent> StreamClassDevice::enableEvent(const GUID& set, ULONG id, NTSTATUS* status)
{
    NTSTATUS ignored;
    NTSTATUS& result = status != nullptr ? *status : ignored;
    auto event = std::make_shared<DeviceEventState>();
    {
        std::lock_guard lock(state_->mutex);
        if (!findPublishedEvent(*state_, set, id, *event)) {
            result = STATUS_NOT_FOUND;
            return nullptr;
        }
        event->device = state_;
        event->set = set;
        event->id = id;
        event->data.NotificationType = KSEVENTF_EVENT_HANDLE;
        event->entry.NotificationType = KSEVENTF_EVENT_HANDLE;
        event->entry.EventData = &event->data;
        event->entry.Object = state_->extension.data();
        event->enabled = true;
        // Listed before the routine runs, so that a signal right after enabling is not lost.
        state_->events.push_back(event);
    }
    result = callEventRoutine(*state_, *event, TRUE);
    if (!NT_SUCCESS(result)) {
        forget(*state_, event.get());
        std::lock_guard lock(event->mutex);
        event->enabled = false;
        return nullptr;
    }
    return std::unique_ptr<DeviceEvent>(new DeviceEvent(event));
}

std::uint64_t StreamClassDevice::unmatchedEventSignals() const
{
    std::lock_guard lock(state_->mutex);
    return state_->unmatchedSignals;
}

DeviceEvent::DeviceEvent(std::shared_ptr<DeviceEventState> state) : state_(std::move(state)) {}

DeviceEvent::~DeviceEvent()
{
    disable();
}

NTSTATUS DeviceEvent::disable()
{
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->enabled) {
            return STATUS_SUCCESS;
        }
        state_->enabled = false;
    }
    auto device = state_->device.lock();
    if (!device) {
        return STATUS_SUCCESS;
    }
    forget(*device, state_.get());
    return callEventRoutine(*device, *state_, FALSE);
}

std::uint64_t DeviceEvent::signals() const
{
    std::lock_guard lock(state_->mutex);
    return state_->signals;
}

bool DeviceEvent::waitForSignals(std::uint64_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(state_->mutex);
    return state_->signalled.wait_for(lock, timeout, [&] { return state_->signals >= count; });
}

PKSEVENT_ENTRY DeviceEvent::entry() const
{
    return &state_->entry;
}

} // namespace korval::host
