// One table of everything a driver image may import. Routines keep the calling
// convention of their platform declaration; the C run-time routines go through
// wrappers that realign the stack the image hands over.
#include "host/loader/platform_exports.h"
#include "host/loader/image_entries.h"

#include "platform/KernelFloatingPoint.h"
#include "platform/Platform.h"

#include <cctype>
#include <cstring>

namespace korval::host {
namespace {

template <typename Routine>
void* entry(Routine* routine)
{
    return reinterpret_cast<void*>(routine);
}

#define NTOSKRNL(name) {"ntoskrnl.exe", #name, entry(&name)}
#define HAL(name) {"HAL.dll", #name, entry(&name)}
#define STREAM(name) {"stream.sys", #name, entry(&name)}

const PlatformExport EXPORTS[] = {
    HAL(KeGetCurrentIrql),
    HAL(KfAcquireSpinLock),
    HAL(KfReleaseSpinLock),
    HAL(KfRaiseIrql),
    HAL(KfLowerIrql),
    // usbd.sys's import library names its stdcall routines with their decoration.
    {"USBD.SYS", "_USBD_CreateConfigurationRequestEx@8", entry(&USBD_CreateConfigurationRequestEx)},
    {"USBD.SYS", "_USBD_ParseConfigurationDescriptorEx@28", entry(&USBD_ParseConfigurationDescriptorEx)},
    {"USBD.SYS", "_USBD_ParseDescriptors@16", entry(&USBD_ParseDescriptors)},
    NTOSKRNL(DbgPrint),
    NTOSKRNL(ExAllocatePoolWithTag),
    NTOSKRNL(ExFreePool),
    NTOSKRNL(ExFreePoolWithTag),
    NTOSKRNL(IoAllocateIrp),
    NTOSKRNL(IoCancelIrp),
    NTOSKRNL(IoFreeIrp),
    NTOSKRNL(IoInitializeIrp),
    NTOSKRNL(IoReuseIrp),
    NTOSKRNL(IoIsWdmVersionAvailable),
    NTOSKRNL(IoOpenDeviceRegistryKey),
    NTOSKRNL(IoRegisterDeviceInterface),
    NTOSKRNL(IoSetDeviceInterfaceState),
    NTOSKRNL(IofCallDriver),
    NTOSKRNL(IofCompleteRequest),
    NTOSKRNL(KeClearEvent),
    NTOSKRNL(KeFlushQueuedDpcs),
    NTOSKRNL(KeGetCurrentThread),
    NTOSKRNL(KeInitializeDpc),
    NTOSKRNL(KeInitializeEvent),
    NTOSKRNL(KeInitializeSemaphore),
    NTOSKRNL(KeInsertQueueDpc),
    {"ntoskrnl.exe", "KeNumberProcessors", &KeNumberProcessors},
    NTOSKRNL(KeReleaseSemaphore),
    NTOSKRNL(KeRemoveQueueDpc),
    NTOSKRNL(KeRestoreFloatingPointState),
    NTOSKRNL(KeSaveFloatingPointState),
    NTOSKRNL(KeSetEvent),
    NTOSKRNL(KeSetTargetProcessorDpc),
    NTOSKRNL(KeWaitForMultipleObjects),
    NTOSKRNL(KeWaitForSingleObject),
    NTOSKRNL(KefAcquireSpinLockAtDpcLevel),
    NTOSKRNL(KefReleaseSpinLockFromDpcLevel),
    NTOSKRNL(MmGetSystemRoutineAddress),
    NTOSKRNL(ObReferenceObjectByHandle),
    NTOSKRNL(ObfDereferenceObject),
    NTOSKRNL(ObfReferenceObject),
    NTOSKRNL(PsCreateSystemThread),
    NTOSKRNL(PsTerminateSystemThread),
    {"ntoskrnl.exe", "PsThreadType", &PsThreadType},
    NTOSKRNL(RtlFreeUnicodeString),
    NTOSKRNL(RtlInitUnicodeString),
    NTOSKRNL(RtlQueryRegistryValues),
    NTOSKRNL(RtlUpcaseUnicodeChar),
    NTOSKRNL(RtlWriteRegistryValue),
    NTOSKRNL(ZwClose),
    NTOSKRNL(ZwCreateFile),
    NTOSKRNL(ZwQueryInformationFile),
    NTOSKRNL(ZwReadFile),
    NTOSKRNL(ZwSetValueKey),
    NTOSKRNL(ZwWriteFile),
    {"ntoskrnl.exe", "memcpy", entry(&imageMemcpy)},
    {"ntoskrnl.exe", "memmove", entry(&imageMemmove)},
    {"ntoskrnl.exe", "memset", entry(&imageMemset)},
    {"ntoskrnl.exe", "rand", entry(&imageRand)},
    STREAM(StreamClassDeviceNotification),
    STREAM(StreamClassQueryMasterClockSync),
    STREAM(StreamClassRegisterAdapter),
    STREAM(StreamClassStreamNotification),
};

#undef NTOSKRNL
#undef HAL
#undef STREAM

bool sameModule(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

std::span<const PlatformExport> platformExports()
{
    return EXPORTS;
}

const PlatformExport* findPlatformExport(std::string_view module, std::string_view name)
{
    for (const PlatformExport& found : EXPORTS) {
        if (sameModule(found.module, module) && name == found.name) {
            return &found;
        }
    }
    return nullptr;
}

} // namespace korval::host
