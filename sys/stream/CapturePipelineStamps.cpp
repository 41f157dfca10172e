// Time stamps of a filled read request: presentation time from the master
// clock, frames that come too early held back, and the picture number and
// drop count that tell the application how many camera frames it missed.
#include "stream/CaptureStream.h"
#include "stream/CapturePipeline.h"

namespace {

LONGLONG StreamTime(PHW_STREAM_REQUEST_BLOCK Srb, HANDLE Clock)
{
    HW_TIME_CONTEXT context = {};
    context.HwDeviceExtension = static_cast<struct _HW_DEVICE_EXTENSION*>(Srb->HwDeviceExtension);
    context.HwStreamObject = Srb->StreamObject;
    context.Function = TIME_GET_STREAM_TIME;
    StreamClassQueryMasterClockSync(Clock, &context);
    return static_cast<LONGLONG>(context.Time);
}

// Sets Time and DataUsed; false when the frame does not count as delivered.
bool StampTime(StreamContext* Stream, PKSSTREAM_HEADER Header, LONGLONG Now, bool NotDelivered)
{
    const LONGLONG duration = Stream->FrameDuration;
    Header->DataUsed = 0;
    if (Stream->FramesProcessed == 0) {
        Header->PresentationTime.Time = 0;
        return false;
    }
    if (Stream->FramesProcessed == 1) {
        const bool nearStart = static_cast<ULONGLONG>(Now) <= static_cast<ULONGLONG>(PIPELINE_FIRST_STAMP_FRAMES * duration);
        Header->PresentationTime.Time = nearStart ? Now : 0;
        if (!NotDelivered) {
            Header->DataUsed = Stream->FrameSize;
            Stream->LastPresentationTime = Stream->FirstPresentationTime = Header->PresentationTime.Time;
        }
        return !NotDelivered;
    }
    Header->PresentationTime.Time = Now;
    if (NotDelivered) {
        return false;
    }
    if (Now < Stream->LastPresentationTime + duration - static_cast<LONGLONG>(PIPELINE_EARLY_MARGIN)) {
        Stream->FramesProcessed -= 1;
        return false;
    }
    Header->DataUsed = Stream->FrameSize;
    Stream->LastPresentationTime = Now;
    return true;
}

// A clock that went back behind the first stamp would make the unsigned
// difference enormous; such a frame reports no drops.
ULONGLONG DroppedFrames(const StreamContext* Stream, LONGLONG Time)
{
    if (Time < Stream->FrameDuration || Time < Stream->FirstPresentationTime) {
        return 0;
    }
    const ULONGLONG expected = static_cast<ULONGLONG>(Time - Stream->FirstPresentationTime) /
                                   static_cast<ULONGLONG>(Stream->FrameDuration - PIPELINE_DROP_MARGIN) +
                               1;
    return expected >= Stream->FramesProcessed ? expected - Stream->FramesProcessed : 0;
}

VOID FillFrameInfo(StreamContext* Stream, PKSSTREAM_HEADER Header, bool WithCounters)
{
    if (Header->Size < sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO)) {
        return;
    }
    auto* info = reinterpret_cast<PKS_FRAME_INFO>(Header + 1);
    info->dwFrameFlags = 0;
    info->PictureNumber = 0;
    info->DropCount = 0;
    if (WithCounters) {
        KIRQL oldIrql;
        KeAcquireSpinLock(&Stream->CounterLock, &oldIrql);
        info->PictureNumber = static_cast<LONGLONG>(Stream->PictureNumber);
        info->DropCount = static_cast<LONGLONG>(Stream->DropCount);
        KeReleaseSpinLock(&Stream->CounterLock, oldIrql);
    }
}

VOID UpdateCounters(StreamContext* Stream, ULONGLONG Dropped)
{
    const UCHAR state = ReadCaptureState(Stream);
    if (state != KSSTATE_PAUSE && state != KSSTATE_RUN) {
        return;
    }
    KIRQL oldIrql;
    KeAcquireSpinLock(&Stream->CounterLock, &oldIrql);
    Stream->PictureNumber = Stream->FramesProcessed + Dropped;
    Stream->DropCount = Dropped;
    KeReleaseSpinLock(&Stream->CounterLock, oldIrql);
}

} // namespace

bool StampReadRequest(StreamContext* Stream, PHW_STREAM_REQUEST_BLOCK Srb, PKSSTREAM_HEADER Header,
                      bool NotDelivered)
{
    Header->PresentationTime.Numerator = 1;
    Header->PresentationTime.Denominator = 1;
    Header->Duration = Stream->FrameDuration;
    Header->OptionsFlags = PIPELINE_STAMP_OPTIONS;
    const HANDLE clock = __atomic_load_n(&Stream->MasterClock, __ATOMIC_RELAXED);
    if (clock == nullptr) {
        Header->PresentationTime.Time = 0;
        Header->DataUsed = NotDelivered ? 0 : Stream->FrameSize;
        FillFrameInfo(Stream, Header, false);
        return !NotDelivered;
    }
    const bool delivered = StampTime(Stream, Header, StreamTime(Srb, clock), NotDelivered);
    if (delivered) {
        UpdateCounters(Stream, DroppedFrames(Stream, Header->PresentationTime.Time));
    }
    FillFrameInfo(Stream, Header, true);
    return delivered;
}
