// The driver's one allocation path: non-paged pool with the tag "Wdm ".
// Allocation failure yields null (no exceptions in the driver); a new-expression
// on a null result skips the constructor, so callers test the pointer.
#pragma once

#include "platform/Platform.h"

constexpr ULONG KORVAL_POOL_TAG = 0x206D6457; // "Wdm " in memory

inline PVOID KorvalAllocate(SIZE_T bytes)
{
    return ExAllocatePoolWithTag(NonPagedPool, bytes, KORVAL_POOL_TAG);
}

inline VOID KorvalFree(PVOID buffer)
{
    if (buffer != nullptr) {
        ExFreePoolWithTag(buffer, KORVAL_POOL_TAG);
    }
}

// Base of every driver class created with new: the class allocation operators
// shared by the driver's classes. It adds no data and no virtual operations.
struct CPoolObject {
    static void* operator new(size_t bytes) noexcept { return KorvalAllocate(bytes); }
    static void operator delete(void* object) noexcept { KorvalFree(object); }
    static void* operator new[](size_t bytes) noexcept { return KorvalAllocate(bytes); }
    static void operator delete[](void* object) noexcept { KorvalFree(object); }
};
