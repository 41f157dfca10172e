// Kernel pool allocation, debug output and the C runtime's random numbers.
#pragma once

#if defined(KORVAL_WIN32)
#include "platform/win32/Win32Platform.h"
#else

#include "platform/NtTypes.h"

typedef enum _POOL_TYPE {
    NonPagedPool = 0,
    PagedPool = 1,
} POOL_TYPE;

extern "C" {
PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG Tag);
VOID NTAPI ExFreePool(PVOID P);
ULONG KORVAL_IMAGE_ENTRY DbgPrint(PCSTR Format, ...);
}

// The kernel's exported rand: the C runtime generator (state 1 at start), never
// seeded by the driver. On the host the platform's rand replaces the C library's,
// as the kernel's own does for every driver.
#if defined(_WIN32)
extern "C" int __cdecl rand(void);
#else
extern "C" int rand(void) noexcept;
#endif

#endif // KORVAL_WIN32
