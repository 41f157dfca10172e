// Saving the floating-point state: on 32-bit Windows, kernel code that touches
// the x87, MMX or XMM registers saves them first (up to DISPATCH_LEVEL). The
// host's verifier also checks that floating-point and SIMD code runs only while
// its thread holds a saved state.
#pragma once

#include "platform/NtTypes.h"

#if defined(KORVAL_WIN32)

#include "platform/Kernel.h"

// The real kernel has no such check; the emulated one stops the test.
inline VOID KorvalVerifyFloatingPointState(PCSTR Function)
{
    (void)Function;
}

#else

typedef struct _KFLOATING_SAVE {
    ULONG ControlWord;
    ULONG StatusWord;
    ULONG ErrorOffset;
    ULONG ErrorSelector;
    ULONG DataOffset;
    ULONG DataSelector;
    ULONG Cr0NpxState;
    ULONG Spare1;
} KFLOATING_SAVE, *PKFLOATING_SAVE;
static_assert(sizeof(KFLOATING_SAVE) == 32);

extern "C" {
NTSTATUS NTAPI KeSaveFloatingPointState(PKFLOATING_SAVE FloatSave);
NTSTATUS NTAPI KeRestoreFloatingPointState(PKFLOATING_SAVE FloatSave);
}

// The verifier's check at the entry of a floating-point or SIMD path: stops
// with a bug check naming Function when the thread holds no saved state.
VOID KorvalVerifyFloatingPointState(PCSTR Function);

#endif
