// PROPSETID_VIDCAP_CAMERACONTROL: exposure only. Its flags switch auto
// exposure on (1) or to manual (2). With auto exposure the value is the
// brightness target; manual, it is the exposure time in milliseconds.
#include "control/PropertyRequest.h"
#include "stream/CapturePipeline.h"

namespace {

constexpr ULONG EXPOSURE_FLAGS_SETTING = 95;
constexpr ULONG EXPOSURE_VALUE_SETTING = 97;
constexpr ULONG EXPOSURE_CAPABILITIES = KSPROPERTY_CAMERACONTROL_FLAGS_AUTO | KSPROPERTY_CAMERACONTROL_FLAGS_MANUAL;

NTSTATUS CheckExposureRequest(tagPropertyRequest* Request)
{
    if (Request->pProperty->Id != KSPROPERTY_CAMERACONTROL_EXPOSURE) {
        return STATUS_NOT_SUPPORTED;
    }
    return CheckPropertyData(Request, CAMERACONTROL_PROPERTY_BYTES);
}

VOID ApplyExposure(DeviceContext* Device, tagAeParameters* Parameters)
{
    Parameters->ucTargetLuma = AeTargetLuma(Device);
    Parameters->ucEnable = Device->CurExposureFlags == KSPROPERTY_CAMERACONTROL_FLAGS_AUTO ? 1 : 0;
    Parameters->ucManualExposure = Device->CurExposureFlags == KSPROPERTY_CAMERACONTROL_FLAGS_MANUAL ? 1 : 0;
}

} // namespace

NTSTATUS GetCameraControlProperty(tagPropertyRequest* Request)
{
    NTSTATUS status = CheckExposureRequest(Request);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    DeviceContext* device = Request->pDevice;
    ULONG value = device->CurExposure;
    ULONG flags = device->CurExposureFlags;
    if (!Request->bCaptureOpen) {
        status = ReadUserSetting(device, EXPOSURE_FLAGS_SETTING, &flags);
        if (NT_SUCCESS(status)) {
            status = ReadUserSetting(device, EXPOSURE_VALUE_SETTING, &value);
        }
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    auto* answer = static_cast<KSPROPERTY_CAMERACONTROL_S*>(Request->pData);
    answer->Value = static_cast<LONG>(value);
    answer->Flags = flags;
    answer->Capabilities = EXPOSURE_CAPABILITIES;
    Request->ulBytesReturned = CAMERACONTROL_PROPERTY_BYTES;
    return STATUS_SUCCESS;
}

NTSTATUS SetCameraControlProperty(tagPropertyRequest* Request)
{
    NTSTATUS status = CheckExposureRequest(Request);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    DeviceContext* device = Request->pDevice;
    const auto& request = *static_cast<const KSPROPERTY_CAMERACONTROL_S*>(Request->pData);
    if (Request->bCaptureOpen) {
        device->CurExposure = static_cast<ULONG>(request.Value);
        device->CurExposureFlags = request.Flags;
        ChangeAeParameters(device, ApplyExposure);
    } else {
        WriteUserSetting(device, EXPOSURE_FLAGS_SETTING, request.Flags);
        WriteUserSetting(device, EXPOSURE_VALUE_SETTING, static_cast<ULONG>(request.Value));
    }
    return STATUS_SUCCESS;
}
