// Device objects, device stacks and device interfaces.
#include "host/kernel/bug_check.h"
#include "host/kernel/irql.h"
#include "host/kernel/kernel_internal.h"
#include "host/kernel/platform_state.h"

#include <cstdio>

namespace korval::host {
namespace {

constexpr ULONG kDeviceTag = 0x69766544; // "Devi"
constexpr CSHORT kIoTypeDevice = 3;

std::string guidText(const GUID& guid, bool upper)
{
    char text[40];
    std::snprintf(text, sizeof(text), upper ? "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}"
                                            : "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                  guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

// Fills a UNICODE_STRING with a pool copy of `text`, terminated; false when out of pool.
bool allocateUnicode(PUNICODE_STRING target, const std::string& text)
{
    const std::u16string wide = toUtf16(text);
    const SIZE_T bytes = (wide.size() + 1) * sizeof(WCHAR);
    auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, kStringTag));
    if (buffer == nullptr) {
        return false;
    }
    memcpy(buffer, wide.c_str(), bytes);
    target->Buffer = buffer;
    target->Length = static_cast<USHORT>(wide.size() * sizeof(WCHAR));
    target->MaximumLength = static_cast<USHORT>(bytes);
    return true;
}

unsigned deviceIndex(Platform::State& state, const void* device)
{
    const auto found = state.deviceIndexes.find(device);
    if (found != state.deviceIndexes.end()) {
        return found->second;
    }
    const unsigned index = static_cast<unsigned>(state.deviceIndexes.size());
    state.deviceIndexes[device] = index;
    return index;
}

std::string instanceIdLocked(Platform::State& state, const void* device)
{
    const auto found = state.deviceInstances.find(device);
    if (found != state.deviceInstances.end()) {
        return found->second;
    }
    char text[32];
    std::snprintf(text, sizeof(text), "ROOT\\IMAGE\\%04u", deviceIndex(state, device));
    return text;
}

} // namespace

std::string guidString(const GUID& guid)
{
    return guidText(guid, true);
}

bool allocateUnicodeString(PUNICODE_STRING target, const std::string& text)
{
    return allocateUnicode(target, text);
}

void Platform::setDeviceInstance(const void* physicalDeviceObject, std::string instanceId)
{
    std::lock_guard lock(state_->mutex);
    deviceIndex(*state_, physicalDeviceObject);
    state_->deviceInstances[physicalDeviceObject] = std::move(instanceId);
}

std::string Platform::driverKeyPath(const void* physicalDeviceObject)
{
    std::lock_guard lock(state_->mutex);
    char text[120];
    std::snprintf(text, sizeof(text),
                  "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class\\"
                  "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\%04u",
                  deviceIndex(*state_, physicalDeviceObject));
    return text;
}

std::string Platform::deviceKeyPath(const void* physicalDeviceObject)
{
    std::lock_guard lock(state_->mutex);
    return "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\" + instanceIdLocked(*state_, physicalDeviceObject) +
           "\\Device Parameters";
}

std::vector<DeviceInterface> Platform::deviceInterfaces() const
{
    std::lock_guard lock(state_->mutex);
    return state_->interfaces;
}

} // namespace korval::host

using namespace korval::host;

