// Life of the register object and its binding to a configured device.
#include "usb/CCameraRegisters.h"

#include "usb/CUsbCamera.h"

CCameraRegisters::CCameraRegisters()
    : Field{}, RegisterImage{}, UsbCamera(nullptr), Device(nullptr), BusPower(USB_BUS_POWER_UNREAD)
{
}

// The owner unbinds first; unbinding here as well keeps a forgotten Unbind
// from leaving RegistersReady set for an object that no longer exists.
CCameraRegisters::~CCameraRegisters()
{
    Unbind();
}

bool CCameraRegisters::Bind(DeviceContext* device)
{
    if (device == nullptr || device->Usb == nullptr) {
        return false;
    }
    if (GetRegistersReady(device) || !GetUsbConfigured(device)) {
        return false;
    }
    Device = device;
    UsbCamera = device->Usb;
    BusPower = UsbCamera->BusPower;
    SetRegistersReady(device, TRUE);
    return true;
}

VOID CCameraRegisters::Unbind()
{
    if (Device != nullptr) {
        SetRegistersReady(Device, FALSE);
    }
    Device = nullptr;
    UsbCamera = nullptr;
}

bool CCameraRegisters::IsReady()
{
    return Device != nullptr && UsbCamera != nullptr && GetRegistersReady(Device);
}
