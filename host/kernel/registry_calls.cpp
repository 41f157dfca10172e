// The kernel's registry calls over the platform's registry.
#include "host/kernel/bug_check.h"
#include "host/kernel/kernel_internal.h"
#include "host/kernel/platform_state.h"
#include "host/kernel/registry_query.h"

using namespace korval::host;

namespace korval::host {

class KeyHandle : public HandleObject {
public:
    KeyHandle(std::string path, ACCESS_MASK access) : path_(std::move(path)), access_(access) {}
    std::string describe() const override { return "key " + path_; }
    const std::string& path() const { return path_; }
    bool canWrite() const { return (access_ & KEY_SET_VALUE) != 0 || access_ == GENERIC_WRITE || access_ == GENERIC_ALL; }

private:
    std::string path_;
    ACCESS_MASK access_;
};

std::optional<std::string> keyOfHandle(HANDLE handle)
{
    auto key = Platform::current().state().handles.findAs<KeyHandle>(handle);
    return key ? std::optional<std::string>(key->path()) : std::nullopt;
}

// The canonical key that RelativeTo and Path name; nullopt for paths outside the machine hive.
std::optional<std::string> resolveKey(ULONG relativeTo, PCWSTR path)
{
    if (relativeTo & RTL_REGISTRY_HANDLE) {
        return keyOfHandle(const_cast<PWSTR>(path));
    }
    static const char* const kBases[] = {
        "",
        "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\",
        "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\",
        "\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion\\",
        "\\Registry\\Machine\\Hardware\\DeviceMap\\",
    };
    const ULONG base = relativeTo & ~RTL_REGISTRY_OPTIONAL;
    if (base >= sizeof(kBases) / sizeof(kBases[0]) || path == nullptr) {
        return std::nullopt;
    }
    try {
        return Registry::canonicalKey(kBases[base] + toUtf8(path));
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

} // namespace korval::host

namespace {

std::optional<std::string> keyFromAttributes(POBJECT_ATTRIBUTES attributes)
{
    if (attributes == nullptr || attributes->ObjectName == nullptr) {
        return std::nullopt;
    }
    const std::string name = toUtf8(attributes->ObjectName);
    try {
        if (attributes->RootDirectory != nullptr) {
            auto root = keyOfHandle(attributes->RootDirectory);
            return root ? std::optional<std::string>(Registry::canonicalKey(*root + "\\" + name)) : std::nullopt;
        }
        return Registry::canonicalKey(name);
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

// Runs a registry change for a kernel call: a name past Windows' limits is an
// invalid parameter, and a registry file that cannot be written fails the call
// instead of throwing through driver code.
template <class Change>
NTSTATUS guarded(Change change)
{
    try {
        return change();
    } catch (const std::invalid_argument&) {
        return STATUS_INVALID_PARAMETER;
    } catch (const std::exception&) {
        return STATUS_UNSUCCESSFUL;
    }
}

// The opened key behind a handle, or why the handle names none.
NTSTATUS openedKey(HANDLE handle, std::shared_ptr<KeyHandle>& key)
{
    auto object = Platform::current().state().handles.find(handle);
    key = std::dynamic_pointer_cast<KeyHandle>(object);
    if (!object) {
        return STATUS_INVALID_HANDLE;
    }
    return key ? STATUS_SUCCESS : STATUS_OBJECT_TYPE_MISMATCH;
}

RegistryValue valueOf(ULONG type, PVOID data, ULONG length)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return RegistryValue{type, std::vector<std::uint8_t>(bytes, bytes + length)};
}

} // namespace

extern "C" NTSTATUS NTAPI RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path, PRTL_QUERY_REGISTRY_TABLE QueryTable,
                                                 PVOID Context, PVOID)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "RtlQueryRegistryValues");
    if (QueryTable == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const auto key = resolveKey(RelativeTo, Path);
    Registry& registry = Platform::current().registry();
    if (!key || !registry.keyExists(*key)) {
        return (RelativeTo & RTL_REGISTRY_OPTIONAL) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
    }
    return guarded([&] { return queryRegistryTable(registry, *key, QueryTable, Context); });
}

extern "C" NTSTATUS NTAPI RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName, ULONG ValueType,
                                                PVOID ValueData, ULONG ValueLength)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "RtlWriteRegistryValue");
    if (ValueData == nullptr && ValueLength != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    if (auto failure = takeInjectedFailure("RtlWriteRegistryValue")) {
        return *failure;
    }
    const auto key = resolveKey(RelativeTo, Path);
    return guarded([&] {
        return key && Platform::current().registry().setExistingValue(*key, toUtf8(ValueName),
                                                                      valueOf(ValueType, ValueData, ValueLength))
                   ? STATUS_SUCCESS
                   : STATUS_OBJECT_NAME_NOT_FOUND;
    });
}

extern "C" NTSTATUS NTAPI RtlDeleteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "RtlDeleteRegistryValue");
    const auto key = resolveKey(RelativeTo, Path);
    return guarded([&] {
        return key && Platform::current().registry().deleteValue(*key, toUtf8(ValueName))
                   ? STATUS_SUCCESS
                   : STATUS_OBJECT_NAME_NOT_FOUND;
    });
}

