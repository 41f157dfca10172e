// The frame collector: cuts the isochronous byte stream into raw frames at
// the marker FF FF 00 FF 96 64. Each finished frame is the 10 header bytes
// after its marker, the body with the marker bytes removed, and the 10 header
// bytes of the next frame. After each header the collector copies the body
// blindly up to the marker-skip point, and searches for markers from there.
//
// The collector owns no memory and takes no lock: its owner loads the record
// from its own fields, feeds it under its collector lock and stores it back.
// No byte is ever written beyond pEnd; bytes that do not fit are dropped.
#pragma once

#include "platform/Platform.h"

constexpr ULONG FRAME_MARKER_BYTES = 6;
constexpr ULONG FRAME_HEADER_BYTES = 10;
constexpr UCHAR FRAME_MARKER[FRAME_MARKER_BYTES] = {0xFF, 0xFF, 0x00, 0xFF, 0x96, 0x64};

// Collector states: 0-5 partial marker (that many marker bytes held back),
// 6-15 header bytes 1-10, 16 blind copy of the body; anything above skips.
constexpr UCHAR COLLECT_SEARCH = 0;
constexpr UCHAR COLLECT_HEADER_FIRST = 6;
constexpr UCHAR COLLECT_HEADER_LAST = 15;
constexpr UCHAR COLLECT_BLIND_COPY = 16;

// Called with the finished frame, still in the collecting buffer.
typedef VOID (*PFRAME_HAND_OVER)(PVOID Context, const UCHAR* Frame, ULONG Length);

struct tagFrameCollector {
    PUCHAR pBuffer;        // start of the frame being collected
    PUCHAR pWrite;         // next free byte
    PUCHAR pEnd;           // end of the collecting buffer
    ULONG ulSkipBytes;     // blind copy ends this far into the frame
    ULONG ulLength;        // length of the frame last handed over (or cut)
    UCHAR ucState;
    UCHAR ucFrameOpen;     // a header has been seen since the start
    PFRAME_HAND_OVER pHandOver;
    PVOID pHandOverContext;
    UCHAR ucFrameCut;      // the frame in hand was cut (1 + the marker bytes held then); 0: not cut
};

// Feeds one isochronous packet.
VOID CollectPacket(tagFrameCollector* Collector, const UCHAR* Data, ULONG Length);
// The same, one byte at a time exactly as the state table reads; tests hold
// CollectPacket to it.
VOID CollectPacketReference(tagFrameCollector* Collector, const UCHAR* Data, ULONG Length);
// After a whole transfer: a frame of CutBytes or more is ended at the next byte.
// The next frame's start is then unknown: the collector searches for the next
// marker at once, from the marker bytes it held and the byte that ended the
// cut, and that marker only opens a frame.
VOID CutLongFrame(tagFrameCollector* Collector, ULONG CutBytes);
