// Exports of the emulated kernel that only a driver image reaches: the data
// imports, the routine lookup, and the C run-time routines the kernel exports.
#pragma once

#include "platform/Platform.h"

#include <cstddef>

extern "C" {
PVOID NTAPI MmGetSystemRoutineAddress(PUNICODE_STRING SystemRoutineName);
}

namespace korval::host {

KORVAL_IMAGE_ENTRY void* imageMemcpy(void* destination, const void* source, std::size_t length);
KORVAL_IMAGE_ENTRY void* imageMemmove(void* destination, const void* source, std::size_t length);
KORVAL_IMAGE_ENTRY void* imageMemset(void* destination, int value, std::size_t length);
KORVAL_IMAGE_ENTRY int imageRand();

} // namespace korval::host
