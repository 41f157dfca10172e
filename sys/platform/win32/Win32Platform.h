// The platform on Windows: the DDK's own declarations, plus the few names and
// shapes the driver relies on that the mingw-w64 DDK lacks or declares
// differently. Every sys/platform/ header resolves to this file under KORVAL_WIN32.
#pragma once

#include "platform/win32/DdkHeaders.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Wide literals: wchar_t is the 16-bit WCHAR on Windows.
#define KTEXT(text) L##text

// The classes the driver exports to other kernel modules (CImageProcess, CAe).
#define KORVAL_EXPORT __declspec(dllexport)

// The C++ DDK's IsEqualGUID takes references; the driver compares through pointers.
#undef IsEqualGUID
#define IsEqualGUID(a, b) (*(a) == *(b))

// The kernel's exported C run-time generator, which wdm.h does not declare.
extern "C" int __cdecl rand(void);

#include "platform/win32/Win32Guids.h"
#include "platform/win32/Win32Additions.h"
