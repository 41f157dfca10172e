// The SRB_GET_DEVICE_PROPERTY and SRB_SET_DEVICE_PROPERTY handlers: check the
// request, find its set by GUID and hand it to that set's handler. Each request
// runs whole under the device's parameter gate, so it sees the stream either
// open or closed throughout and never overlaps a frame's processing.
#include "base/ParameterGate.h"
#include "control/PropertyRequest.h"
#include "control/DeviceProperties.h"
#include "control/DevicePropertySets.h"

namespace {

typedef NTSTATUS (*PPROPERTY_HANDLER)(tagPropertyRequest* Request);

struct tagPropertySetHandlers {
    const GUID* pGuid;
    PPROPERTY_HANDLER pGet;
    PPROPERTY_HANDLER pSet;
};

const tagPropertySetHandlers PropertySetHandlers[] = {
    {&PROPSETID_VIDCAP_VIDEOPROCAMP, GetProcAmpProperty, SetProcAmpProperty},
    {&PROPSETID_VIDCAP_VIDEOCONTROL, GetVideoControlProperty, SetVideoControlProperty},
    {&PROPSETID_VIDCAP_CAMERACONTROL, GetCameraControlProperty, SetCameraControlProperty},
    {&PROPSETID_KORVAL_CAMERA, GetPrivateProperty, SetPrivateProperty},
};

// The request as the class hands it over; anything it cannot be read from
// is refused before a handler sees it.
BOOLEAN DecodeRequest(PHW_STREAM_REQUEST_BLOCK Srb, tagPropertyRequest* Request)
{
    if (Srb == nullptr || Srb->HwDeviceExtension == nullptr) {
        return FALSE;
    }
    PSTREAM_PROPERTY_DESCRIPTOR descriptor = Srb->CommandData.PropertyInfo;
    if (descriptor == nullptr || descriptor->Property == nullptr ||
        descriptor->PropertyInputSize < sizeof(KSPROPERTY) ||
        (descriptor->PropertyInfo == nullptr && descriptor->PropertyOutputSize != 0)) {
        return FALSE;
    }
    Request->pDevice = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    Request->pProperty = descriptor->Property;
    Request->ulInputSize = descriptor->PropertyInputSize;
    Request->pData = descriptor->PropertyInfo;
    Request->ulDataSize = descriptor->PropertyOutputSize;
    Request->ulBytesReturned = 0;
    Request->bCaptureOpen = FALSE;
    return TRUE;
}

PPROPERTY_HANDLER FindHandler(const GUID& Set, BOOLEAN IsSet)
{
    for (const tagPropertySetHandlers& handlers : PropertySetHandlers) {
        if (*handlers.pGuid == Set) {
            return IsSet ? handlers.pSet : handlers.pGet;
        }
    }
    return nullptr;
}

NTSTATUS HandleDeviceProperty(PHW_STREAM_REQUEST_BLOCK Srb, BOOLEAN IsSet)
{
    tagPropertyRequest request;
    if (!DecodeRequest(Srb, &request)) {
        return STATUS_INVALID_PARAMETER;
    }
    Srb->ActualBytesTransferred = 0;
    PPROPERTY_HANDLER handler = FindHandler(request.pProperty->Set, IsSet);
    if (handler == nullptr) {
        return STATUS_NOT_SUPPORTED;
    }
    if (IsSet && !PropertyValueAccepted(&request)) {
        return STATUS_INVALID_PARAMETER;
    }
    AcquireParameterGate(request.pDevice);
    request.bCaptureOpen = GetCaptureOpen(request.pDevice);
    NTSTATUS status = handler(&request);
    ReleaseParameterGate(request.pDevice);
    Srb->ActualBytesTransferred = request.ulBytesReturned;
    return status;
}

} // namespace

NTSTATUS CheckPropertyData(tagPropertyRequest* Request, ULONG Required)
{
    if (Request->ulDataSize == 0) {
        Request->ulBytesReturned = Required;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (Request->ulDataSize < Required) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    return STATUS_SUCCESS;
}

NTSTATUS GetDeviceProperty(PHW_STREAM_REQUEST_BLOCK Srb)
{
    return HandleDeviceProperty(Srb, FALSE);
}

NTSTATUS SetDeviceProperty(PHW_STREAM_REQUEST_BLOCK Srb)
{
    return HandleDeviceProperty(Srb, TRUE);
}
