// PROPSETID_VIDCAP_VIDEOPROCAMP (brightness, contrast, hue, saturation,
// sharpness, gamma, colour enable, white balance, backlight compensation) and
// PROPSETID_VIDCAP_CAMERACONTROL (exposure): a value with flags (1 auto,
// 2 manual) and the capabilities. Open stream: the current values; closed:
// the user settings in the registry.
#include "control/ProcAmpLive.h"
#include "control/PropertyRequest.h"

#include <cstddef>

namespace {

// The two sets answer the same record.
static_assert(sizeof(KSPROPERTY_VIDEOPROCAMP_S) == sizeof(KSPROPERTY_CAMERACONTROL_S));
static_assert(offsetof(KSPROPERTY_VIDEOPROCAMP_S, Value) == offsetof(KSPROPERTY_CAMERACONTROL_S, Value));
static_assert(offsetof(KSPROPERTY_VIDEOPROCAMP_S, Flags) == offsetof(KSPROPERTY_CAMERACONTROL_S, Flags));
static_assert(offsetof(KSPROPERTY_VIDEOPROCAMP_S, Capabilities) ==
              offsetof(KSPROPERTY_CAMERACONTROL_S, Capabilities));

// Both directions: a known item and a whole record.
NTSTATUS FindFlaggedItem(tagPropertyRequest* Request, const tagPropertyEntry** Entry)
{
    *Entry = FindProperty(Request->pProperty->Set, Request->pProperty->Id);
    if (*Entry == nullptr) {
        return STATUS_NOT_SUPPORTED;
    }
    return CheckPropertyData(Request, PROCAMP_PROPERTY_BYTES);
}

NTSTATUS GetFlaggedProperty(tagPropertyRequest* Request)
{
    const tagPropertyEntry* entry = nullptr;
    NTSTATUS status = FindFlaggedItem(Request, &entry);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    DeviceContext* device = Request->pDevice;
    ULONG value = device->*entry->pValue;
    ULONG flags = device->*entry->pFlags;
    if (!Request->bCaptureOpen) {
        status = ReadStoredProperty(device, *entry, &value, &flags);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    auto* answer = static_cast<KSPROPERTY_VIDEOPROCAMP_S*>(Request->pData);
    answer->Value = static_cast<LONG>(value);
    answer->Flags = flags;
    answer->Capabilities = entry->ucCapabilities;
    Request->ulBytesReturned = PROCAMP_PROPERTY_BYTES;
    return STATUS_SUCCESS;
}

NTSTATUS SetFlaggedProperty(tagPropertyRequest* Request)
{
    const tagPropertyEntry* entry = nullptr;
    NTSTATUS status = FindFlaggedItem(Request, &entry);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const auto& request = *static_cast<const KSPROPERTY_VIDEOPROCAMP_S*>(Request->pData);
    const ULONG value = static_cast<ULONG>(request.Value);
    if (!Request->bCaptureOpen) {
        WriteStoredProperty(Request->pDevice, *entry, value, request.Flags);
    } else if (*entry->pSet == PROPSETID_VIDCAP_VIDEOPROCAMP) {
        SetProcAmpLive(Request->pDevice, *entry, value, request.Flags);
    } else {
        StoreAndMapProperty(Request->pDevice, *entry, value, request.Flags);
    }
    return STATUS_SUCCESS;
}

} // namespace

NTSTATUS GetProcAmpProperty(tagPropertyRequest* Request)
{
    return GetFlaggedProperty(Request);
}

NTSTATUS SetProcAmpProperty(tagPropertyRequest* Request)
{
    return SetFlaggedProperty(Request);
}

NTSTATUS GetCameraControlProperty(tagPropertyRequest* Request)
{
    return GetFlaggedProperty(Request);
}

NTSTATUS SetCameraControlProperty(tagPropertyRequest* Request)
{
    return SetFlaggedProperty(Request);
}
