// SRB_INITIALIZATION_COMPLETE: the camera is configured at alternate setting
// 0 and put in its idle state, the status channel and snapshot thread start,
// the driver key names the device for the still-image service, and the
// still-image device interface is registered and enabled.
#include "driver/AdapterHandlers.h"
#include "base/DeviceContext.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

namespace {

constexpr ULONG RAW_WIDTH = 352;
constexpr ULONG RAW_HEIGHT = 288;
constexpr ULONG RAW_BITS_PER_SAMPLE = 8;
constexpr LONGLONG FRAME_TIMEOUT = 5000000; // 0.5 s

const WCHAR CREATE_FILE_NAME_VALUE[] = KTEXT("CreateFileName");
WCHAR CREATE_FILE_NAME_DATA[] = KTEXT("USB 1.1");
// The seven characters and their terminator: a REG_SZ without one is read
// past its end by a reader that trusts the string to end.
constexpr ULONG CREATE_FILE_NAME_BYTES = sizeof(CREATE_FILE_NAME_DATA);
static_assert(CREATE_FILE_NAME_BYTES == 8 * sizeof(WCHAR));

bool ConfigureCamera(DeviceContext* Device)
{
    return Device->Usb->Open(RAW_WIDTH, RAW_HEIGHT, RAW_BITS_PER_SAMPLE, FRAME_TIMEOUT, Device) &&
           Device->Camera->Bind(Device);
}

NTSTATUS WriteCreateFileName(DeviceContext* Device)
{
    HANDLE key = nullptr;
    const NTSTATUS opened =
        IoOpenDeviceRegistryKey(Device->RealPhysicalDeviceObject, PLUGPLAY_REGKEY_DRIVER, KEY_WRITE, &key);
    if (!NT_SUCCESS(opened)) {
        return opened;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, CREATE_FILE_NAME_VALUE);
    ZwSetValueKey(key, &name, 0, REG_SZ, CREATE_FILE_NAME_DATA, CREATE_FILE_NAME_BYTES);
    ZwClose(key);
    return STATUS_SUCCESS;
}

// The still-image interface serves only the still-image service: when it
// cannot be registered or enabled the camera still captures video, so the
// device keeps running without it.
VOID RegisterStillImageInterface(DeviceContext* Device)
{
    GUID imageClass = GUID_DEVINTERFACE_IMAGE;
    if (!NT_SUCCESS(IoRegisterDeviceInterface(Device->RealPhysicalDeviceObject, &imageClass, nullptr,
                                              &Device->InterfaceName))) {
        Device->InterfaceName.Buffer = nullptr;
        return;
    }
    if (!NT_SUCCESS(IoSetDeviceInterfaceState(&Device->InterfaceName, TRUE))) {
        RtlFreeUnicodeString(&Device->InterfaceName);
        Device->InterfaceName.Buffer = nullptr;
    }
}

// The status channel is stopped only when it started: an Open refused before
// it stored the device context leaves nothing for StopStatus to wait on.
NTSTATUS FailStart(DeviceContext* Device, NTSTATUS Status)
{
    {
        CTransportHold hold(Device->Usb);
        if (ReadLockedFlag(&Device->Usb->StatusStarted)) {
            Device->Usb->StopStatus();
        }
    }
    Device->Camera->Unbind();
    Device->Usb->Close();
    return Status;
}

} // namespace

NTSTATUS CompleteInitialization(PHW_STREAM_REQUEST_BLOCK Srb)
{
    auto* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    if (device == nullptr || device->Usb == nullptr || device->Camera == nullptr) {
        return STATUS_IO_DEVICE_ERROR; // initialization did not create the objects
    }
    if (GetUsbConfigured(device)) {
        // Already started: tearing the working configuration down for a
        // repeated request would leave the device dead.
        return STATUS_IO_DEVICE_ERROR;
    }
    if (!ConfigureCamera(device)) {
        return FailStart(device, STATUS_IO_DEVICE_ERROR);
    }
    device->Camera->ProgramDeviceIdle();
    device->Usb->StartStatus();
    const NTSTATUS named = WriteCreateFileName(device);
    if (!NT_SUCCESS(named)) {
        return FailStart(device, named);
    }
    RegisterStillImageInterface(device);
    return STATUS_SUCCESS;
}
