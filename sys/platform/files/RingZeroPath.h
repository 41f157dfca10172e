// The checked translation of a ring-0 file name ("C:\StiImg.dat") into the
// kernel's name for it ("\DosDevices\C:\StiImg.dat"), shared by the Windows
// ring-0 file calls and their tests.
#pragma once

#include "platform/NtTypes.h"

// Room for the kernel name of any path the ring-0 calls accept, terminator included.
constexpr ULONG R0_KERNEL_PATH_CHARS = 260 + 12;

// Writes the terminated kernel name of FileName into Path (Capacity characters).
// Only absolute paths on a drive are taken, "X:\folder\name", with no empty,
// "." or ".." component, no trailing separator, and only printable ASCII other
// than <>:"/|?*, so no name reaches a device, another namespace or a parent.
BOOLEAN RingZeroKernelPath(PCSTR FileName, PWCHAR Path, ULONG Capacity);
