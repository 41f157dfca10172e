// Reads an overlay bitmap file whole. From WDM 1.05 on (WdmLevel 2 and up)
// through the kernel's file calls, below that through the ring-0 file
// services; either way a folder given as "C:\..." or "\DosDevices\C:\..."
// names the same file.
#pragma once

#include "platform/Platform.h"

// Opens Name for reading, sizes it and reads it into Buffer. FALSE when the
// file is missing, empty, larger than Capacity or cannot be read; *Bytes is
// then 0. The file is closed on every path.
BOOLEAN ReadOverlayFile(PCWSTR Name, PUCHAR Buffer, ULONG Capacity, PULONG Bytes);
