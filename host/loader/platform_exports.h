// The routines and variables the emulated kernel, HAL, USB driver interface and
// stream class export to a Windows driver image, by module and import name.
#pragma once

#include <span>
#include <string_view>

namespace korval::host {

struct PlatformExport {
    const char* module;  // "ntoskrnl.exe", "HAL.dll", "USBD.SYS" or "stream.sys"
    const char* name;    // as the image's import table names it
    void* address;       // the routine, or the variable of a data import
};

std::span<const PlatformExport> platformExports();

// Module names compare without case, as Windows binds them; routine names exactly.
const PlatformExport* findPlatformExport(std::string_view module, std::string_view name);

} // namespace korval::host
