#include "stream/StreamContext.h"

#include <cstring>

StreamContext::StreamContext()
    : ulUnused(0), ImageProcess(nullptr), AutoExposure(nullptr), Effects(nullptr), State(0),
      StateLock(0), MasterClock(nullptr), ButtonPollTimeout(0), RawWidth(0), RawHeight(0),
      RawPixels(0), RawPixels2(0), RawCapacity(0), RatioNumerator(0), OutWidth(0), OutHeight(0),
      OutPixels(0), OutPixels2(0), OutPixels3(0), FrameSize(0), CropX(0), CropY(0), CropOffset(0),
      IsI420(0), FrameLock(0), SpareLock(0), OverlayBuffers{}, OverlayBufferSizes{},
      FrameDuration(0), LastPresentationTime(0), FirstPresentationTime(0), FramesProcessed(0),
      DropCount(0), PictureNumber(0), CounterLock(0), RawFrame(nullptr), BayerFrame(nullptr),
      OutputFrame(nullptr), EffectFrame(nullptr), OverlayFrame(nullptr), EffectsWork(nullptr),
      DecompressionFrame{}, RawFrameSize(0), BayerFrameSize(0), OutputFrameSize(0),
      EffectFrameSize(0), OverlayFrameSize(0), EffectsWorkSize(0), Decoder(nullptr),
      OrientationValue(0), FrameToggle(0), LastMeanLuma(0), OverlayLock(0), OverlayLoadGate{}, AeOutput{},
      ButtonPending(FALSE), RegistersOwed(FALSE)
{
    KeInitializeEvent(&OverlayLoadGate, SynchronizationEvent, TRUE);
}

// The pipeline teardown releases the processing objects and buffers before the
// record is destroyed; the record itself owns nothing.
StreamContext::~StreamContext() = default;

VOID StreamContext::InitializeLocks()
{
    KeInitializeSpinLock(&StateLock);
    KeInitializeSpinLock(&CounterLock);
    KeInitializeSpinLock(&FrameLock);
    KeInitializeSpinLock(&SpareLock);
}
