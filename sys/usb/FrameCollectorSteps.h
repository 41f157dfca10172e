// Steps shared by both collector versions: storing bytes within the buffer
// and ending a frame once its tenth header byte is stored.
#pragma once

#include "usb/FrameCollector.h"

#include <cstring>

inline VOID EmitByte(tagFrameCollector* Collector, UCHAR Byte)
{
    if (Collector->pWrite < Collector->pEnd) {
        *Collector->pWrite++ = Byte;
    }
}

inline VOID EmitBlock(tagFrameCollector* Collector, const UCHAR* Bytes, ULONG Count)
{
    const ULONG room = static_cast<ULONG>(Collector->pEnd - Collector->pWrite);
    const ULONG stored = Count < room ? Count : room;
    memcpy(Collector->pWrite, Bytes, stored);
    Collector->pWrite += stored;
}

// The first Count marker bytes, held back while they might start a marker.
inline VOID EmitHeldMarker(tagFrameCollector* Collector, ULONG Count)
{
    EmitBlock(Collector, FRAME_MARKER, Count);
}

// The frame so far ends with the header of the next one: hand it over if a
// frame was open, then keep that header as the start of the next frame.
inline VOID EndFrame(tagFrameCollector* Collector)
{
    const ULONG written = static_cast<ULONG>(Collector->pWrite - Collector->pBuffer);
    if (Collector->ucFrameOpen) {
        Collector->ulLength = written;
        Collector->pHandOver(Collector->pHandOverContext, Collector->pBuffer, written);
    }
    const ULONG kept = written < FRAME_HEADER_BYTES ? written : FRAME_HEADER_BYTES;
    memmove(Collector->pBuffer, Collector->pWrite - kept, kept);
    Collector->pWrite = Collector->pBuffer + kept;
    Collector->ucFrameOpen = 1;
}

// The marker state after one more byte, as the state table moves it.
inline UCHAR MarkerStateAfter(UCHAR State, UCHAR Byte)
{
    if (Byte == FRAME_MARKER[State]) {
        return static_cast<UCHAR>(State + 1);
    }
    if (Byte == 0xFF) {
        return State == 5 ? 1 : State == 2 || State == 4 ? 2 : COLLECT_SEARCH;
    }
    return COLLECT_SEARCH;
}

// The tenth header byte is stored: the frame ends here. A blind copy follows a
// real header only. After a cut frame the bytes that follow are no frame's
// start, and copying them blind would skip the real marker; with a cut frame
// as long as a camera frame that repeats frame after frame, so the search
// starts at once and the next marker only opens a frame. The byte that ended
// the cut frame, and the marker bytes held when it was cut, may begin that
// marker: a cut at the end of a frame's last transfer is followed by the next
// marker, and losing it would cut every later frame the same way.
inline VOID EndFrameAtHeader(tagFrameCollector* Collector)
{
    EndFrame(Collector);
    if (Collector->ucFrameCut) {
        const UCHAR held = static_cast<UCHAR>(Collector->ucFrameCut - 1);
        Collector->ucFrameCut = 0;
        Collector->ucFrameOpen = 0;
        Collector->ucState = MarkerStateAfter(held, Collector->pWrite[-1]);
    } else {
        Collector->ucState = COLLECT_BLIND_COPY;
    }
}

// Room left for the blind copy: up to the skip point, never past the buffer.
inline ULONG BlindCopyRoom(const tagFrameCollector* Collector)
{
    const ULONG capacity = static_cast<ULONG>(Collector->pEnd - Collector->pBuffer);
    const ULONG limit = Collector->ulSkipBytes < capacity ? Collector->ulSkipBytes : capacity;
    const ULONG written = static_cast<ULONG>(Collector->pWrite - Collector->pBuffer);
    return written < limit ? limit - written : 0;
}
