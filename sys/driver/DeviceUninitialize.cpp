// SRB_UNINITIALIZE_DEVICE: winds the device down (status channel and snapshot
// thread, capture pipeline, camera registers, USB configuration) and frees
// everything device initialization created. Fields already null are skipped,
// so a second uninitialize frees nothing.
#include "driver/AdapterHandlers.h"
#include "driver/DeviceLifecycle.h"
#include "stream/StreamContext.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

namespace {

VOID WindDownObjects(DeviceContext* Device)
{
    if (Device->Usb != nullptr) {
        CTransportHold hold(Device->Usb);
        if (ReadLockedFlag(&Device->Usb->StatusStarted)) {
            Device->Usb->StopStatus();
        }
    }
    if (Device->Stream != nullptr) {
        Device->Stream->PipelineClose(Device);
        SetCaptureOpen(Device, FALSE);
    }
    if (Device->Camera != nullptr) {
        Device->Camera->Unbind();
    }
    if (Device->Usb != nullptr) {
        Device->Usb->Close();
    }
}

VOID RemoveStillImageInterface(DeviceContext* Device)
{
    if (Device->InterfaceName.Buffer == nullptr) {
        return;
    }
    IoSetDeviceInterfaceState(&Device->InterfaceName, FALSE);
    RtlFreeUnicodeString(&Device->InterfaceName);
    Device->InterfaceName.Buffer = nullptr;
}

} // namespace

NTSTATUS UninitializeDevice(PHW_STREAM_REQUEST_BLOCK Srb)
{
    if (Srb == nullptr || Srb->HwDeviceExtension == nullptr) {
        return STATUS_SUCCESS;
    }
    auto* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    KeSetEvent(&device->DeviceStopEvent, 0, FALSE);
    WindDownObjects(device);
    DestroyDeviceObjects(device);
    SetDevicePresent(device, FALSE);
    RemoveStillImageInterface(device);
    return STATUS_SUCCESS;
}
