#include "usb/SyncRequest.h"

NTSTATUS NTAPI SyncRequestComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context)
{
    (void)DeviceObject;
    (void)Irp;
    KeSetEvent(static_cast<PKEVENT>(Context), 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}
