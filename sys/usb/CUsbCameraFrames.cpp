// From completed video transfers to raw frames: the collector fed under
// CollectLock, finished frames handed over into the triple buffer under
// RawFrameLock (always taken inside CollectLock, never the other way), and
// the reader that copies out the newest one.
#include "usb/CUsbCamera.h"
#include "runtime/FloatingPointState.h"
#include "usb/FrameCollector.h"
#include "usb/SpinLockByIrql.h"

#include <cstring>

VOID CUsbCamera::ResetCollector()
{
    CSpinLockByIrql lock(&CollectLock);
    CollectWrite = CollectBuffer;
    CollectLength = 0;
    CollectState = COLLECT_SEARCH;
    FrameOpen = 0;
    FrameCut = 0;
}

VOID CUsbCamera::ResetRawFrames()
{
    CSpinLockByIrql lock(&RawFrameLock);
    for (ULONG& length : FrameLength) {
        length = 0;
    }
    FrameNumber = 0;
    NewestFrame = 0;
    KeClearEvent(&FrameReady);
}

// Each packet is read from its own Offset; a length or offset that points
// outside the data buffer is trimmed to it.
VOID CUsbCamera::CollectTransfer(tagTransferContext* context)
{
    const auto& transfer = context->pUrb->UrbIsochronousTransfer;
    CSpinLockByIrql lock(&CollectLock);
    tagFrameCollector collector = {CollectBuffer, CollectWrite, CollectBuffer + FrameBufferBytes,
                                   MarkerSkipBytes, CollectLength, CollectState, FrameOpen,
                                   HandOverFrame, this, FrameCut};
    // One bracket per transfer for the SIMD marker search; without a saved
    // state the plain collector does the same work.
    CFloatingPointState floatingPoint;
    for (ULONG i = 0; i < VIDEO_PACKETS_PER_TRANSFER; ++i) {
        const USBD_ISO_PACKET_DESCRIPTOR& packet = transfer.IsoPacket[i];
        if (packet.Offset >= VIDEO_DATA_BYTES) {
            continue;
        }
        const ULONG room = VIDEO_DATA_BYTES - packet.Offset;
        const ULONG length = packet.Length < room ? packet.Length : room;
        if (floatingPoint.Saved()) {
            CollectPacket(&collector, context->pData + packet.Offset, length);
        } else {
            CollectPacketReference(&collector, context->pData + packet.Offset, length);
        }
    }
    CutLongFrame(&collector, RAW_FRAME_CUT_BYTES);
    CollectWrite = collector.pWrite;
    CollectLength = collector.ulLength;
    CollectState = collector.ucState;
    FrameOpen = collector.ucFrameOpen;
    FrameCut = collector.ucFrameCut;
}

VOID CUsbCamera::HandOverFrame(PVOID context, const UCHAR* frame, ULONG length)
{
    auto* self = static_cast<CUsbCamera*>(context);
    {
        CSpinLockByIrql lock(&self->RawFrameLock);
        const UCHAR next = static_cast<UCHAR>((self->NewestFrame + 1) % RAW_FRAME_COUNT);
        memcpy(self->FrameBuffer[next], frame, length);
        self->FrameLength[next] = length;
        ++self->FrameNumber;
        self->NewestFrame = next;
    }
    KeSetEvent(&self->FrameReady, 0, FALSE);
}

bool CUsbCamera::ReadFrame(PUCHAR buffer, PULONG length, ULONGLONG* frameNumber)
{
    if (!IsConfigured() || buffer == nullptr || length == nullptr || frameNumber == nullptr) {
        return false;
    }
    LARGE_INTEGER timeout;
    timeout.QuadPart = FrameTimeout;
    if (KeWaitForSingleObject(&FrameReady, Executive, KernelMode, FALSE, &timeout) == STATUS_TIMEOUT) {
        *length = 0;
        return true;
    }
    CSpinLockByIrql lock(&RawFrameLock);
    const ULONG newest = FrameLength[NewestFrame];
    if (newest == 0 || *length < newest) {
        const bool fits = newest == 0;
        *length = 0;
        return fits;
    }
    memcpy(buffer, FrameBuffer[NewestFrame], newest);
    *length = newest;
    *frameNumber = FrameNumber;
    return true;
}