extern "C" NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize, PUNICODE_STRING,
                                         DEVICE_TYPE DeviceType, ULONG DeviceCharacteristics, BOOLEAN,
                                         PDEVICE_OBJECT* DeviceObject)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "IoCreateDevice");
    const SIZE_T objectBytes = (sizeof(DEVICE_OBJECT) + 15) & ~SIZE_T{15};
    auto* device =
        static_cast<PDEVICE_OBJECT>(ExAllocatePoolWithTag(NonPagedPool, objectBytes + DeviceExtensionSize, kDeviceTag));
    if (device == nullptr) {
        *DeviceObject = nullptr;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    memset(device, 0, objectBytes + DeviceExtensionSize);
    device->Type = kIoTypeDevice;
    device->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT));
    device->DriverObject = DriverObject;
    device->DeviceExtension = DeviceExtensionSize != 0 ? reinterpret_cast<PUCHAR>(device) + objectBytes : nullptr;
    device->DeviceType = DeviceType;
    device->Characteristics = DeviceCharacteristics;
    device->StackSize = 1;
    device->Flags = DO_DEVICE_INITIALIZING;
    if (DriverObject != nullptr) {
        device->NextDevice = DriverObject->DeviceObject;
        DriverObject->DeviceObject = device;
    }
    *DeviceObject = device;
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT DeviceObject)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "IoDeleteDevice");
    if (PDRIVER_OBJECT driver = DeviceObject->DriverObject) {
        for (PDEVICE_OBJECT* link = &driver->DeviceObject; *link != nullptr; link = &(*link)->NextDevice) {
            if (*link == DeviceObject) {
                *link = DeviceObject->NextDevice;
                break;
            }
        }
    }
    ExFreePoolWithTag(DeviceObject, kDeviceTag);
}

extern "C" PDEVICE_OBJECT NTAPI IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice)
{
    PDEVICE_OBJECT top = TargetDevice;
    while (top->AttachedDevice != nullptr) {
        top = top->AttachedDevice;
    }
    top->AttachedDevice = SourceDevice;
    SourceDevice->StackSize = static_cast<CCHAR>(top->StackSize + 1);
    SourceDevice->AlignmentRequirement = top->AlignmentRequirement;
    return top;
}

extern "C" VOID NTAPI IoDetachDevice(PDEVICE_OBJECT TargetDevice)
{
    TargetDevice->AttachedDevice = nullptr;
}

extern "C" NTSTATUS NTAPI IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject, const GUID* InterfaceClassGuid,
                                                    PUNICODE_STRING ReferenceString, PUNICODE_STRING SymbolicLinkName)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "IoRegisterDeviceInterface");
    if (PhysicalDeviceObject == nullptr || InterfaceClassGuid == nullptr || SymbolicLinkName == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (auto failure = takeInjectedFailure("IoRegisterDeviceInterface")) {
        return *failure;
    }
    auto& state = Platform::current().state();
    const std::string reference = ReferenceString != nullptr ? toUtf8(ReferenceString) : std::string();
    std::string link;
    {
        std::lock_guard lock(state.mutex);
        std::string instance = instanceIdLocked(state, PhysicalDeviceObject);
        for (char& c : instance) {
            c = c == '\\' ? '#' : c;
        }
        link = "\\??\\" + instance + "#" + guidText(*InterfaceClassGuid, false) +
               (reference.empty() ? "" : "\\" + reference);
        bool known = false;
        for (const auto& entry : state.interfaces) {
            known = known || foldCase(entry.symbolicLink) == foldCase(link);
        }
        if (!known) {
            state.interfaces.push_back({link, guidText(*InterfaceClassGuid, true), reference, PhysicalDeviceObject, false});
        }
    }
    return allocateUnicode(SymbolicLinkName, link) ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

extern "C" NTSTATUS NTAPI IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "IoSetDeviceInterfaceState");
    if (SymbolicLinkName == nullptr || SymbolicLinkName->Buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (auto failure = takeInjectedFailure("IoSetDeviceInterfaceState")) {
        return *failure;
    }
    auto& state = Platform::current().state();
    const std::string link = foldCase(toUtf8(SymbolicLinkName));
    std::lock_guard lock(state.mutex);
    for (auto& entry : state.interfaces) {
        if (foldCase(entry.symbolicLink) != link) {
            continue;
        }
        if (entry.enabled == (Enable != FALSE)) {
            return Enable ? STATUS_OBJECT_NAME_EXISTS : STATUS_OBJECT_NAME_NOT_FOUND;
        }
        entry.enabled = Enable != FALSE;
        return STATUS_SUCCESS;
    }
    return STATUS_OBJECT_NAME_NOT_FOUND;
}