extern "C" NTSTATUS NTAPI RtlCreateRegistryKey(ULONG RelativeTo, PWSTR Path)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "RtlCreateRegistryKey");
    const auto key = resolveKey(RelativeTo, Path);
    if (!key) {
        return STATUS_OBJECT_PATH_SYNTAX_BAD;
    }
    return guarded([&] {
        Platform::current().registry().createKey(*key);
        return STATUS_SUCCESS;
    });
}

extern "C" NTSTATUS NTAPI RtlCheckRegistryKey(ULONG RelativeTo, PWSTR Path)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "RtlCheckRegistryKey");
    const auto key = resolveKey(RelativeTo, Path);
    return key && Platform::current().registry().keyExists(*key) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

extern "C" NTSTATUS NTAPI IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType,
                                                  ACCESS_MASK DesiredAccess, PHANDLE DevInstRegKey)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "IoOpenDeviceRegistryKey");
    if (DeviceObject == nullptr || DevInstRegKey == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (DevInstKeyType != PLUGPLAY_REGKEY_DRIVER && DevInstKeyType != PLUGPLAY_REGKEY_DEVICE) {
        return STATUS_INVALID_PARAMETER;
    }
    if (auto failure = takeInjectedFailure("IoOpenDeviceRegistryKey")) {
        return *failure;
    }
    Platform& platform = Platform::current();
    const std::string key = DevInstKeyType == PLUGPLAY_REGKEY_DRIVER ? platform.driverKeyPath(DeviceObject)
                                                                     : platform.deviceKeyPath(DeviceObject);
    const NTSTATUS created = guarded([&] {
        platform.registry().createKey(key);
        return STATUS_SUCCESS;
    });
    if (!NT_SUCCESS(created)) {
        return created;
    }
    *DevInstRegKey = platform.state().handles.insert(std::make_shared<KeyHandle>(key, DesiredAccess));
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwOpenKey(PHANDLE KeyHandle_, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "ZwOpenKey");
    const auto key = keyFromAttributes(ObjectAttributes);
    if (KeyHandle_ == nullptr || !key) {
        return STATUS_OBJECT_PATH_SYNTAX_BAD;
    }
    Platform& platform = Platform::current();
    if (!platform.registry().keyExists(*key)) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    *KeyHandle_ = platform.state().handles.insert(std::make_shared<KeyHandle>(*key, DesiredAccess));
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwCreateKey(PHANDLE KeyHandle_, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                                      ULONG, PUNICODE_STRING, ULONG, PULONG Disposition)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "ZwCreateKey");
    const auto key = keyFromAttributes(ObjectAttributes);
    if (KeyHandle_ == nullptr || !key) {
        return STATUS_OBJECT_PATH_SYNTAX_BAD;
    }
    Platform& platform = Platform::current();
    const bool existed = platform.registry().keyExists(*key);
    if (!existed) {
        const NTSTATUS created = guarded([&] {
            platform.registry().createKey(*key);
            return STATUS_SUCCESS;
        });
        if (!NT_SUCCESS(created)) {
            return created;
        }
    }
    if (Disposition != nullptr) {
        *Disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    *KeyHandle_ = platform.state().handles.insert(std::make_shared<KeyHandle>(*key, DesiredAccess));
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwSetValueKey(HANDLE KeyHandle_, PUNICODE_STRING ValueName, ULONG, ULONG Type, PVOID Data,
                                        ULONG DataSize)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "ZwSetValueKey");
    std::shared_ptr<KeyHandle> key;
    if (const NTSTATUS refused = openedKey(KeyHandle_, key); refused != STATUS_SUCCESS) {
        return refused;
    }
    if (!key->canWrite()) {
        return STATUS_ACCESS_DENIED;
    }
    if (Data == nullptr && DataSize != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    if (auto failure = takeInjectedFailure("ZwSetValueKey")) {
        return *failure;
    }
    return guarded([&] {
        return Platform::current().registry().setExistingValue(key->path(), toUtf8(ValueName),
                                                               valueOf(Type, Data, DataSize))
                   ? STATUS_SUCCESS
                   : STATUS_KEY_DELETED;
    });
}

extern "C" NTSTATUS NTAPI ZwQueryValueKey(HANDLE KeyHandle_, PUNICODE_STRING ValueName,
                                          KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                                          PVOID KeyValueInformation, ULONG Length, PULONG ResultLength)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "ZwQueryValueKey");
    std::shared_ptr<KeyHandle> key;
    if (const NTSTATUS refused = openedKey(KeyHandle_, key); refused != STATUS_SUCCESS) {
        return refused;
    }
    if (KeyValueInformationClass != KeyValuePartialInformation || ResultLength == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const auto value = Platform::current().registry().value(key->path(), toUtf8(ValueName));
    if (!value) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    constexpr ULONG header = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    const ULONG needed = header + static_cast<ULONG>(value->data.size());
    *ResultLength = needed;
    if (Length < header) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(KeyValueInformation);
    info->TitleIndex = 0;
    info->Type = value->type;
    info->DataLength = static_cast<ULONG>(value->data.size());
    if (Length < needed) {
        return STATUS_BUFFER_OVERFLOW;
    }
    memcpy(info->Data, value->data.data(), value->data.size());
    return STATUS_SUCCESS;
}
