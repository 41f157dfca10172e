// RtlQueryRegistryValues: each table entry switches keys, reads one value or
// every value of the key, and hands the data to a routine or, with the direct
// flag, stores it by the value's own type, as the platform does: a string into
// the UNICODE_STRING the entry context is taken for, other data of up to 4
// bytes over the entry context, longer data into a buffer sized by the entry
// context's first LONG. A value whose type disagrees with the entry context
// therefore overwrites it; only an entry with the type-check flag is refused
// such a value (STATUS_OBJECT_TYPE_MISMATCH, nothing written).
#include "host/kernel/registry_query.h"

#include "host/kernel/kernel_internal.h"

namespace korval::host {
namespace {

struct Data {
    ULONG type;
    const void* bytes;
    ULONG length;
};

bool isStringType(ULONG type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ || type == REG_LINK;
}

NTSTATUS storeString(PUNICODE_STRING target, const Data& data)
{
    ULONG length = data.length & ~1u;
    const auto* units = static_cast<const WCHAR*>(data.bytes);
    ULONG text = length;
    if (text >= sizeof(WCHAR) && units[text / sizeof(WCHAR) - 1] == 0) {
        text -= sizeof(WCHAR); // the stored terminator is not part of the counted text
    }
    if (text > 0xFFFC) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (target->Buffer == nullptr) {
        target->Buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, text + sizeof(WCHAR), kStringTag));
        if (target->Buffer == nullptr) {
            return STATUS_NO_MEMORY;
        }
        target->MaximumLength = static_cast<USHORT>(text + sizeof(WCHAR));
    }
    if (text > target->MaximumLength) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    memcpy(target->Buffer, data.bytes, text);
    target->Length = static_cast<USHORT>(text);
    if (text + sizeof(WCHAR) <= target->MaximumLength) {
        target->Buffer[text / sizeof(WCHAR)] = 0;
    }
    return STATUS_SUCCESS;
}

