// The kernel's WDM level, probed once by DriverEntry: 4 = WDM 1.20, 3 = 1.10,
// 2 = 1.05, 1 = 1.0, 0 = none. The file helpers choose the kernel's file calls
// or the older ring-0 file services by it.
#pragma once

#include "platform/Platform.h"

extern ULONG WdmLevel;
