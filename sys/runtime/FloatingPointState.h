// The floating-point discipline of the driver.
//
// - Code that needs no floating point or SIMD (the request handlers, the USB
//   transport, the registry and file code) uses neither; the Windows build can
//   compile it with -mgeneral-regs-only so that the compiler cannot use them.
// - Every path that does (image processing with its set-up and table
//   rebuilds, auto exposure, effects and overlays, the still conversion, the
//   frame collector's SIMD scan at DISPATCH_LEVEL) runs inside one
//   CFloatingPointState bracket per frame or per call, never per pixel:
//   the capture pipeline brackets each frame and the stream's set-up, the
//   property handlers each change, the snapshot thread each still, the video
//   completion routine each transfer.
// - The entry points of those paths call KorvalVerifyFloatingPointState, so
//   on the host a missing bracket stops the test with a bug check naming the
//   function, where Windows would silently corrupt another thread's registers.
// - A bracket that cannot save the state (Windows may refuse) reports it, and
//   the caller skips the work: the frame or the change fails, nothing crashes.
// - Inside the bracket the x87 unit rounds to double precision, so 32-bit code
//   without SSE2 computes every table with the same bits as the host.
#pragma once

#include "platform/KernelFloatingPoint.h"

class CFloatingPointState {
public:
    CFloatingPointState() : m_Status(KeSaveFloatingPointState(&m_Save))
    {
        if (Saved()) {
            UseDoublePrecision();
        }
    }

    ~CFloatingPointState()
    {
        if (Saved()) {
            KeRestoreFloatingPointState(&m_Save);
        }
    }

    CFloatingPointState(const CFloatingPointState&) = delete;
    CFloatingPointState& operator=(const CFloatingPointState&) = delete;

    bool Saved() const { return m_Status >= 0; }

private:
    static VOID UseDoublePrecision()
    {
#if defined(__i386__)
        USHORT usControl = 0;
        __asm__ volatile("fnstcw %0" : "=m"(usControl));
        usControl = static_cast<USHORT>((usControl & ~0x0300) | 0x0200); // precision control: 53 bits
        __asm__ volatile("fldcw %0" : : "m"(usControl));
#endif
    }

    KFLOATING_SAVE m_Save;
    NTSTATUS m_Status;
};
