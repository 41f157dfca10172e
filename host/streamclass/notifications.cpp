// The minidriver's calls back into the class: request completion and event
// signals. They may come from any thread at up to DISPATCH_LEVEL.
#include "host/kernel/bug_check.h"
#include "host/streamclass/class_state.h"

#include <cstdarg>

namespace korval::host {
namespace {

std::shared_ptr<StreamClassDeviceState> deviceOfExtension(PVOID extension, const char* how)
{
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    auto found = book.devicesByExtension.find(extension);
    auto device = found == book.devicesByExtension.end() ? nullptr : found->second.lock();
    if (!device) {
        bugCheck(std::string("stream class: ") + how + " with device extension " + pointerText(extension) +
                 ", which belongs to no device");
    }
    return device;
}

void signalEntry(DeviceEventState& event)
{
    std::lock_guard lock(event.mutex);
    ++event.signals;
    event.signalled.notify_all();
}

void signalMultiple(PVOID extension, const GUID* set, ULONG id)
{
    if (set == nullptr) {
        bugCheck("stream class: SignalMultipleDeviceEvents with a null event set");
    }
    auto device = deviceOfExtension(extension, "SignalMultipleDeviceEvents");
    std::lock_guard lock(device->mutex);
    bool matched = false;
    for (const auto& event : device->events) {
        if (event->set == *set && event->id == id) {
            signalEntry(*event);
            matched = true;
        }
    }
    if (!matched) {
        ++device->unmatchedSignals;
    }
}

void signalOne(PVOID extension, PKSEVENT_ENTRY entry)
{
    auto device = deviceOfExtension(extension, "SignalDeviceEvent");
    std::lock_guard lock(device->mutex);
    for (const auto& event : device->events) {
        if (&event->entry == entry) {
            signalEntry(*event);
            return;
        }
    }
    bugCheck("stream class: SignalDeviceEvent with event entry " + pointerText(entry) +
             ", which is not enabled on the device");
}

} // namespace
} // namespace korval::host

using namespace korval::host;

extern "C" VOID STREAMCDECL StreamClassDeviceNotification(STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE NotificationType,
                                                          PVOID HwDeviceExtension, ...)
{
    va_list arguments;
    va_start(arguments, HwDeviceExtension);
    switch (NotificationType) {
    case DeviceRequestComplete: {
        auto srb = va_arg(arguments, PHW_STREAM_REQUEST_BLOCK);
        va_end(arguments);
        completeFromMinidriver(srb, HwDeviceExtension, nullptr);
        return;
    }
    case SignalMultipleDeviceEvents: {
        auto set = va_arg(arguments, GUID*);
        auto id = va_arg(arguments, ULONG);
        va_end(arguments);
        signalMultiple(HwDeviceExtension, set, id);
        return;
    }
    case SignalDeviceEvent: {
        auto entry = va_arg(arguments, PKSEVENT_ENTRY);
        va_end(arguments);
        signalOne(HwDeviceExtension, entry);
        return;
    }
    case ReadyForNextDeviceRequest:
    case DeleteDeviceEvent:
        // Without synchronization by the class there is nothing to release.
        va_end(arguments);
        return;
    default:
        va_end(arguments);
        bugCheck("stream class: StreamClassDeviceNotification with unknown type " +
                 std::to_string(static_cast<int>(NotificationType)));
    }
}

extern "C" VOID STREAMCDECL StreamClassStreamNotification(STREAM_MINIDRIVER_STREAM_NOTIFICATION_TYPE NotificationType,
                                                          PHW_STREAM_OBJECT StreamObject, ...)
{
    va_list arguments;
    va_start(arguments, StreamObject);
    switch (NotificationType) {
    case StreamRequestComplete: {
        auto srb = va_arg(arguments, PHW_STREAM_REQUEST_BLOCK);
        va_end(arguments);
        if (StreamObject == nullptr) {
            bugCheck("stream class: StreamRequestComplete with a null stream object for SRB " + pointerText(srb));
        }
        completeFromMinidriver(srb, nullptr, StreamObject);
        return;
    }
    case ReadyForNextStreamDataRequest:
    case ReadyForNextStreamControlRequest:
    case HardwareStarved:
    case SignalMultipleStreamEvents:
    case SignalStreamEvent:
    case DeleteStreamEvent:
        // No stream events are published through this emulation; nothing to release.
        va_end(arguments);
        return;
    default:
        va_end(arguments);
        bugCheck("stream class: StreamClassStreamNotification with unknown type " +
                 std::to_string(static_cast<int>(NotificationType)));
    }
}
