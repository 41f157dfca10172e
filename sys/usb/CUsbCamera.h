// The device's USB transport: one object per camera, owned by DeviceContext.
// Its configuration side reads the descriptors, selects the configuration and
// an alternate setting of interface 0, keeps the six pipe handles and sends
// every synchronous URB one at a time; its streaming side keeps the status
// and isochronous video transfers running and cuts the video stream into raw
// frames. Open makes every IRP, URB and buffer either side needs; Close frees
// them. Operations return false on any failure and log nothing.
#pragma once

#include "base/DeviceContext.h"
#include "base/PoolAllocator.h"
#include "platform/Platform.h"
#include "usb/TransferContext.h"

constexpr ULONG USB_ALTERNATE_SETTING_COUNT = 9;
constexpr ULONG USB_PIPE_COUNT = 6;           // pipes the driver keeps per alternate setting
constexpr ULONG USB_MAX_ENDPOINTS = 7;        // endpoint descriptors kept per alternate setting
constexpr ULONG USB_STATUS_PIPE = 2;
constexpr ULONG USB_VIDEO_PIPE = 4;
constexpr ULONG USB_BUS_POWER_UNREAD = 500;
constexpr LONGLONG USB_REQUEST_TIMEOUT = -30000000; // 3 s, relative

constexpr ULONG RAW_FRAME_COUNT = 3;
constexpr ULONG RAW_FRAME_SLACK = 32768;
constexpr ULONG RAW_FRAME_CUT_BYTES = 101972;
constexpr ULONG USB_ISOCH_MAX_PACKET = 1023; // full speed
// A frame is cut only after a whole transfer, so it can grow by one transfer
// of the largest full-speed packets past the cut.
constexpr ULONG RAW_FRAME_MIN_BYTES = RAW_FRAME_CUT_BYTES + VIDEO_PACKETS_PER_TRANSFER * USB_ISOCH_MAX_PACKET;

class CUsbCamera : public CPoolObject {
public:
    CUsbCamera();
    virtual ~CUsbCamera();

    // Life
    bool Open(ULONG width, ULONG height, ULONG bitsPerSample, LONGLONG timeOut, DeviceContext* device);
    bool Close();

    // Synchronous submission. SubmitUrbWait refuses while the device is gone
    // or not in D0; SubmitUrbWaitOwnIrp sends regardless (stop and removal).
    bool SubmitUrbWait(PURB urb, ULONG ioctl);
    bool SubmitUrbWaitOwnIrp(PURB urb, ULONG ioctl);

    // Configuration
    bool GetDeviceDescriptor();
    bool GetConfigurationDescriptor();
    bool ParseConfiguration();
    bool SelectConfiguration();
    bool Unconfigure();
    bool SelectAlternateSetting(UCHAR alternate);

    // Pipes 2 (status) and 4 (video)
    bool AbortStatusPipe();
    bool AbortVideoPipe();
    bool ResetStatusPipe();
    bool ResetVideoPipe();

    // The control transfer that register access is built on.
    bool VendorRequest(USHORT function, ULONG transferFlags, UCHAR requestTypeBits, UCHAR request,
                       USHORT value, USHORT index, PVOID buffer, ULONG length, PULONG transferred);

    bool SetMarkerSkipBytes(ULONG bytes);
    ULONG GetVideoPacketSize();

    // Streaming: the status transfer with the snapshot thread, the three
    // video transfers, and the newest finished raw frame.
    bool StartStatus();
    VOID StopStatus();
    bool StartVideo();
    VOID StopVideo();
    // In: *length = capacity of buffer. Out: bytes copied (0 when no frame
    // came within FrameTimeout) and the frame's FrameNumber.
    bool ReadFrame(PUCHAR buffer, PULONG length, ULONGLONG* frameNumber);

    // The transport lock. Adapter and stream requests run at the same time, so
    // every start and stop of the status and video transfers takes it, and a
    // caller that tests the ...Started flags or runs a sequence (stop, change
    // the alternate setting, start) holds it across the whole. PASSIVE_LEVEL
    // only; the thread that holds it may take it again. Lock order: the
    // parameter gate before this lock, never the other way round.
    VOID AcquireTransport();
    VOID ReleaseTransport();

    // ---- Configuration fields
    ULONG MarkerSkipBytes;
    USBD_PIPE_HANDLE PipeHandle[USB_PIPE_COUNT];
    ULONG PipeMaxPacket[USB_PIPE_COUNT];
    DeviceContext* Device;
    ULONG FramePixels;
    LONGLONG FrameTimeout;
    ULONG BusPower;
    ULONG Width, Height;
    ULONG FrameBytes2, FrameBytes3; // stored at open with the frame size; no stage reads them
    ULONG BitsPerSample;
    UCHAR CurrentAlternate;
    // A return to alternate setting 0 that the bus refused (a close while
    // powered down): made at the next power-up. Under the transport lock.
    BOOLEAN IdleAlternateOwed;
    KSEMAPHORE RequestLock;
    PIRP RequestIrp;
    URB VendorUrb;  // the one record of every vendor request, used under RequestLock
    // Reserved at Open for the pipe aborts, so that a stop never needs pool.
    PIRP AbortIrp;
    PURB AbortUrb;
    USB_DEVICE_DESCRIPTOR DeviceDescriptor;
    PUSB_INTERFACE_DESCRIPTOR InterfaceDescriptor[USB_ALTERNATE_SETTING_COUNT];
    PUSB_ENDPOINT_DESCRIPTOR EndpointDescriptor[USB_ALTERNATE_SETTING_COUNT][USB_MAX_ENDPOINTS];
    PUSB_CONFIGURATION_DESCRIPTOR ConfigDescriptor;
    USBD_CONFIGURATION_HANDLE ConfigurationHandle;
    LONGLONG RequestTimeout;

