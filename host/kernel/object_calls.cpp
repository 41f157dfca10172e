// Kernel entry points for system threads, object references, handles and DPCs.
#include "host/kernel/bug_check.h"
#include "host/kernel/irql.h"
#include "host/kernel/kernel_internal.h"
#include "host/kernel/platform_state.h"

using namespace korval::host;

namespace {
thread_local KTHREAD foreignThread{}; // what PsGetCurrentThread answers on threads the platform did not start
}

extern "C" NTSTATUS NTAPI PsCreateSystemThread(PHANDLE ThreadHandle, ULONG, POBJECT_ATTRIBUTES, HANDLE,
                                               PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine,
                                               PVOID StartContext)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "PsCreateSystemThread");
    if (ThreadHandle == nullptr || StartRoutine == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (auto failure = takeInjectedFailure("PsCreateSystemThread")) {
        return *failure;
    }
    return Platform::current().state().threads.create(ThreadHandle, ClientId, StartRoutine, StartContext);
}

extern "C" NTSTATUS NTAPI PsTerminateSystemThread(NTSTATUS ExitStatus)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "PsTerminateSystemThread");
    terminateCurrentThread(ExitStatus);
}

extern "C" PETHREAD NTAPI PsGetCurrentThread(void)
{
    PKTHREAD thread = currentThreadObject();
    return thread != nullptr ? thread : &foreignThread;
}

extern "C" PKTHREAD NTAPI KeGetCurrentThread(void)
{
    return PsGetCurrentThread();
}

extern "C" NTSTATUS NTAPI ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK, POBJECT_TYPE ObjectType,
                                                    KPROCESSOR_MODE, PVOID* Object,
                                                    POBJECT_HANDLE_INFORMATION HandleInformation)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "ObReferenceObjectByHandle");
    if (Object == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *Object = nullptr;
    if (!Platform::current().state().handles.find(Handle)) {
        return STATUS_INVALID_HANDLE;
    }
    PKTHREAD thread = threadObjectOfHandle(Handle);
    if (thread == nullptr || (ObjectType != nullptr && ObjectType != *PsThreadType)) {
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    if (!referenceKernelObject(thread)) {
        return STATUS_INVALID_HANDLE;
    }
    if (HandleInformation != nullptr) {
        HandleInformation->HandleAttributes = 0;
        HandleInformation->GrantedAccess = THREAD_ALL_ACCESS;
    }
    *Object = thread;
    return STATUS_SUCCESS;
}

extern "C" LONG_PTR FASTCALL ObfReferenceObject(PVOID Object)
{
    if (!referenceKernelObject(Object)) {
        bugCheck("referencing something that is not a live kernel object");
    }
    return 1;
}

extern "C" LONG_PTR FASTCALL ObfDereferenceObject(PVOID Object)
{
    LONG_PTR remaining = 0;
    if (!dereferenceKernelObject(Object, &remaining)) {
        bugCheck("dereferencing an object with no references left, or not a kernel object");
    }
    return remaining;
}

extern "C" NTSTATUS NTAPI ZwClose(HANDLE Handle)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "ZwClose");
    if (!Platform::current().state().handles.remove(Handle)) {
        bugCheck("INVALID_KERNEL_HANDLE: closing a handle that is not open");
    }
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext)
{
    Dpc->Type = 0x13; // DpcObject
    Dpc->Importance = MediumImportance;
    Dpc->Number = 0;
    Dpc->DpcListEntry.Flink = Dpc->DpcListEntry.Blink = nullptr;
    Dpc->DeferredRoutine = DeferredRoutine;
    Dpc->DeferredContext = DeferredContext;
    Dpc->SystemArgument1 = Dpc->SystemArgument2 = nullptr;
    Dpc->DpcData = nullptr;
}

extern "C" BOOLEAN NTAPI KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2)
{
    if (Dpc->DeferredRoutine == nullptr) {
        bugCheck("queueing a DPC that was not initialized");
    }
    return Platform::current().state().dpcs.insert(Dpc, SystemArgument1, SystemArgument2) ? TRUE : FALSE;
}

extern "C" BOOLEAN NTAPI KeRemoveQueueDpc(PRKDPC Dpc)
{
    return Platform::current().state().dpcs.remove(Dpc) ? TRUE : FALSE;
}

extern "C" {
CCHAR KeNumberProcessors = 1;
}

// Every DPC runs on the one emulated processor's queue; the target is kept as
// Windows keeps it, above the processor numbers.
extern "C" VOID NTAPI KeSetTargetProcessorDpc(PRKDPC Dpc, CCHAR Number)
{
    if (Number < 0 || Number >= KeNumberProcessors) {
        bugCheck("KeSetTargetProcessorDpc for a processor the machine does not have");
    }
    Dpc->Number = static_cast<USHORT>(32 + Number);
}

extern "C" VOID NTAPI KeFlushQueuedDpcs(void)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "KeFlushQueuedDpcs");
    Platform::current().state().dpcs.flush();
}

extern "C" BOOLEAN NTAPI IoIsWdmVersionAvailable(UCHAR MajorVersion, UCHAR MinorVersion)
{
    auto& state = Platform::current().state();
    std::lock_guard lock(state.mutex);
    if (MajorVersion != state.wdmMajor) {
        return MajorVersion < state.wdmMajor ? TRUE : FALSE;
    }
    return MinorVersion <= state.wdmMinor ? TRUE : FALSE;
}
