// The collector as the completion routine runs it: runs without FF bytes are
// stored in one block, header and blind-copy bytes too; only FF bytes and
// the bytes of a partial marker go through the table one at a time.
#include "usb/FrameCollectorSteps.h"

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

// State 0: everything up to the next FF is body.
const UCHAR* SearchRun(tagFrameCollector* Collector, const UCHAR* Data, const UCHAR* End)
{
    const auto* ff = static_cast<const UCHAR*>(memchr(Data, 0xFF, static_cast<size_t>(End - Data)));
    const UCHAR* runEnd = ff != nullptr ? ff : End;
    EmitBlock(Collector, Data, static_cast<ULONG>(runEnd - Data));
    if (ff != nullptr) {
        Collector->ucState = 1;
        return ff + 1;
    }
    return End;
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
        EndFrame(Collector);
        Collector->ucState = COLLECT_BLIND_COPY;
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
    if (written >= CutBytes) {
        Collector->ulLength = written;
        Collector->ucState = COLLECT_HEADER_LAST;
    }
}
