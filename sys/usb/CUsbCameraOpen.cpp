// Open and Close: the object's one way from unconfigured to configured at
// alternate setting 0 with every streaming resource made, and back.
#include "usb/CUsbCamera.h"

namespace {

constexpr ULONG SUPPORTED_BITS_PER_SAMPLE = 8;
constexpr ULONG CIF_WIDTH = 352, CIF_HEIGHT = 288, CIF_MARKER_SKIP = 25000;
constexpr ULONG QCIF_WIDTH = 176, QCIF_HEIGHT = 144, QCIF_MARKER_SKIP = 6500;

} // namespace

bool CUsbCamera::StoreOpenArguments(ULONG width, ULONG height, ULONG bitsPerSample, LONGLONG timeOut,
                                    DeviceContext* device)
{
    FrameTimeout = -timeOut;
    FramePixels = width * height;
    Width = width;
    Height = height;
    BitsPerSample = SUPPORTED_BITS_PER_SAMPLE;
    Device = device;
    FrameBytes2 = 2 * FramePixels;
    FrameBytes3 = 3 * FramePixels;
    (void)bitsPerSample;
    if (width == CIF_WIDTH && height == CIF_HEIGHT) {
        MarkerSkipBytes = CIF_MARKER_SKIP;
        return true;
    }
    if (width == QCIF_WIDTH && height == QCIF_HEIGHT) {
        MarkerSkipBytes = QCIF_MARKER_SKIP;
        return true;
    }
    return false;
}

bool CUsbCamera::Configure()
{
    return GetDeviceDescriptor() && GetConfigurationDescriptor() && ParseConfiguration() &&
           SelectConfiguration() && SelectAlternateSetting(0);
}

bool CUsbCamera::Open(ULONG width, ULONG height, ULONG bitsPerSample, LONGLONG timeOut, DeviceContext* device)
{
    if (width == 0 || height == 0 || bitsPerSample != SUPPORTED_BITS_PER_SAMPLE || timeOut <= 0 ||
        device == nullptr || device->PhysicalDeviceObject == nullptr || GetUsbConfigured(device) ||
        RequestIrp != nullptr) {
        return false;
    }
    if (!StoreOpenArguments(width, height, bitsPerSample, timeOut, device)) {
        return false;
    }
    RequestIrp = IoAllocateIrp(device->PhysicalDeviceObject->StackSize, FALSE);
    AbortIrp = IoAllocateIrp(device->PhysicalDeviceObject->StackSize, FALSE);
    AbortUrb = static_cast<PURB>(KorvalAllocate(sizeof(struct _URB_PIPE_REQUEST)));
    bool ok = RequestIrp != nullptr && AbortIrp != nullptr && AbortUrb != nullptr && AllocateFrameBuffers();
    if (ok) {
        ResetFrameHandOver();
        ok = CreateTransferContexts() && Configure();
    }
    if (ok) {
        SetUsbConfigured(device, TRUE);
        return true;
    }
    SetUsbConfigured(device, FALSE);
    Unconfigure();
    ReleaseResources();
    return false;
}

bool CUsbCamera::Close()
{
    if (Device == nullptr || !GetUsbConfigured(Device)) {
        return true;
    }
    StopTransfersIfRunning();
    SetUsbConfigured(Device, FALSE);
    Unconfigure();
    ReleaseResources();
    return true;
}
