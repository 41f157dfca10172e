// The collector one byte at a time, a direct reading of the state table.
#include "usb/FrameCollectorSteps.h"

namespace {

// One byte in states 0-5; returns the next state.
UCHAR MarkerStep(tagFrameCollector* Collector, UCHAR State, UCHAR Byte)
{
    if (Byte == FRAME_MARKER[State]) {
        return static_cast<UCHAR>(State + 1); // held back; state 6 drops the whole marker
    }
    if (Byte == 0xFF) {
        // The longest held tail that still starts a marker with this FF.
        switch (State) {
        case 2: EmitHeldMarker(Collector, 1); return 2;
        case 4: EmitHeldMarker(Collector, 3); return 2;
        case 5: EmitHeldMarker(Collector, 5); return 1;
        default: break;
        }
    }
    EmitHeldMarker(Collector, State);
    EmitByte(Collector, Byte);
    return COLLECT_SEARCH;
}

} // namespace

VOID CollectPacketReference(tagFrameCollector* Collector, const UCHAR* Data, ULONG Length)
{
    ULONG i = 0;
    while (i < Length) {
        const UCHAR state = Collector->ucState;
        if (state < COLLECT_HEADER_FIRST) {
            Collector->ucState = MarkerStep(Collector, state, Data[i++]);
        } else if (state < COLLECT_HEADER_LAST) {
            EmitByte(Collector, Data[i++]);
            Collector->ucState = static_cast<UCHAR>(state + 1);
        } else if (state == COLLECT_HEADER_LAST) {
            EmitByte(Collector, Data[i++]);
            EndFrameAtHeader(Collector);
        } else if (state == COLLECT_BLIND_COPY) {
            const ULONG rest = Length - i;
            const ULONG room = BlindCopyRoom(Collector);
            if (room > rest) {
                EmitBlock(Collector, Data + i, rest);
                i = Length;
            } else {
                EmitBlock(Collector, Data + i, room);
                i += room;
                Collector->ucState = COLLECT_SEARCH;
            }
        } else {
            ++i; // an unknown state skips
        }
    }
}
