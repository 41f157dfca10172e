// SRB_INITIALIZE_DEVICE: the device's objects and still buffers are created
// and its state set to powered, present and idle. Nothing touches the camera
// yet; that waits for initialization complete.
#include "control/SnapshotThread.h"
#include "control/StillImageFile.h"
#include "settings/StillStatus.h"
#include "driver/AdapterHandlers.h"
#include "driver/DeviceLifecycle.h"
#include "base/PoolAllocator.h"
#include "driver/StreamInformation.h"
#include "stream/StreamContext.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

namespace {

VOID RecordDeviceObjects(DeviceContext* Device, PPORT_CONFIGURATION_INFORMATION Config)
{
    Device->ClassDeviceObject = Config->ClassDeviceObject;
    Device->PhysicalDeviceObject = Config->PhysicalDeviceObject;
    Device->RealPhysicalDeviceObject = Config->RealPhysicalDeviceObject != nullptr
                                           ? Config->RealPhysicalDeviceObject
                                           : Config->PhysicalDeviceObject;
    Config->StreamDescriptorSize = CAPTURE_STREAM_DESCRIPTOR_SIZE;
}

// Stops at the first allocation that fails; the caller destroys what exists.
bool CreateDeviceObjects(DeviceContext* Device)
{
    Device->Usb = new CUsbCamera;
    if (Device->Usb == nullptr) {
        return false;
    }
    Device->Usb->SnapshotRoutine = SnapshotThread;
    Device->Camera = new CCameraRegisters;
    if (Device->Camera == nullptr) {
        return false;
    }
    Device->Stream = new StreamContext;
    if (Device->Stream == nullptr) {
        return false;
    }
    Device->StillImageBuffer = static_cast<PUCHAR>(KorvalAllocate(STILL_BUFFER_BYTES));
    if (Device->StillImageBuffer == nullptr) {
        return false;
    }
    Device->StillBgrBuffer = static_cast<PUCHAR>(KorvalAllocate(STILL_BUFFER_BYTES));
    return Device->StillBgrBuffer != nullptr;
}

} // namespace

VOID DestroyDeviceObjects(DeviceContext* Device)
{
    delete Device->Stream;
    Device->Stream = nullptr;
    delete Device->Camera;
    Device->Camera = nullptr;
    delete Device->Usb;
    Device->Usb = nullptr;
    KorvalFree(Device->StillImageBuffer);
    Device->StillImageBuffer = nullptr;
    KorvalFree(Device->StillBgrBuffer);
    Device->StillBgrBuffer = nullptr;
}

NTSTATUS InitializeDevice(PHW_STREAM_REQUEST_BLOCK Srb)
{
    auto* config = Srb->CommandData.ConfigInfo;
    if (config == nullptr || Srb->HwDeviceExtension == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    auto* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    if (device->Usb != nullptr || device->Camera != nullptr || device->Stream != nullptr) {
        // Already initialized and not uninitialized since: creating a second
        // set would orphan the first, with its running status channel.
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    RecordDeviceObjects(device, config);
    if (!CreateDeviceObjects(device)) {
        DestroyDeviceObjects(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    InitializeDeviceState(device);
    device->Stream->InitializeLocks();
    WriteStillStatus(0);
    return STATUS_SUCCESS;
}
