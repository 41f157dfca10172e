// Registration of minidrivers (StreamClassRegisterAdapter), driver unload and
// the process-wide book of live objects.
#include "host/kernel/bug_check.h"
#include "host/kernel/pool.h"
#include "host/streamclass/class_state.h"

#include <array>
#include <cstdio>

namespace korval::host {

ClassBook& classBook()
{
    static ClassBook book;
    return book;
}

std::string pointerText(const void* pointer)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%p", pointer);
    return text;
}

std::string guidText(const GUID& guid)
{
    char text[48];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string srbCommandName(ULONG command)
{
    static constexpr std::array<const char*, 17> kStreamCommands = {
        "SRB_READ_DATA",          "SRB_WRITE_DATA",         "SRB_GET_STREAM_STATE",
        "SRB_SET_STREAM_STATE",   "SRB_SET_STREAM_PROPERTY", "SRB_GET_STREAM_PROPERTY",
        "SRB_OPEN_MASTER_CLOCK",  "SRB_INDICATE_MASTER_CLOCK", "SRB_UNKNOWN_STREAM_COMMAND",
        "SRB_SET_STREAM_RATE",    "SRB_PROPOSE_DATA_FORMAT", "SRB_CLOSE_MASTER_CLOCK",
        "SRB_PROPOSE_STREAM_RATE", "SRB_SET_DATA_FORMAT",    "SRB_GET_DATA_FORMAT",
        "SRB_BEGIN_FLUSH",        "SRB_END_FLUSH"};
    static constexpr std::array<const char*, 18> kDeviceCommands = {
        "SRB_GET_STREAM_INFO",       "SRB_OPEN_STREAM",          "SRB_CLOSE_STREAM",
        "SRB_OPEN_DEVICE_INSTANCE",  "SRB_CLOSE_DEVICE_INSTANCE", "SRB_GET_DEVICE_PROPERTY",
        "SRB_SET_DEVICE_PROPERTY",   "SRB_INITIALIZE_DEVICE",    "SRB_CHANGE_POWER_STATE",
        "SRB_UNINITIALIZE_DEVICE",   "SRB_UNKNOWN_DEVICE_COMMAND", "SRB_PAGING_OUT_DRIVER",
        "SRB_GET_DATA_INTERSECTION", "SRB_INITIALIZATION_COMPLETE", "SRB_SURPRISE_REMOVAL",
        "SRB_DEVICE_METHOD",         "SRB_STREAM_METHOD",        "SRB_NOTIFY_IDLE_STATE"};
    if (command < kStreamCommands.size()) {
        return kStreamCommands[command];
    }
    if (command >= 0x100 && command - 0x100 < kDeviceCommands.size()) {
        return kDeviceCommands[command - 0x100];
    }
    char text[32];
    std::snprintf(text, sizeof(text), "SRB command 0x%X", static_cast<unsigned>(command));
    return text;
}

const HW_INITIALIZATION_DATA* registeredAdapter(PVOID driverObject)
{
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    auto found = book.registrations.find(driverObject);
    return found == book.registrations.end() ? nullptr : &found->second;
}

void failNextAdapterRegistration(NTSTATUS status)
{
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    book.failNextRegistration = true;
    book.nextRegistrationStatus = status;
}

void unloadDriver(PVOID driverObject, std::optional<std::uint32_t> leakCheckTag)
{
    {
        ClassBook& book = classBook();
        std::lock_guard lock(book.mutex);
        for (const auto& [extension, weak] : book.devicesByExtension) {
            auto device = weak.lock();
            if (device && device->driverObject == driverObject) {
                bugCheck("stream class: driver " + pointerText(driverObject) +
                         " unloaded while its device with extension " + pointerText(extension) + " is present");
            }
        }
        book.registrations.erase(driverObject);
    }
    if (leakCheckTag) {
        checkNoPoolLeaks(*leakCheckTag);
    }
}

} // namespace korval::host

using namespace korval::host;

extern "C" NTSTATUS STREAMAPI StreamClassRegisterAdapter(PVOID Argument1, PVOID Argument2,
                                                         PHW_INITIALIZATION_DATA HwInitializationData)
{
    (void)Argument2;
    requirePassiveLevel("StreamClassRegisterAdapter");
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    if (book.failNextRegistration) {
        book.failNextRegistration = false;
        return book.nextRegistrationStatus;
    }
    if (Argument1 == nullptr || HwInitializationData == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (HwInitializationData->HwInitializationDataSize < sizeof(HW_INITIALIZATION_DATA)) {
        return STATUS_REVISION_MISMATCH;
    }
    if (HwInitializationData->HwReceivePacket == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!HwInitializationData->TurnOffSynchronization) {
        // Only the unsynchronized class (every SRB at PASSIVE_LEVEL) is emulated.
        return STATUS_NOT_SUPPORTED;
    }
    book.registrations[Argument1] = *HwInitializationData;
    return STATUS_SUCCESS;
}
