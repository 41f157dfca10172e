// The running stream's image-processing and auto-exposure parameters as the
// property handlers change them: read, changed, written back. The callers hold
// the parameter gate, so the objects are neither processing a frame nor being
// created or destroyed meanwhile.
#include "ae/CAe.h"
#include "runtime/FloatingPointState.h"
#include "control/PropertyRequest.h"
#include "stream/StreamContext.h"

namespace {

CImageProcess* StreamImageProcess(DeviceContext* Device)
{
    return Device->Stream != nullptr ? Device->Stream->ImageProcess : nullptr;
}

CAe* StreamAutoExposure(DeviceContext* Device)
{
    return Device->Stream != nullptr ? Device->Stream->AutoExposure : nullptr;
}

} // namespace

BOOLEAN ReadImageParameters(DeviceContext* Device, tagIpParameters* Parameters)
{
    CImageProcess* imageProcess = StreamImageProcess(Device);
    return imageProcess != nullptr && imageProcess->GetParameters(Parameters);
}

VOID WriteImageParameters(DeviceContext* Device, const tagIpParameters& Parameters)
{
    CImageProcess* imageProcess = StreamImageProcess(Device);
    CFloatingPointState floatingPoint; // the change may rebuild tables
    if (imageProcess != nullptr && floatingPoint.Saved()) {
        imageProcess->SetParameters(Parameters);
    }
}

BOOLEAN ReadAeParameters(DeviceContext* Device, tagAeParameters* Parameters)
{
    CAe* autoExposure = StreamAutoExposure(Device);
    return autoExposure != nullptr && autoExposure->GetParameters(Parameters);
}

VOID WriteAeParameters(DeviceContext* Device, const tagAeParameters& Parameters)
{
    CAe* autoExposure = StreamAutoExposure(Device);
    CFloatingPointState floatingPoint;
    if (autoExposure != nullptr && floatingPoint.Saved()) {
        autoExposure->SetParameters(Parameters);
    }
}

VOID ChangeImageParameters(DeviceContext* Device, PIMAGE_MAPPING Change)
{
    tagIpParameters parameters;
    if (ReadImageParameters(Device, &parameters)) {
        Change(Device, &parameters);
        WriteImageParameters(Device, parameters);
    }
}

VOID ChangeAeParameters(DeviceContext* Device, PAE_MAPPING Change)
{
    tagAeParameters parameters;
    if (ReadAeParameters(Device, &parameters)) {
        Change(Device, &parameters);
        WriteAeParameters(Device, parameters);
    }
}

VOID StoreAndMapProperty(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value, ULONG Flags)
{
    Device->*Entry.pValue = Value;
    if (Entry.pFlags != nullptr) {
        Device->*Entry.pFlags = Flags;
    }
    if (Entry.pManual != nullptr) {
        Device->*Entry.pManual = Value;
    }
    if (Entry.pImageMapping != nullptr) {
        ChangeImageParameters(Device, Entry.pImageMapping);
    }
    if (Entry.pAeMapping != nullptr) {
        ChangeAeParameters(Device, Entry.pAeMapping);
    }
}
