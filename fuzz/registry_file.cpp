// The registry file is text a person may edit: any content must either load
// or be refused with RegistryFormatError, and what loads must survive its
// own export unchanged.
#include "host/kernel/registry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    korval::host::Registry registry;
    try {
        registry.importText(text, "fuzz");
    } catch (const korval::host::RegistryFormatError&) {
        return 0;
    }
    const std::string exported = registry.exportText();
    korval::host::Registry again;
    again.importText(exported, "export");
    if (again.exportText() != exported) {
        std::abort();
    }
    return 0;
}
