// The capture stream's record. One per device, created zeroed at device
// initialization and kept for the device's whole life; the pipeline set-up
// fills it at each open and its teardown empties it at each close.
#pragma once

#include "base/AeRecords.h"
#include "base/DecompressionRecords.h"
#include "base/PoolAllocator.h"
#include "platform/Platform.h"

class CImageProcess;
class CAe;
class VideoEffects;
class FrameDecoder;
struct DeviceContext;
struct _HW_STREAM_REQUEST_BLOCK;

constexpr ULONG OVERLAY_BUFFER_COUNT = 5;
constexpr ULONG STREAM_FRAME_BUFFER_COUNT = 6;

class StreamContext : public CPoolObject {
public:
    StreamContext();
    virtual ~StreamContext();

    ULONG ulUnused;
    CImageProcess* ImageProcess;
    CAe* AutoExposure;
    VideoEffects* Effects;
    UCHAR State; // KSSTATE: 0 stop, 1 acquire, 2 pause, 3 run
    KSPIN_LOCK StateLock;
    HANDLE MasterClock;
    LONGLONG ButtonPollTimeout; // always 0: the snapshot-button event is only polled
    ULONG RawWidth, RawHeight;
    // RawPixels2 and OutPixels2 are part of the record (set at open, cleared at
    // close) though no stage reads them.
    ULONG RawPixels, RawPixels2, RawCapacity;
    ULONG RatioNumerator;
    ULONG OutWidth, OutHeight;
    ULONG OutPixels, OutPixels2, OutPixels3;
    ULONG FrameSize;
    ULONG CropX, CropY;
    ULONG CropOffset;
    UCHAR IsI420;
    KSPIN_LOCK FrameLock;
    KSPIN_LOCK SpareLock; // initialised, not taken
    PUCHAR OverlayBuffers[OVERLAY_BUFFER_COUNT];
    ULONG OverlayBufferSizes[OVERLAY_BUFFER_COUNT];
    LONGLONG FrameDuration;
    LONGLONG LastPresentationTime, FirstPresentationTime;
    ULONGLONG FramesProcessed;
    ULONGLONG DropCount;
    ULONGLONG PictureNumber;
    KSPIN_LOCK CounterLock;
    PUCHAR RawFrame, BayerFrame, OutputFrame, EffectFrame, OverlayFrame, EffectsWork;
    // Kept whole, output pointer included, so that the decoder's record is one
    // consistent object rather than a truncated copy.
    tagSDecompressionFrame DecompressionFrame;
    ULONG RawFrameSize, BayerFrameSize, OutputFrameSize, EffectFrameSize, OverlayFrameSize,
        EffectsWorkSize;
    FrameDecoder* Decoder;
    UCHAR OrientationValue;
    UCHAR FrameToggle;
    UCHAR LastMeanLuma;
    // Guards the overlay pictures while a load replaces them and while the
    // pipeline blends them. Zero is its free state: usable from construction.
    KSPIN_LOCK OverlayLock;
    // Lets one overlay load (or the buffers' allocation or release) run at a
    // time; file reads happen under it, so it is a waitable gate, not a spin lock.
    KEVENT OverlayLoadGate;

    // The auto-exposure output record: the start values at open, then each
    // frame's new exposure, gain and timing with their change flags.
    tagAeOutput AeOutput;
    // A snapshot-button press not yet shown in a delivered frame.
    BOOLEAN ButtonPending;
    // A frame's register write failed: the camera may hold part of the
    // shadow, so the next frame first writes the whole register image again.
    BOOLEAN RegistersOwed;

    // Initialises StateLock, CounterLock, FrameLock and SpareLock.
    VOID InitializeLocks();

    // Capture pipeline. PipelineOpen builds the stream's buffers and processing
    // objects for one open (IsI420 set beforehand by the caller) and programs the
    // camera's first exposure; false leaves nothing allocated. FillReadRequest
    // fills one read SRB with the newest processed frame and its time stamps.
    // PipelineClose keeps the processing parameters in the settings and releases
    // everything; always true, safe to call on a record never opened.
    bool PipelineOpen(ULONG rawWidth, ULONG rawHeight, ULONG outWidth, ULONG outHeight,
                      LONGLONG frameDuration, DeviceContext* device);
    NTSTATUS FillReadRequest(_HW_STREAM_REQUEST_BLOCK* srb);
    bool PipelineClose(DeviceContext* device);
};
