// The registry file is text a person may edit: any content must either load
// or be refused with RegistryFormatError. What loads is written back byte for
// byte; after a change, what is written reads back as the registry in memory;
// and the canonical form survives its own export unchanged.
#include "host/kernel/registry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void requireSameRegistry(const korval::host::Registry& registry)
{
    korval::host::Registry again;
    again.importText(registry.fileText(), "saved");
    if (again.exportText() != registry.exportText()) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    korval::host::Registry registry;
    try {
        registry.importText(text, "fuzz");
    } catch (const korval::host::RegistryFormatError&) {
        return 0;
    }
    if (registry.fileText() != text) {
        std::abort();
    }
    const auto keys = registry.keyNames();
    if (!keys.empty()) {
        const auto& key = keys[size % keys.size()];
        const auto names = registry.valueNames(key);
        if (!names.empty() && size % 3 == 0) {
            registry.deleteValue(key, names[size % names.size()]);
        } else {
            registry.setValue(key, names.empty() ? "fuzz" : names[size % names.size()],
                              korval::host::RegistryValue::dword(static_cast<std::uint32_t>(size)));
        }
        requireSameRegistry(registry);
    }
    const std::string exported = registry.exportText();
    korval::host::Registry canonical;
    canonical.importText(exported, "export");
    if (canonical.exportText() != exported) {
        std::abort();
    }
    return 0;
}
