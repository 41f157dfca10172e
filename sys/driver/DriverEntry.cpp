// Driver entry: probes the WDM level, chooses the pixel path by the processor's
// features and registers the adapter. Nothing else: no registry reading, no
// allocation.
#include "driver/Driver.h"

#include "base/DeviceContext.h"
#include "platform/CpuFeatures.h"
#include "stream/SrbQueue.h"

#include <cstring>

namespace {

ULONG ProbeWdmLevel()
{
    static const UCHAR MinorVersions[] = {0x20, 0x10, 0x05, 0x00};
    ULONG level = 4;
    for (UCHAR minor : MinorVersions) {
        if (IoIsWdmVersionAvailable(1, minor)) {
            return level;
        }
        --level;
    }
    return 0;
}

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    WdmLevel = ProbeWdmLevel();
    const CPU_FEATURES features = CpuDetectedFeatures();
    DbgPrint("korval: pixel path %s (processor: SSE2 %u, SSSE3 %u, AVX2 with YMM state %u, AVX-512 VBMI with ZMM "
             "state %u)\n",
             CpuPathName(CpuFeaturesInitialize()), features.Sse2, features.Ssse3, features.Avx2, features.Avx512Vbmi);

    HW_INITIALIZATION_DATA registration;
    std::memset(&registration, 0, sizeof(registration));
    registration.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA);
    registration.HwInterrupt = nullptr;
    registration.HwReceivePacket = AdapterReceivePacket;
    registration.HwCancelPacket = AdapterIgnorePacket;
    registration.HwRequestTimeoutHandler = AdapterIgnorePacket;
    registration.DeviceExtensionSize = sizeof(DeviceContext);
    registration.PerRequestExtensionSize = sizeof(tagSrbLink);
    registration.PerStreamExtensionSize = 1; // stream state lives in DeviceContext
    registration.FilterInstanceExtensionSize = 0;
    registration.BusMasterDMA = FALSE;
    registration.Dma24BitAddresses = FALSE;
    registration.BufferAlignment = 3;
    registration.TurnOffSynchronization = TRUE;
    registration.DmaBufferSize = 0;
    registration.NumNameExtensions = 0;
    registration.NameExtensionArray = nullptr;
    return StreamClassRegisterAdapter(DriverObject, RegistryPath, &registration);
}
