// SRB_CHANGE_POWER_STATE: leaving D0 stops the status channel (and video, with
// the indicator off, while the capture stream is open); returning to D0
// starts them again and reprograms the camera, which lost its registers, so
// a running stream resumes without a new state request.
#include "base/ParameterGate.h"
#include "driver/AdapterHandlers.h"
#include "base/DeviceContext.h"
#include "stream/CaptureStream.h"
#include "stream/StreamContext.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

namespace {

// Both directions run under the parameter gate (kept apart from a read in
// progress, which edits the same register shadow) and the transport lock (kept
// apart from a stream open, close or state change starting or stopping the
// same transfers).
VOID PowerDown(DeviceContext* Device)
{
    KeSetEvent(&Device->DeviceStopEvent, 0, FALSE);
    Device->Usb->StopStatus();
    if (GetCaptureOpen(Device)) {
        Device->Usb->StopVideo();
        Device->Camera->SetIndicatorClosed();
    }
    SetDevicePowerState(Device, PowerDeviceD3);
}

bool CaptureRunning(const DeviceContext* Device)
{
    return Device->Stream != nullptr && ReadCaptureState(Device->Stream) == KSSTATE_RUN;
}

VOID PowerUp(DeviceContext* Device)
{
    // A device removed while powered down stays stopped: its stop event
    // keeps the snapshot thread and the pipeline winding down.
    if (!GetDevicePresent(Device)) {
        return;
    }
    KeClearEvent(&Device->DeviceStopEvent);
    if (Device->Usb->IdleAlternateOwed) {
        Device->Usb->SelectAlternateSetting(0);
    }
    Device->Usb->StartStatus();
    const BOOLEAN captureOpen = GetCaptureOpen(Device);
    // A camera that did not take its registers (lost at power-down) gets the
    // whole image again with the stream's next read.
    if (!Device->Camera->ProgramPowerUp(captureOpen) && captureOpen && Device->Stream != nullptr) {
        Device->Stream->RegistersOwed = TRUE;
    }
    if (captureOpen && CaptureRunning(Device)) {
        Device->Usb->StartVideo();
    }
}

NTSTATUS ChangePower(DeviceContext* Device, DEVICE_POWER_STATE Target)
{
    if (GetDevicePowerState(Device) == PowerDeviceD0) {
        // Already powered: a request for D0 changes nothing, rather than
        // stopping a working device and recording it as D3.
        if (Target != PowerDeviceD0) {
            PowerDown(Device);
        }
        return STATUS_SUCCESS;
    }
    // A refused target leaves the device down and recorded as such, so the
    // next request for D0 still powers it up.
    if (Target != PowerDeviceD0) {
        return STATUS_IO_DEVICE_ERROR;
    }
    SetDevicePowerState(Device, PowerDeviceD0);
    PowerUp(Device);
    return STATUS_SUCCESS;
}

} // namespace

NTSTATUS ChangePowerState(PHW_STREAM_REQUEST_BLOCK Srb)
{
    auto* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    if (device == nullptr || device->Usb == nullptr || device->Camera == nullptr) {
        return STATUS_IO_DEVICE_ERROR;
    }
    AcquireParameterGate(device);
    device->Usb->AcquireTransport();
    const NTSTATUS status = ChangePower(device, Srb->CommandData.DeviceState);
    device->Usb->ReleaseTransport();
    ReleaseParameterGate(device);
    return status;
}
