// korval settings-checksum FILE [--write]: the checksum the driver computes
// over "A_0" ... "A_51" of a settings file, compared with its "A_65"; --write
// stores it so that the driver accepts the table. A value missing from the
// table would count as 0, and a table of zeros makes the driver refuse to
// open the stream, so --write first fills missing values with the installed
// defaults and says which.
#include "host/kernel/registry.h"
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/hex_text.h"
#include "tools/korval/registry_defaults.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>

namespace korval::tools {
namespace {

const char* const kChecksumDescription =
    "Computes the checksum of the tuning table \"A_0\" ... \"A_51\" under "
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters and compares it with "
    "\"A_65\" (exit 0 valid, 1 not). --write stores it in the file, after filling values missing from the table "
    "with the installed defaults.";

// The table as the driver reads it: missing values count as 0. False (with a
// message) when a value is of another type, which the driver would ignore.
bool readTable(const host::Registry& registry, std::uint32_t (&table)[kTuningLast + 1], std::ostream& err)
{
    bool usable = true;
    for (int index = kTuningFirst; index <= kTuningLast; ++index) {
        auto value = registry.value(kParametersKey, parameterValueName(index));
        if (value && !value->asDword()) {
            err << "korval settings-checksum: \"" << parameterValueName(index) << "\" is not a REG_DWORD; the driver ignores it\n";
            usable = false;
        }
        table[index] = value ? value->asDword().value_or(0) : 0;
    }
    return usable;
}

// Missing tuning values take the installed defaults; returns their names.
std::string fillMissing(host::Registry& registry)
{
    std::string filled;
    for (const auto& [index, value] : registryDefaults()) {
        if (index <= kTuningLast && !registry.value(kParametersKey, parameterValueName(index))) {
            registry.setValue(kParametersKey, parameterValueName(index), host::RegistryValue::dword(value));
            filled.append(filled.empty() ? "" : " ").append(parameterValueName(index));
        }
    }
    return filled;
}

int writeChecksum(host::Registry& registry, const std::string& file, std::ostream& out, std::ostream& err)
{
    const std::string filled = fillMissing(registry);
    std::uint32_t table[kTuningLast + 1];
    if (!readTable(registry, table, err)) {
        err << "korval settings-checksum: nothing written to " << file << "\n";
        return kExitFailure;
    }
    const std::uint32_t checksum = tuningChecksum(table);
    registry.setValue(kParametersKey, parameterValueName(kChecksumIndex), host::RegistryValue::dword(checksum));
    if (!filled.empty()) {
        out << "filled missing tuning values with the defaults: " << filled << "\n";
    }
    out << "wrote \"A_65\" = " << hexText(checksum) << " to " << file << "\n";
    return kExitOk;
}

} // namespace

static int checkFile(const std::string& file, bool write, std::ostream& out, std::ostream& err)
{
    if (file.empty() || !std::filesystem::is_regular_file(file)) {
        err << "korval settings-checksum: settings file '" << file << "' not found\n";
        return kExitFile;
    }
    // Attached, the registry reads the file and writes it back only on a
    // change, in the encoding it had (UTF-16 stays UTF-16).
    host::Registry registry;
    try {
        registry.attachFile(file);
    } catch (const host::RegistryFormatError& error) {
        err << "korval settings-checksum: " << error.what() << "\n";
        return kExitFile;
    }
    std::uint32_t table[kTuningLast + 1];
    const bool usable = readTable(registry, table, err);
    const std::uint32_t checksum = tuningChecksum(table);
    auto stored = registry.value(kParametersKey, parameterValueName(kChecksumIndex));
    const bool matches = usable && stored && stored->asDword() == checksum;
    out << "checksum " << hexText(checksum) << ", \"A_65\" "
        << (stored && stored->asDword() ? hexText(*stored->asDword()) : std::string("missing"))
        << (matches ? ": valid\n" : ": does not match\n");
    if (!write || matches) {
        return matches ? kExitOk : kExitFailure;
    }
    try {
        return writeChecksum(registry, file, out, err);
    } catch (const std::exception& error) {
        err << "korval settings-checksum: cannot write " << file << ": " << error.what() << "\n";
        return kExitFile;
    }
}

CommandRunner defineSettingsChecksum(CLI::App& app)
{
    app.description(kChecksumDescription);
    auto file = std::make_shared<std::string>();
    auto write = std::make_shared<bool>(false);
    app.add_option("FILE", *file, "the settings file (.reg)")->required();
    app.add_flag("--write", *write, "store the checksum in the file");
    return [file, write](std::ostream& out, std::ostream& err) { return checkFile(*file, *write, out, err); };
}

} // namespace korval::tools
