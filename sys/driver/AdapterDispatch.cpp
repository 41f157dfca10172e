// The adapter dispatcher and the routines the stream class calls back. Every
// adapter SRB is completed before the dispatcher returns.
#include "driver/AdapterHandlers.h"
#include "base/DeviceContext.h"
#include "driver/Driver.h"

namespace {

NTSTATUS DispatchAdapterCommand(PHW_STREAM_REQUEST_BLOCK Srb)
{
    switch (Srb->Command) {
    case SRB_GET_STREAM_INFO: return GetStreamInfo(Srb);
    case SRB_OPEN_STREAM: return OpenCaptureStream(Srb);
    case SRB_CLOSE_STREAM: return CloseCaptureStream(Srb);
    case SRB_GET_DEVICE_PROPERTY: return GetDeviceProperty(Srb);
    case SRB_SET_DEVICE_PROPERTY: return SetDeviceProperty(Srb);
    case SRB_INITIALIZE_DEVICE: return InitializeDevice(Srb);
    case SRB_CHANGE_POWER_STATE: return ChangePowerState(Srb);
    case SRB_UNINITIALIZE_DEVICE: return UninitializeDevice(Srb);
    case SRB_PAGING_OUT_DRIVER: return STATUS_SUCCESS;
    case SRB_GET_DATA_INTERSECTION: return GetDataIntersection(Srb);
    case SRB_INITIALIZATION_COMPLETE: return CompleteInitialization(Srb);
    case SRB_SURPRISE_REMOVAL: return SurpriseRemoval(Srb);
    default: return STATUS_NOT_IMPLEMENTED;
    }
}

} // namespace

VOID NTAPI AdapterReceivePacket(PHW_STREAM_REQUEST_BLOCK Srb)
{
    Srb->Status = DispatchAdapterCommand(Srb);
    StreamClassDeviceNotification(DeviceRequestComplete, Srb->HwDeviceExtension, Srb);
}

// Cancel and time-out handler: queued requests are completed only by the
// stream code (stop, close, or a frame that fills them).
VOID NTAPI AdapterIgnorePacket(PHW_STREAM_REQUEST_BLOCK Srb)
{
    (void)Srb;
}

NTSTATUS NTAPI AdapterDeviceEvent(PHW_EVENT_DESCRIPTOR EventDescriptor)
{
    auto* device = reinterpret_cast<DeviceContext*>(EventDescriptor->DeviceExtension);
    // The class may call this from two threads at once.
    if (EventDescriptor->Enable) {
        InterlockedIncrement(&device->EventEnableCount);
    } else {
        InterlockedDecrement(&device->EventEnableCount);
    }
    return STATUS_SUCCESS;
}

// Only signals and marks the device absent: transfers, the snapshot thread and
// the frame pipeline see the flag or the event and wind down themselves.
NTSTATUS SurpriseRemoval(PHW_STREAM_REQUEST_BLOCK Srb)
{
    if (Srb == nullptr || Srb->HwDeviceExtension == nullptr) {
        return STATUS_SUCCESS;
    }
    auto* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    KeSetEvent(&device->DeviceStopEvent, 0, FALSE);
    SetDevicePresent(device, FALSE);
    return STATUS_SUCCESS;
}