    // ---- Streaming fields: the triple buffer of finished raw frames
    KSPIN_LOCK RawFrameLock;
    PUCHAR FrameBuffer[RAW_FRAME_COUNT];
    ULONG FrameLength[RAW_FRAME_COUNT];
    ULONG FrameBufferBytes; // capacity of each frame buffer and of CollectBuffer
    UCHAR NewestFrame;
    ULONGLONG FrameNumber;
    KEVENT FrameReady;

    // The collector
    KSPIN_LOCK CollectLock;
    PUCHAR CollectBuffer;
    PUCHAR CollectWrite;
    ULONG CollectLength;
    UCHAR CollectState;
    UCHAR FrameOpen;
    UCHAR FrameCut;

    // The transfers
    KEVENT ButtonEvent, StatusEvent;
    KEVENT StatusDrained, VideoDrained;
    KEVENT ThreadStop;
    // The snapshot thread StartStatus starts with the DeviceContext as its
    // context, given by whoever creates the camera; none when null.
    PKSTART_ROUTINE SnapshotRoutine = nullptr;
    tagTransferContext* StatusContext;
    tagLockedUlong StatusInFlight, VideoInFlight;
    tagTransferContext* VideoContext[VIDEO_TRANSFER_COUNT];
    tagLockedFlag StatusStarted, StatusRunning, VideoStarted, VideoRunning;

    // The transport lock: a synchronization event with its owner and depth.
    KEVENT TransportGate;
    PVOID TransportOwner;
    ULONG TransportDepth;

private:
    // Hooks of the streaming side.
    VOID StopTransfersIfRunning();
    static KDEFERRED_ROUTINE StatusDpc;
    static KDEFERRED_ROUTINE VideoDpc;
    static IO_COMPLETION_ROUTINE StatusComplete;
    static IO_COMPLETION_ROUTINE VideoComplete;

    // Streaming helpers
    bool DeviceReady();
    VOID PrepareTransferIrp(tagTransferContext* context, PIO_COMPLETION_ROUTINE routine);
    VOID PrepareStatusTransfer();
    VOID PrepareVideoTransfer(tagTransferContext* context);
    VOID SendTransfer(tagTransferContext* context, tagLockedFlag* running, tagLockedUlong* inFlight, PKEVENT drained);
    VOID Resubmit(tagTransferContext* context, tagLockedFlag* running, tagLockedUlong* inFlight, PKEVENT drained);
    static NTSTATUS FinishTransfer(PIRP irp, PVOID context, bool (CUsbCamera::*completed)(tagTransferContext*, PIRP),
                                   tagLockedUlong CUsbCamera::*inFlight, KEVENT CUsbCamera::*drained);
    bool StatusCompleted(tagTransferContext* context, PIRP irp);
    bool VideoCompleted(tagTransferContext* context, PIRP irp);
    VOID SignalButtonPress();
    VOID StartSnapshotThread();
    VOID WaitForSnapshotThread();
    VOID ResetCollector();
    VOID ResetRawFrames();
    VOID CollectTransfer(tagTransferContext* context);
    static VOID HandOverFrame(PVOID context, const UCHAR* frame, ULONG length);

    // Submission
    bool SendAndWait(PIRP irp, PURB urb, ULONG ioctl, bool checkDeviceState);

    // Resources made by Open
    bool AllocateFrameBuffers();
    VOID FreeFrameBuffers();
    VOID ResetFrameHandOver();
    bool CreateTransferContexts();
    VOID FreeTransferContexts();
    tagTransferContext* CreateTransferContext(UCHAR index, ULONG urbBytes, ULONG dataBytes,
                                              PKDEFERRED_ROUTINE dpcRoutine);
    VOID FreeTransferContext(tagTransferContext* context);
    VOID ReleaseResources();
    VOID FreeRequestIrp();

    // Configuration helpers
    bool StoreOpenArguments(ULONG width, ULONG height, ULONG bitsPerSample, LONGLONG timeOut,
                            DeviceContext* device);
    bool Configure();
    bool ReadDescriptor(UCHAR type, PVOID buffer, ULONG length, PULONG received);
    bool ParseAlternateSetting(ULONG alternate);
    VOID ClearParsedDescriptors();
    VOID FreeConfigDescriptor();
    VOID StorePipes(const USBD_INTERFACE_INFORMATION& information, UCHAR alternate);
    bool PipeRequest(USHORT function, ULONG pipe, bool ownIrp);
    bool AbortPipe(ULONG pipe, bool checkDeviceState);
    bool IsConfigured();
};

// Holds the transport lock of one CUsbCamera for a scope.
class CTransportHold {
public:
    explicit CTransportHold(CUsbCamera* usb) : m_pUsb(usb) { m_pUsb->AcquireTransport(); }
    ~CTransportHold() { m_pUsb->ReleaseTransport(); }
    CTransportHold(const CTransportHold&) = delete;
    CTransportHold& operator=(const CTransportHold&) = delete;

private:
    CUsbCamera* m_pUsb;
};
