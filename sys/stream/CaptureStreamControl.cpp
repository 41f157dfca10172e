// The capture stream's control entry point: state, stream properties, the
// master clock and format proposals, one request at a time through the
// control queue.
#include "stream/StreamFormats.h"
#include "stream/CaptureStream.h"
#include "stream/SrbQueue.h"

#include <cstring>

namespace {

NTSTATUS IndicateMasterClock(DeviceContext* Device, PHW_STREAM_REQUEST_BLOCK Srb)
{
    Device->Stream->MasterClock = Srb->CommandData.MasterClockHandle;
    return STATUS_SUCCESS;
}

NTSTATUS ProposeDataFormat(PHW_STREAM_REQUEST_BLOCK Srb)
{
    const KSDATAFORMAT* format = Srb->CommandData.OpenFormat;
    return format != nullptr && IsOfferedCaptureFormat(format) ? STATUS_SUCCESS : STATUS_NO_MATCH;
}

// Read as a number: the client may send a value outside the enumeration.
ULONG RequestedState(PHW_STREAM_REQUEST_BLOCK Srb)
{
    ULONG value;
    memcpy(&value, &Srb->CommandData.StreamState, sizeof(value));
    return value;
}

NTSTATUS DispatchControl(DeviceContext* Device, PHW_STREAM_REQUEST_BLOCK Srb)
{
    switch (Srb->Command) {
    case SRB_GET_STREAM_STATE: return GetCaptureState(Device, Srb);
    case SRB_SET_STREAM_STATE: return SetCaptureState(Device, RequestedState(Srb));
    case SRB_GET_STREAM_PROPERTY: return GetCaptureStreamProperty(Device, Srb);
    case SRB_INDICATE_MASTER_CLOCK: return IndicateMasterClock(Device, Srb);
    case SRB_PROPOSE_DATA_FORMAT: return ProposeDataFormat(Srb);
    case SRB_SET_STREAM_PROPERTY:
    case SRB_OPEN_MASTER_CLOCK:
    case SRB_UNKNOWN_STREAM_COMMAND:
    case SRB_SET_STREAM_RATE:
    case SRB_CLOSE_MASTER_CLOCK:
    case SRB_PROPOSE_STREAM_RATE:
    case SRB_GET_DATA_FORMAT: return STATUS_NOT_IMPLEMENTED;
    default: return STATUS_NOT_SUPPORTED;
    }
}

VOID HandleControlSrb(PHW_STREAM_REQUEST_BLOCK Srb, PVOID Context)
{
    Srb->Status = DispatchControl(static_cast<DeviceContext*>(Context), Srb);
}

} // namespace

VOID STREAMAPI CaptureReceiveControlPacket(PHW_STREAM_REQUEST_BLOCK Srb)
{
    auto* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    tagSrbQueueFields* queue = &device->ControlQueue;
    if (!queue->bInitialized) {
        SrbQueueInitialize(queue);
    }
    SrbQueueSubmitAndDrain(queue, Srb, HandleControlSrb, CompleteStreamSrb, device);
}
