// The collector as the completion routine runs it: runs without a pair of FF
// bytes are stored in one block, header and blind-copy bytes too; only the
// bytes from an FF FF pair on go through the table one at a time. A lone FF
// followed by any other byte is body either way, so the search skips it;
// bright raw lines are full of such FF bytes.
#include "usb/FrameCollectorSteps.h"
#include "platform/KernelFloatingPoint.h"
#include "platform/CpuFeatures.h"

#include <emmintrin.h>

namespace {

// States 0-5 for one byte: the table, with the held bytes re-emitted when
// the match fails.
UCHAR MarkerByte(tagFrameCollector* Collector, UCHAR State, UCHAR Byte)
{
    if (Byte == FRAME_MARKER[State]) {
        return static_cast<UCHAR>(State + 1);
    }
    if (Byte == 0xFF && State >= 2) {
        // Keep the two FF (or, after 96, the one FF) that may start a marker.
        static const UCHAR released[6] = {0, 0, 1, 0, 3, 5};
        static const UCHAR next[6] = {0, 0, 2, 0, 2, 1};
        if (next[State] != 0) {
            EmitHeldMarker(Collector, released[State]);
            return next[State];
        }
    }
    EmitHeldMarker(Collector, State);
    EmitByte(Collector, Byte);
    return COLLECT_SEARCH;
}

} // namespace

KORVAL_SSE2_BEGIN

namespace {

// Sixteen bytes a step while 17 remain: the first FF FF pair, or where the
// steps stopped.
const UCHAR* FindPairSse2(const UCHAR* Data, const UCHAR* End)
{
    const __m128i ff = _mm_set1_epi8(static_cast<char>(0xFF));
    while (End - Data > 16) {
        const __m128i here = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Data)), ff);
        const __m128i next = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Data + 1)), ff);
        const int pairs = _mm_movemask_epi8(_mm_and_si128(here, next));
        if (pairs != 0) {
            return Data + __builtin_ctz(static_cast<unsigned>(pairs));
        }
        Data += 16;
    }
    return Data;
}

} // namespace

KORVAL_SSE2_END

namespace {

// The first FF followed by another FF, or a last byte FF that the next
// packet may continue; End when there is none.
const UCHAR* FindMarkerStart(const UCHAR* Data, const UCHAR* End)
{
    if (CpuHasSse2()) {
        Data = FindPairSse2(Data, End);
    }
    for (; Data < End; ++Data) {
        if (Data[0] == 0xFF && (Data + 1 == End || Data[1] == 0xFF)) {
            return Data;
        }
    }
    return End;
}

// State 0: everything up to a possible marker start is body.
const UCHAR* SearchRun(tagFrameCollector* Collector, const UCHAR* Data, const UCHAR* End)
{
    const UCHAR* start = FindMarkerStart(Data, End);
    EmitBlock(Collector, Data, static_cast<ULONG>(start - Data));
    if (start == End) {
        return End;
    }
    Collector->ucState = 1;
    return start + 1;
}

// States 6-15: header bytes 1-9 in one block, the tenth ends the frame.
const UCHAR* HeaderRun(tagFrameCollector* Collector, const UCHAR* Data, const UCHAR* End)
{
    const ULONG before = static_cast<ULONG>(COLLECT_HEADER_LAST - Collector->ucState);
    const ULONG available = static_cast<ULONG>(End - Data);
    const ULONG count = before < available ? before : available;
    EmitBlock(Collector, Data, count);
    Collector->ucState = static_cast<UCHAR>(Collector->ucState + count);
    Data += count;
    if (Data < End) {
        EmitByte(Collector, *Data++);
        EndFrameAtHeader(Collector);
    }
    return Data;
}

// State 16: the body up to the skip point, without looking for markers.
const UCHAR* BlindRun(tagFrameCollector* Collector, const UCHAR* Data, const UCHAR* End)
{
    const ULONG rest = static_cast<ULONG>(End - Data);
    const ULONG room = BlindCopyRoom(Collector);
    if (room > rest) {
        EmitBlock(Collector, Data, rest);
        return End;
    }
    EmitBlock(Collector, Data, room);
    Collector->ucState = COLLECT_SEARCH;
    return Data + room;
}

} // namespace

VOID CollectPacket(tagFrameCollector* Collector, const UCHAR* Data, ULONG Length)
{
    KorvalVerifyFloatingPointState("CollectPacket");
    const UCHAR* end = Data + Length;
    while (Data < end) {
        const UCHAR state = Collector->ucState;
        if (state == COLLECT_SEARCH) {
            Data = SearchRun(Collector, Data, end);
        } else if (state < COLLECT_HEADER_FIRST) {
            Collector->ucState = MarkerByte(Collector, state, *Data++);
        } else if (state <= COLLECT_HEADER_LAST) {
            Data = HeaderRun(Collector, Data, end);
        } else if (state == COLLECT_BLIND_COPY) {
            Data = BlindRun(Collector, Data, end);
        } else {
            return; // an unknown state skips everything
        }
    }
}

VOID CutLongFrame(tagFrameCollector* Collector, ULONG CutBytes)
{
    const ULONG written = static_cast<ULONG>(Collector->pWrite - Collector->pBuffer);
    if (written < CutBytes) {
        return;
    }
    // A cut already waiting for its last byte keeps the marker bytes it holds.
    if (Collector->ucState != COLLECT_HEADER_LAST || Collector->ucFrameCut == 0) {
        const UCHAR state = Collector->ucState;
        Collector->ucFrameCut = static_cast<UCHAR>(1 + (state < COLLECT_HEADER_FIRST ? state : 0));
    }
    Collector->ulLength = written;
    Collector->ucState = COLLECT_HEADER_LAST;
}
