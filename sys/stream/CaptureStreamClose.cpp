// SRB_CLOSE_STREAM: releases the processing chain, gives the bus its
// bandwidth back, puts the camera's indicator in its closed state and keeps
// the user's settings. The stream is released even when the device is gone,
// so that a later open is not refused; only the camera is left alone then.
#include "base/ParameterGate.h"
#include "settings/RegistrySettings.h"
#include "stream/CaptureStream.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

namespace {

// Alternate setting 0 and the indicator off, under the parameter gate (the
// register shadow) and the transport lock: a power change waits for the
// whole sequence instead of reprogramming the camera in its middle.
VOID ReturnToIdle(DeviceContext* Device)
{
    CUsbCamera* usb = Device->Usb;
    AcquireParameterGate(Device);
    usb->AcquireTransport();
    usb->StopStatus();
    if (!usb->SelectAlternateSetting(0)) {
        // Refused while powered down: the bandwidth is given back at power-up.
        usb->IdleAlternateOwed = TRUE;
    }
    usb->StartStatus();
    if (Device->Camera != nullptr) {
        Device->Camera->SetIndicatorClosed();
    }
    usb->ReleaseTransport();
    ReleaseParameterGate(Device);
}

} // namespace

NTSTATUS CloseCaptureStream(PHW_STREAM_REQUEST_BLOCK Srb)
{
    auto* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    if (device == nullptr || device->Stream == nullptr) {
        return STATUS_SUCCESS;
    }
    SetCaptureOpen(device, FALSE);
    // A client may close without stopping first: video must not run on into
    // the teardown and the change of alternate setting.
    WriteCaptureState(device->Stream, KSSTATE_STOP);
    CancelQueuedReads(device);
    StopCaptureVideo(device);
    device->Stream->PipelineClose(device);
    if (device->Usb != nullptr && GetDevicePresent(device)) {
        ReturnToIdle(device);
    }
    if (device->SettingsValid) {
        StoreSettings(device);
    }
    return STATUS_SUCCESS;
}
