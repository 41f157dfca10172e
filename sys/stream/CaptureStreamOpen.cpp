// SRB_OPEN_STREAM: checks the format, picks the USB bandwidth, programs the
// camera and builds the processing chain. A refused format changes nothing;
// a later failure releases the chain and puts the USB side back as a close
// would, so the snapshot button keeps working and the bus keeps its bandwidth.
#include "base/ParameterGate.h"
#include "settings/RegistrySettings.h"
#include "settings/StillStatus.h"
#include "stream/StreamFormats.h"
#include "stream/CaptureStream.h"
#include "stream/OverlayFrames.h"
#include "usb/CCameraRegisters.h"
#include "usb/CUsbCamera.h"

#include <cstring>

namespace {

struct tagOutputSize {
    ULONG ulWidth;
    ULONG ulHeight;
};

tagOutputSize OutputSizeForWidth(LONG Width)
{
    switch (Width) {
    case 160: return {160, 120};
    case 176: return {176, 144};
    case 320: return {320, 240};
    case 640: return {640, 480};
    default: return {352, 288};
    }
}

ULONG MarkerSkipBytesForWidth(LONG Width)
{
    return Width == 320 || Width == 352 || Width == 640 ? MARKER_SKIP_BYTES_LARGE : MARKER_SKIP_BYTES_SMALL;
}

VOID FillStreamObject(PHW_STREAM_OBJECT Object)
{
    Object->ReceiveDataPacket = CaptureReceiveDataPacket;
    Object->ReceiveControlPacket = CaptureReceiveControlPacket;
    Object->HwClockObject.HwClockFunction = nullptr;
    Object->HwClockObject.ClockSupportFlags = 0;
    Object->Dma = FALSE;
    // The pipeline writes each frame through the stream header's Data on the
    // thread that drains the queue, which need not be the application's: PIO
    // has the class map the buffer at a system address valid on any thread.
    Object->Pio = TRUE;
    Object->StreamHeaderMediaSpecific = sizeof(KS_FRAME_INFO);
    Object->StreamHeaderWorkspace = 0;
    Object->Allocator = FALSE;
    Object->HwEventRoutine = nullptr;
}

// From the configured setting downwards until the USB stack accepts one.
bool SelectCaptureAlternate(DeviceContext* Device)
{
    const ULONG start = Device->CurFullBandwidth == 1 ? CAPTURE_FULL_BANDWIDTH_ALTERNATE
                                                      : (Device->CurAlternateSetting & 0xFF);
    for (ULONG alternate = start; alternate >= 1; --alternate) {
        if (Device->Usb->SelectAlternateSetting(static_cast<UCHAR>(alternate))) {
            return true;
        }
    }
    return false;
}

// What the open has changed on the USB side, for the failure path.
struct tagOpenProgress {
    bool bStatusStopped;
    bool bAlternateSelected;
    bool bIndicatorOpen;
};

VOID UndoUsbChangesGated(DeviceContext* Device, const tagOpenProgress& Progress)
{
    CUsbCamera* usb = Device->Usb;
    CTransportHold hold(usb);
    if (Progress.bAlternateSelected) {
        if (!Progress.bStatusStopped) {
            usb->StopStatus();
        }
        usb->SelectAlternateSetting(0);
        usb->StartStatus();
    } else if (Progress.bStatusStopped) {
        usb->StartStatus();
    }
    if (Progress.bIndicatorOpen) {
        Device->Camera->SetIndicatorClosed();
    }
}

// Gate first, then the transport lock, like every other path.
VOID UndoUsbChanges(DeviceContext* Device, const tagOpenProgress& Progress)
{
    AcquireParameterGate(Device);
    UndoUsbChangesGated(Device, Progress);
    ReleaseParameterGate(Device);
}

// Steps 5 to 9: settings, bandwidth, status channel and camera registers.
// The whole under the transport lock: a power change in the middle would
// restart the status channel or program the camera behind the open's back.
// Under the parameter gate too, taken first as everywhere: property requests
// read and write the same current values, and the camera's register shadow.
bool PrepareDeviceGated(DeviceContext* Device, tagOpenProgress* Progress)
{
    CUsbCamera* usb = Device->Usb;
    CTransportHold hold(usb);
    usb->StopStatus();
    Progress->bStatusStopped = true;
    LoadSettings(Device);
    if (!SelectCaptureAlternate(Device)) {
        return false;
    }
    Progress->bAlternateSelected = true;
    usb->StartStatus();
    Progress->bStatusStopped = false;
    Device->SettingsValid = ValidateSettings(Device);
    // The stored table is A_0..A_8, the first slots of the settings.
    const bool programmed = Device->Camera->ProgramCaptureOpen(Device->SettingsValid, Device->Settings);
    Progress->bIndicatorOpen = programmed;
    return programmed;
}

bool PrepareDevice(DeviceContext* Device, tagOpenProgress* Progress)
{
    AcquireParameterGate(Device);
    const bool prepared = PrepareDeviceGated(Device, Progress);
    ReleaseParameterGate(Device);
    return prepared;
}

NTSTATUS FailOpen(DeviceContext* Device, const tagOpenProgress& Progress)
{
    Device->Stream->PipelineClose(Device);
    UndoUsbChanges(Device, Progress);
    return STATUS_INVALID_PARAMETER;
}

bool DeviceCanOpen(const DeviceContext* Device)
{
    return Device != nullptr && Device->Usb != nullptr && Device->Camera != nullptr && Device->Stream != nullptr;
}

} // namespace

NTSTATUS OpenCaptureStream(PHW_STREAM_REQUEST_BLOCK Srb)
{
    auto* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    PHW_STREAM_OBJECT object = Srb->StreamObject;
    const KSDATAFORMAT* format = Srb->CommandData.OpenFormat;
    if (!DeviceCanOpen(device) || object == nullptr || object->StreamNumber != CAPTURE_STREAM_NUMBER ||
        format == nullptr || GetCaptureOpen(device) || !IsOfferedCaptureFormat(format)) {
        return STATUS_INVALID_PARAMETER;
    }
    FillStreamObject(object);
    const auto* videoFormat = reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format);
    memcpy(&device->CaptureVideoInfo, &videoFormat->VideoInfoHeader, sizeof(KS_VIDEOINFOHEADER));
    const KS_BITMAPINFOHEADER& bitmap = device->CaptureVideoInfo.bmiHeader;
    StreamContext* stream = device->Stream;
    stream->IsI420 = bitmap.biCompression == CAPTURE_COMPRESSION_I420 ? 1 : 0;

    tagOpenProgress progress = {false, false, false};
    if (!device->Usb->SetMarkerSkipBytes(MarkerSkipBytesForWidth(bitmap.biWidth)) ||
        !PrepareDevice(device, &progress)) {
        return FailOpen(device, progress);
    }
    const tagOutputSize output = OutputSizeForWidth(bitmap.biWidth);
    if (!stream->PipelineOpen(CAPTURE_RAW_WIDTH, CAPTURE_RAW_HEIGHT, output.ulWidth, output.ulHeight,
                              CAPTURE_FRAME_DURATION, device)) {
        return FailOpen(device, progress);
    }
    WriteUsbSnapshotStatus(0);
    SetCaptureOpen(device, TRUE);
    LoadOverlayFrame(device->CurOverlayFrame, device);
    return STATUS_SUCCESS;
}
