// The real kernel, stream class and USB headers of the mingw-w64 DDK, included
// in the one order that compiles, with a workaround for each of their defects.
// Only sys/platform/ includes this file, and only when KORVAL_WIN32 is defined.
#pragma once

#if !defined(KORVAL_WIN32)
#error "platform/win32/DdkHeaders.h belongs to the Windows build"
#endif

// wdm.h compiles only with the Vista-era declarations switched on. The driver
// still calls only what the WDM 1.x kernels export (the import check proves it).
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif

// wdm.h defines InterlockedBitTestAndSet/Reset itself, which C++ rejects after
// the compiler intrinsics header has declared them: keep only wdm.h's versions.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset

#include <ntddk.h>

// ksmedia.h uses the Win32 base types (FLOAT, DWORD, RECT, SIZE, COLORREF,
// MAX_PATH) and TCHAR, which a kernel build does not otherwise declare.
#include <windef.h>
typedef WCHAR TCHAR;

#include <ks.h>
#include <ksmedia.h>

// strmini.h, usbdi.h and usbdlib.h lack extern "C": without it their functions
// come out C++-mangled and only the link fails.
//
// strmini.h declares StreamClassDeviceNotification with fixed parameters; the
// function is variadic, its arguments depending on the notification type.
#define StreamClassDeviceNotification KorvalDdkStreamClassDeviceNotification
extern "C" {
#include <strmini.h>
#include <usbdi.h>
#include <usbdlib.h>
}
#undef StreamClassDeviceNotification
extern "C" VOID __cdecl StreamClassDeviceNotification(STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE NotificationType,
                                                      PVOID HwDeviceExtension, ...);

// basetyps.h makes "interface" a macro for "struct", which breaks any C++
// identifier of that name.
#undef interface
