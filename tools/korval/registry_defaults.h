// What installing the driver puts in the registry: the formats offered, the
// bandwidth to start from and the published defaults of the user's settings.
// Values already present are kept, so a machine directory keeps its changes.
#pragma once

#include "host/kernel/registry.h"

#include <cstdint>
#include <span>

namespace korval::tools {

// One value "A_<index>" under the parameters key, as installed on a fresh
// machine. The tool and the driver's INF are both made from this one table.
struct RegistryDefault {
    int index;
    std::uint32_t value;
};

std::span<const RegistryDefault> registryDefaults();

inline const char* const kParametersKey =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";
inline const char* const kStillStatusKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL";

void installRegistryDefaults(host::Registry& registry);

} // namespace korval::tools
