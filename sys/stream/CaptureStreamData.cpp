// The capture stream's data entry point. Reads wait in the data queue; the
// thread that finds the queue idle fills them one after another, each with
// the newest frame, while the stream pauses or runs. Reads that arrive before
// pause are answered at once, empty.
#include "stream/CaptureStream.h"
#include "stream/SrbQueue.h"

#include <cstring>

namespace {

bool BelowPause(const StreamContext* Stream)
{
    return ReadCaptureState(Stream) < KSSTATE_PAUSE;
}

VOID SetEmpty(PHW_STREAM_REQUEST_BLOCK Srb)
{
    if (PKSSTREAM_HEADER header = ReadStreamHeader(Srb)) {
        header->DataUsed = 0;
    }
    Srb->Status = STATUS_SUCCESS;
}

VOID CompleteEmpty(PHW_STREAM_REQUEST_BLOCK Srb)
{
    SetEmpty(Srb);
    CompleteStreamSrb(Srb, nullptr);
}

// The stream stopped while the frame was being filled: nothing of it counts.
VOID ClearStoppedRead(PHW_STREAM_REQUEST_BLOCK Srb)
{
    SetEmpty(Srb);
    PKSSTREAM_HEADER header = ReadStreamHeader(Srb);
    if (header == nullptr) {
        return;
    }
    header->PresentationTime.Time = 0;
    if (header->Size >= sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO)) {
        auto* info = reinterpret_cast<PKS_FRAME_INFO>(header + 1);
        info->dwFrameFlags = 0;
        info->PictureNumber = 0;
        info->DropCount = 0;
    }
}

// In pause the application sees black, not a frame.
VOID BlankPausedRead(const StreamContext* Stream, PHW_STREAM_REQUEST_BLOCK Srb)
{
    PKSSTREAM_HEADER header = ReadStreamHeader(Srb);
    if (header == nullptr) {
        return;
    }
    if (header->Data != nullptr) {
        FillBlackFrame(Stream, static_cast<PUCHAR>(header->Data), header->FrameExtent, header->FrameExtent);
    }
    header->DataUsed = 0;
}

VOID HandleRead(DeviceContext* Device, PHW_STREAM_REQUEST_BLOCK Srb)
{
    StreamContext* stream = Device->Stream;
    if (BelowPause(stream) || ReadStreamHeader(Srb) == nullptr) {
        SetEmpty(Srb);
        return;
    }
    Srb->Status = stream->FillReadRequest(Srb);
    const UCHAR state = ReadCaptureState(stream);
    if (state < KSSTATE_PAUSE) {
        ClearStoppedRead(Srb);
    } else if (state == KSSTATE_PAUSE) {
        BlankPausedRead(stream, Srb);
    }
}

VOID HandleDataSrb(PHW_STREAM_REQUEST_BLOCK Srb, PVOID Context)
{
    auto* device = static_cast<DeviceContext*>(Context);
    switch (Srb->Command) {
    case SRB_READ_DATA: HandleRead(device, Srb); break;
    case SRB_WRITE_DATA: Srb->Status = STATUS_NOT_IMPLEMENTED; break;
    default: Srb->Status = STATUS_NOT_SUPPORTED; break;
    }
}

} // namespace

PKSSTREAM_HEADER ReadStreamHeader(PHW_STREAM_REQUEST_BLOCK Srb)
{
    return Srb->NumberOfBuffers >= 1 ? Srb->CommandData.DataBufferArray : nullptr;
}

VOID FillBlackFrame(const StreamContext* Stream, PUCHAR Buffer, ULONG Capacity, ULONG RgbBytes)
{
    if (Buffer == nullptr) {
        return;
    }
    if (!Stream->IsI420) {
        memset(Buffer, 0, RgbBytes < Capacity ? RgbBytes : Capacity);
        return;
    }
    const ULONG luma = Stream->OutPixels < Capacity ? Stream->OutPixels : Capacity;
    const ULONG chromaWanted = Stream->OutPixels / 2;
    const ULONG chroma = chromaWanted < Capacity - luma ? chromaWanted : Capacity - luma;
    memset(Buffer, 0, luma);
    memset(Buffer + luma, I420_BLACK_CHROMA, chroma);
}

VOID STREAMAPI CaptureReceiveDataPacket(PHW_STREAM_REQUEST_BLOCK Srb)
{
    auto* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    StreamContext* stream = device->Stream;
    if (BelowPause(stream)) {
        CompleteEmpty(Srb);
        return;
    }
    tagSrbQueueFields* queue = &device->DataQueue;
    if (!queue->bInitialized) {
        SrbQueueInitialize(queue);
    }
    if (!SrbQueueSubmit(queue, Srb)) {
        // Stop may have cancelled the queue just before this read joined it.
        if (BelowPause(stream) && SrbQueueRemove(queue, Srb)) {
            CompleteEmpty(Srb);
        }
        return;
    }
    SrbQueueDrain(queue, Srb, HandleDataSrb, CompleteStreamSrb, device);
}
