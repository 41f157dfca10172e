// The driver's front door: the entry point and the adapter dispatcher the
// stream class calls.
#pragma once

#include "base/WdmLevel.h"
#include "platform/Platform.h"
#include "usb/SyncRequest.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

// Stream class entry points (PASSIVE_LEVEL, unserialized: TurnOffSynchronization).
VOID NTAPI AdapterReceivePacket(PHW_STREAM_REQUEST_BLOCK Srb);
VOID NTAPI AdapterIgnorePacket(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS NTAPI AdapterDeviceEvent(PHW_EVENT_DESCRIPTOR EventDescriptor);
