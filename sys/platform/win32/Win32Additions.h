// Names the driver uses that this DDK lacks, and the ring-0 file services of
// the oldest WDM platforms, provided on Windows NT by sys/platform/win32.
#pragma once

#ifndef RTL_QUERY_REGISTRY_TYPECHECK
#define RTL_QUERY_REGISTRY_TYPECHECK 0x00000100
#define RTL_QUERY_REGISTRY_TYPECHECK_SHIFT 24
#endif

#include "platform/RingZeroFiles.h"

// Routines newer than the WDM levels the driver claims: calls go through
// platform/win32/LateKernelRoutines.cpp, which finds them at run time.
extern "C" VOID NTAPI KorvalIoReuseIrp(PIRP Irp, NTSTATUS Status);
extern "C" VOID NTAPI KorvalKeFlushQueuedDpcs(void);
#define IoReuseIrp KorvalIoReuseIrp
#define KeFlushQueuedDpcs KorvalKeFlushQueuedDpcs
