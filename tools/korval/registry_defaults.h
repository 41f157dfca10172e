// What installing the driver puts in the registry: the formats offered, the
// bandwidth to start from, the tuning table "A_0" ... "A_51" with its checksum
// "A_65", and the defaults of the user's settings. Values already present are
// kept, so a machine directory keeps its changes.
#pragma once

#include "host/kernel/registry.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korval::tools {

// One value "A_<index>" under the parameters key, as installed on a fresh
// machine. The tool and the driver's INF are both made from this one table.
struct RegistryDefault {
    int index;
    std::uint32_t value;
};

// Ascending by index; "A_65" holds the checksum of "A_0" ... "A_51".
std::span<const RegistryDefault> registryDefaults();

// "A_<index>", the name of one value under the parameters key.
inline std::string parameterValueName(int index)
{
    return std::string("A_").append(std::to_string(index));
}

inline const char* const kParametersKey =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";
inline const char* const kStillStatusKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL";

constexpr int kTuningFirst = 0;
constexpr int kTuningLast = 51;
constexpr int kChecksumIndex = 65;

// The checksum the driver computes over "A_0" ... "A_51": the bitwise
// complement of their sum with its bytes reversed.
std::uint32_t tuningChecksum(std::span<const std::uint32_t, kTuningLast + 1> table);

// Installs what is missing. The tuning table and its checksum are installed
// only on a machine that has none of them, so a table someone edited is never
// completed into one that the checksum would bless.
void installRegistryDefaults(host::Registry& registry);

// Why the driver will ignore the stored tuning table (and with it the user's
// settings), or nothing when the table is valid.
std::optional<std::string> tuningTableProblem(const host::Registry& registry);

} // namespace korval::tools
