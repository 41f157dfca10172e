// The capture stream's two properties: the allocator framing it asks of the
// class, and its dropped-frame counters.
#include "stream/CaptureStream.h"

namespace {

constexpr ULONG CAPTURE_FRAMING_REQUIREMENTS = KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY |
                                               KSALLOCATOR_REQUIREMENTF_INPLACE_MODIFIER |
                                               KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY;

NTSTATUS GetAllocatorFraming(DeviceContext* Device, PSTREAM_PROPERTY_DESCRIPTOR Property,
                             PHW_STREAM_REQUEST_BLOCK Srb)
{
    if (Property->Property->Id != KSPROPERTY_CONNECTION_ALLOCATORFRAMING ||
        Property->PropertyOutputSize < sizeof(KSALLOCATOR_FRAMING)) {
        return STATUS_INVALID_PARAMETER;
    }
    auto* framing = static_cast<PKSALLOCATOR_FRAMING>(Property->PropertyInfo);
    framing->RequirementsFlags = CAPTURE_FRAMING_REQUIREMENTS;
    framing->PoolType = PagedPool;
    framing->Frames = 0;
    framing->FrameSize = Device->CaptureVideoInfo.bmiHeader.biSizeImage;
    framing->FileAlignment = 0;
    framing->Reserved = 0;
    Srb->ActualBytesTransferred = sizeof(KSALLOCATOR_FRAMING);
    return STATUS_SUCCESS;
}

NTSTATUS GetDroppedFrames(DeviceContext* Device, PSTREAM_PROPERTY_DESCRIPTOR Property,
                          PHW_STREAM_REQUEST_BLOCK Srb)
{
    if (Property->Property->Id != KSPROPERTY_DROPPEDFRAMES_CURRENT ||
        Property->PropertyOutputSize < sizeof(KSPROPERTY_DROPPEDFRAMES_CURRENT_S)) {
        return STATUS_INVALID_PARAMETER;
    }
    auto* dropped = static_cast<PKSPROPERTY_DROPPEDFRAMES_CURRENT_S>(Property->PropertyInfo);
    StreamContext* stream = Device->Stream;
    const KIRQL oldIrql = KfAcquireSpinLock(&stream->CounterLock);
    dropped->PictureNumber = static_cast<LONGLONG>(stream->PictureNumber);
    dropped->DropCount = static_cast<LONGLONG>(stream->DropCount);
    KfReleaseSpinLock(&stream->CounterLock, oldIrql);
    dropped->AverageFrameSize = Device->CaptureVideoInfo.bmiHeader.biSizeImage;
    Srb->ActualBytesTransferred = sizeof(KSPROPERTY_DROPPEDFRAMES_CURRENT_S);
    return STATUS_SUCCESS;
}

} // namespace

NTSTATUS GetCaptureStreamProperty(DeviceContext* Device, PHW_STREAM_REQUEST_BLOCK Srb)
{
    PSTREAM_PROPERTY_DESCRIPTOR property = Srb->CommandData.PropertyInfo;
    if (property == nullptr || property->Property == nullptr || property->PropertyInfo == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const GUID& set = property->Property->Set;
    if (IsEqualGUID(&set, &KSPROPSETID_Connection)) {
        return GetAllocatorFraming(Device, property, Srb);
    }
    if (IsEqualGUID(&set, &PROPSETID_VIDCAP_DROPPEDFRAMES)) {
        return GetDroppedFrames(Device, property, Srb);
    }
    return STATUS_NOT_IMPLEMENTED;
}
