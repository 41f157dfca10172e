// Where the configuration side meets the streaming side. Until the status and
// video transfers are started by the streaming operations, no transfer runs:
// there is nothing to stop, and no completion queues a resubmission DPC.
#include "usb/CUsbCamera.h"

VOID CUsbCamera::StopTransfersIfRunning()
{
    if (ReadLockedFlag(&StatusStarted)) {
        // The status channel stops here once it can be started.
    }
    if (ReadLockedFlag(&VideoStarted)) {
        // The video transfers stop here once they can be started.
    }
}

VOID NTAPI CUsbCamera::StatusDpc(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2)
{
    (void)Dpc;
    (void)DeferredContext;
    (void)SystemArgument1;
    (void)SystemArgument2;
}

VOID NTAPI CUsbCamera::VideoDpc(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2)
{
    (void)Dpc;
    (void)DeferredContext;
    (void)SystemArgument1;
    (void)SystemArgument2;
}
