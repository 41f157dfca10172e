// korval settings-checksum FILE [--write]: the checksum the driver computes
// over "A_0" ... "A_51" of a settings file, compared with its "A_65"; --write
// stores it so that the driver accepts the table.
#include "control/RegistrySettings.h"
#include "host/kernel/registry.h"
#include "tools/korval/cli.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace korval::tools {
namespace {

const char* const kParametersKey =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";

std::string hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

// The driver's own computation over the table as the file holds it; values
// that are missing or not REG_DWORD count as 0, as for a new device.
std::uint32_t tableChecksum(const host::Registry& registry, std::ostream& err)
{
    auto device = std::make_unique<DeviceContext>();
    for (int index = 0; index <= 51; ++index) {
        const std::string name = "A_" + std::to_string(index);
        auto value = registry.value(kParametersKey, name);
        if (value && !value->asDword()) {
            err << "korval: warning: \"" << name << "\" is not a REG_DWORD; the driver ignores it\n";
        }
        device->Settings[index] = value ? value->asDword().value_or(0) : 0;
    }
    ULONG checksum = 0;
    VerifySettings(device.get(), &checksum);
    return checksum;
}

} // namespace

int runSettingsChecksum(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string file;
    bool write = false;
    for (const auto& arg : args) {
        if (arg == "--help") {
            out << "usage: korval settings-checksum FILE.reg [--write]\n"
                   "Computes the checksum of \"A_0\" ... \"A_51\" under\n"
                   "  " << kParametersKey << "\n"
                   "and compares it with \"A_65\"; --write stores it in the file.\n";
            return 0;
        }
        if (arg == "--write") {
            write = true;
        } else if (arg.starts_with("-") || !file.empty()) {
            err << "korval settings-checksum: unexpected argument '" << arg << "'\n";
            return 2;
        } else {
            file = arg;
        }
    }
    if (file.empty() || !std::filesystem::is_regular_file(file)) {
        err << "korval settings-checksum: settings file '" << file << "' not found\n";
        return 2;
    }
    host::Registry registry;
    try {
        registry.attachFile(file);
    } catch (const std::exception& error) {
        err << "korval settings-checksum: " << error.what() << "\n";
        return 1;
    }
    const std::uint32_t checksum = tableChecksum(registry, err);
    auto stored = registry.value(kParametersKey, "A_65");
    const bool matches = stored && stored->asDword() == checksum;
    out << "checksum " << hex(checksum) << ", \"A_65\" "
        << (stored && stored->asDword() ? hex(*stored->asDword()) : std::string("missing"))
        << (matches ? ": valid\n" : ": does not match\n");
    if (write && !matches) {
        registry.setValue(kParametersKey, "A_65", host::RegistryValue::dword(checksum));
        out << "wrote \"A_65\" = " << hex(checksum) << " to " << file << "\n";
        return 0;
    }
    return matches || write ? 0 : 1;
}

} // namespace korval::tools
