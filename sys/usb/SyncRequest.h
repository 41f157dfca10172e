// Completion routine of the synchronous USB requests (any IRQL up to
// DISPATCH_LEVEL): signals the event in Context and keeps the IRP.
#pragma once

#include "platform/Platform.h"

NTSTATUS NTAPI SyncRequestComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
