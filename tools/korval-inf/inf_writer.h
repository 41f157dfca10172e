// korval.inf, the installer of korval.sys on Windows: service KORVAL for the
// camera's USB id, the capture device registration, and the registry values a
// fresh machine needs, all taken from the one table registryDefaults().
#pragma once

#include "tools/korval/registry_defaults.h"

#include <span>
#include <string>

namespace korval::tools {

inline constexpr const char* kCameraHardwareId = "USB\\VID_4B56&PID_0110";

std::string makeKorvalInf(std::span<const RegistryDefault> defaults);

} // namespace korval::tools
