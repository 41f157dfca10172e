// Construction and destruction of the USB transport object.
#include "usb/CUsbCamera.h"

namespace {

VOID InitializeLockedFlag(tagLockedFlag* Flag)
{
    KeInitializeSpinLock(&Flag->Lock);
    Flag->bValue = FALSE;
}

VOID InitializeLockedUlong(tagLockedUlong* Value)
{
    KeInitializeSpinLock(&Value->Lock);
    Value->ulValue = 0;
}

} // namespace

CUsbCamera::CUsbCamera()
    : MarkerSkipBytes(0), PipeHandle{}, PipeMaxPacket{}, Device(nullptr), FramePixels(0),
      FrameTimeout(0), BusPower(USB_BUS_POWER_UNREAD), Width(0), Height(0), FrameBytes2(0),
      FrameBytes3(0), BitsPerSample(0), CurrentAlternate(0), IdleAlternateOwed(FALSE), RequestLock{},
      RequestIrp(nullptr), AbortIrp(nullptr), AbortUrb(nullptr),
      DeviceDescriptor{}, InterfaceDescriptor{}, EndpointDescriptor{}, ConfigDescriptor(nullptr),
      ConfigurationHandle(nullptr), RequestTimeout(USB_REQUEST_TIMEOUT), RawFrameLock(0),
      FrameBuffer{}, FrameLength{}, FrameBufferBytes(0), NewestFrame(0), FrameNumber(0),
      FrameReady{}, CollectLock(0), CollectBuffer(nullptr), CollectWrite(nullptr),
      CollectLength(0), CollectState(0), FrameOpen(0), FrameCut(0), ButtonEvent{}, StatusEvent{},
      StatusDrained{}, VideoDrained{}, ThreadStop{}, StatusContext(nullptr), StatusInFlight{},
      VideoInFlight{}, VideoContext{}, StatusStarted{}, StatusRunning{}, VideoStarted{},
      VideoRunning{}, TransportGate{}, TransportOwner(nullptr), TransportDepth(0)
{
    KeInitializeSemaphore(&RequestLock, 1, 1);
    KeInitializeSpinLock(&RawFrameLock);
    KeInitializeSpinLock(&CollectLock);
    KeInitializeEvent(&FrameReady, SynchronizationEvent, FALSE);
    KeInitializeEvent(&ButtonEvent, SynchronizationEvent, FALSE);
    KeInitializeEvent(&StatusEvent, SynchronizationEvent, FALSE);
    KeInitializeEvent(&StatusDrained, NotificationEvent, FALSE);
    KeInitializeEvent(&VideoDrained, NotificationEvent, FALSE);
    KeInitializeEvent(&ThreadStop, NotificationEvent, FALSE);
    KeInitializeEvent(&TransportGate, SynchronizationEvent, TRUE);
    InitializeLockedUlong(&StatusInFlight);
    InitializeLockedUlong(&VideoInFlight);
    InitializeLockedFlag(&StatusStarted);
    InitializeLockedFlag(&StatusRunning);
    InitializeLockedFlag(&VideoStarted);
    InitializeLockedFlag(&VideoRunning);
}

// The owner closes the object before deleting it; closing here as well means
// that a forgotten Close still stops the transfers and frees every buffer.
CUsbCamera::~CUsbCamera()
{
    Close();
}
