// The capture stream's request handlers: the open and close that the adapter
// dispatcher calls, the two per-stream entry points the stream object names,
// and what those share (state changes, stream properties, black frames).
#pragma once

#include "base/DeviceContext.h"
#include "stream/StreamContext.h"

constexpr ULONG CAPTURE_STREAM_NUMBER = 0;
constexpr LONGLONG CAPTURE_FRAME_DURATION = 333333;
constexpr ULONG CAPTURE_RAW_WIDTH = 352;
constexpr ULONG CAPTURE_RAW_HEIGHT = 288;
constexpr UCHAR CAPTURE_FULL_BANDWIDTH_ALTERNATE = 8;
constexpr ULONG MARKER_SKIP_BYTES_LARGE = 25000;
constexpr ULONG MARKER_SKIP_BYTES_SMALL = 6500;
constexpr UCHAR I420_BLACK_CHROMA = 0x80;

// SRB_OPEN_STREAM and SRB_CLOSE_STREAM of the capture pin.
NTSTATUS OpenCaptureStream(PHW_STREAM_REQUEST_BLOCK Srb);
NTSTATUS CloseCaptureStream(PHW_STREAM_REQUEST_BLOCK Srb);

VOID STREAMAPI CaptureReceiveDataPacket(PHW_STREAM_REQUEST_BLOCK Srb);
VOID STREAMAPI CaptureReceiveControlPacket(PHW_STREAM_REQUEST_BLOCK Srb);

// State is written without a lock and read between frames by other threads;
// these keep each access whole.
inline UCHAR ReadCaptureState(const StreamContext* Stream)
{
    return __atomic_load_n(&Stream->State, __ATOMIC_RELAXED);
}

inline VOID WriteCaptureState(StreamContext* Stream, UCHAR State)
{
    __atomic_store_n(&Stream->State, State, __ATOMIC_RELAXED);
}

// SRB_SET_STREAM_STATE and SRB_GET_STREAM_STATE.
NTSTATUS SetCaptureState(DeviceContext* Device, ULONG Requested);
NTSTATUS GetCaptureState(DeviceContext* Device, PHW_STREAM_REQUEST_BLOCK Srb);
// Stops video if it runs and cancels every read waiting in the data queue.
VOID StopCaptureVideo(DeviceContext* Device);
VOID CancelQueuedReads(DeviceContext* Device);

// SRB_GET_STREAM_PROPERTY: allocator framing and dropped frames.
NTSTATUS GetCaptureStreamProperty(DeviceContext* Device, PHW_STREAM_REQUEST_BLOCK Srb);

// Black in the stream's format, never more than Capacity bytes: I420 luma 0
// and chroma 0x80, RGB24 all zero (RgbBytes of them).
VOID FillBlackFrame(const StreamContext* Stream, PUCHAR Buffer, ULONG Capacity, ULONG RgbBytes);

// The read's stream header, or null when the SRB carries none.
PKSSTREAM_HEADER ReadStreamHeader(PHW_STREAM_REQUEST_BLOCK Srb);
