// A file of the kernel's name space opened for synchronous access, as the
// driver's file readers and writers open theirs.
#pragma once

#include "platform/Platform.h"

// Opens Name (a kernel path such as \DosDevices\C:\x) as a plain file with
// the access, sharing and disposition given; FALSE when the system refuses.
BOOLEAN OpenKernelFile(PCWSTR Name, ACCESS_MASK Access, ULONG ShareAccess, ULONG Disposition, PHANDLE File);
