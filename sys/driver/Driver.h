// The driver's front door: entry point, adapter dispatcher and the small
// routines that the stream class and the USB requests call back.
#pragma once

#include "platform/Platform.h"

// WDM level probed once by DriverEntry: 4 = WDM 1.20, 3 = 1.10, 2 = 1.05,
// 1 = 1.0, 0 = none. The file helpers choose the kernel's file calls or the
// older ring-0 file services by it.
extern ULONG WdmLevel;

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

// Stream class entry points (PASSIVE_LEVEL, unserialized: TurnOffSynchronization).
VOID NTAPI AdapterReceivePacket(PHW_STREAM_REQUEST_BLOCK Srb);
VOID NTAPI AdapterIgnorePacket(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS NTAPI AdapterDeviceEvent(PHW_EVENT_DESCRIPTOR EventDescriptor);

// Completion routine of the synchronous USB requests (any IRQL up to
// DISPATCH_LEVEL): signals the event in Context and keeps the IRP.
NTSTATUS NTAPI SyncRequestComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