// Non-string data: up to 4 bytes in place; larger data into a buffer whose
// first LONG gives its size (negative: data only; positive: length, type, data).
NTSTATUS storeDirect(PVOID target, const Data& data)
{
    if (isStringType(data.type)) {
        return storeString(static_cast<PUNICODE_STRING>(target), data);
    }
    if (data.length <= sizeof(ULONG)) {
        memcpy(target, data.bytes, data.length);
        return STATUS_SUCCESS;
    }
    LONG size;
    memcpy(&size, target, sizeof(size));
    if (size < 0) {
        if (static_cast<ULONG>(-static_cast<LONGLONG>(size)) < data.length) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        memcpy(target, data.bytes, data.length);
        return STATUS_SUCCESS;
    }
    if (static_cast<ULONG>(size) < data.length + 2 * sizeof(ULONG)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* header = static_cast<PULONG>(target);
    header[0] = data.length;
    header[1] = data.type;
    memcpy(header + 2, data.bytes, data.length);
    return STATUS_SUCCESS;
}

NTSTATUS deliver(const RTL_QUERY_REGISTRY_TABLE& entry, PWSTR name, const Data& data, PVOID context)
{
    if (entry.Flags & RTL_QUERY_REGISTRY_DIRECT) {
        return storeDirect(entry.EntryContext, data);
    }
    return entry.QueryRoutine(name, data.type, const_cast<void*>(data.bytes), data.length, context, entry.EntryContext);
}

// A type-checked direct entry given a value of another type.
bool typeRefused(const RTL_QUERY_REGISTRY_TABLE& entry, ULONG type)
{
    const ULONG mask = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
    return (entry.Flags & mask) == mask && type != (entry.DefaultType >> RTL_QUERY_REGISTRY_TYPECHECK_SHIFT);
}

ULONG defaultLength(ULONG type, const void* data, ULONG given)
{
    if (given != 0 || !isStringType(type)) {
        return given;
    }
    const auto* units = static_cast<const WCHAR*>(data);
    ULONG count = 0;
    if (type == REG_MULTI_SZ) {
        while (units[count] != 0 || units[count + 1] != 0) {
            ++count;
        }
        return (count + 2) * sizeof(WCHAR);
    }
    while (units[count] != 0) {
        ++count;
    }
    return (count + 1) * sizeof(WCHAR);
}

NTSTATUS queryValue(Registry& registry, const std::string& key, const RTL_QUERY_REGISTRY_TABLE& entry, PVOID context)
{
    const std::string name = toUtf8(entry.Name);
    const std::optional<RegistryValue> value = registry.value(key, name);
    if (value.has_value()) {
        if (typeRefused(entry, value->type)) {
            return STATUS_OBJECT_TYPE_MISMATCH;
        }
        const Data data{value->type, value->data.data(), static_cast<ULONG>(value->data.size())};
        const NTSTATUS status = deliver(entry, entry.Name, data, context);
        if (NT_SUCCESS(status) && (entry.Flags & RTL_QUERY_REGISTRY_DELETE)) {
            registry.deleteValue(key, name);
        }
        return status;
    }
    const ULONG type = entry.DefaultType & 0xFFFFFF;
    if (type == REG_NONE || entry.DefaultData == nullptr) {
        return (entry.Flags & RTL_QUERY_REGISTRY_REQUIRED) ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_SUCCESS;
    }
    const Data fallback{type, entry.DefaultData, defaultLength(type, entry.DefaultData, entry.DefaultLength)};
    return deliver(entry, entry.Name, fallback, context);
}

NTSTATUS queryAllValues(Registry& registry, const std::string& key, const RTL_QUERY_REGISTRY_TABLE& entry, PVOID context)
{
    const auto names = registry.valueNames(key);
    if (names.empty() && (entry.Flags & RTL_QUERY_REGISTRY_REQUIRED)) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    for (const auto& name : names) {
        const auto value = registry.value(key, name);
        if (!value) {
            continue;
        }
        std::u16string wide = toUtf16(name);
        const NTSTATUS status = deliver(entry, reinterpret_cast<PWSTR>(wide.data()),
                                        {value->type, value->data.data(), static_cast<ULONG>(value->data.size())}, context);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return STATUS_SUCCESS;
}

bool moreEntries(const RTL_QUERY_REGISTRY_TABLE& entry)
{
    return entry.QueryRoutine != nullptr || (entry.Flags & (RTL_QUERY_REGISTRY_SUBKEY | RTL_QUERY_REGISTRY_DIRECT));
}

} // namespace

NTSTATUS queryRegistryTable(Registry& registry, const std::string& key, PRTL_QUERY_REGISTRY_TABLE table, PVOID context)
{
    std::string current = key;
    for (PRTL_QUERY_REGISTRY_TABLE entry = table; moreEntries(*entry); ++entry) {
        if (entry->Flags & RTL_QUERY_REGISTRY_TOPKEY) {
            current = key;
        }
        if (entry->Flags & RTL_QUERY_REGISTRY_SUBKEY) {
            current = key + "\\" + toUtf8(entry->Name);
            if (!registry.keyExists(current)) {
                if (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) {
                    return STATUS_OBJECT_NAME_NOT_FOUND;
                }
            }
            if (entry->QueryRoutine == nullptr) {
                continue;
            }
        }
        if ((entry->Flags & RTL_QUERY_REGISTRY_DIRECT) && entry->EntryContext == nullptr) {
            return STATUS_INVALID_PARAMETER;
        }
        NTSTATUS status;
        if (entry->Flags & RTL_QUERY_REGISTRY_NOVALUE) {
            status = entry->QueryRoutine(entry->Name, REG_NONE, nullptr, 0, context, entry->EntryContext);
        } else if (entry->Name == nullptr || (entry->Flags & RTL_QUERY_REGISTRY_SUBKEY)) {
            status = queryAllValues(registry, current, *entry, context);
        } else {
            status = queryValue(registry, current, *entry, context);
        }
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return STATUS_SUCCESS;
}

} // namespace korval::host
