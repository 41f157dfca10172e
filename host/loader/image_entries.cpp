// The C run-time routines the kernel exports, entered from the image with the
// stack it guarantees; and the lookup of kernel and HAL routines by name.
#include "host/loader/image_entries.h"
#include "host/loader/platform_exports.h"

#include "host/kernel/kernel_internal.h"

#include <cstring>
#include <string>

namespace korval::host {

void* imageMemcpy(void* destination, const void* source, std::size_t length)
{
    return std::memcpy(destination, source, length);
}

void* imageMemmove(void* destination, const void* source, std::size_t length)
{
    return std::memmove(destination, source, length);
}

void* imageMemset(void* destination, int value, std::size_t length)
{
    return std::memset(destination, value, length);
}

int imageRand()
{
    return rand();
}

} // namespace korval::host

using namespace korval::host;

// The kernel's and the HAL's routines, as a driver finds those newer than the
// kernel it was built for; variables and other modules are not found.
extern "C" PVOID NTAPI MmGetSystemRoutineAddress(PUNICODE_STRING SystemRoutineName)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "MmGetSystemRoutineAddress");
    if (SystemRoutineName == nullptr || SystemRoutineName->Buffer == nullptr) {
        return nullptr;
    }
    const std::string name = toUtf8(SystemRoutineName);
    if (name == "KeNumberProcessors" || name == "PsThreadType") {
        return nullptr;
    }
    for (const char* module : {"ntoskrnl.exe", "HAL.dll"}) {
        if (const PlatformExport* found = findPlatformExport(module, name)) {
            return found->address;
        }
    }
    return nullptr;
}
