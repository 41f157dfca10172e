// The overlay buffers' life: allocated at stream open, freed at close. The
// five are present together or not at all, and are published and withdrawn
// under the overlay lock so that a blend never sees them half set.
#include "stream/OverlayFrames.h"
#include "stream/OverlayGuards.h"

#include <cstring>

const ULONG OverlayBufferBytes[OVERLAY_BUFFER_COUNT] = {336896, 134144, 336896, 134144, 184832};

namespace {

VOID FreeAll(PUCHAR (&Buffers)[OVERLAY_BUFFER_COUNT])
{
    for (PUCHAR& buffer : Buffers) {
        KorvalFree(buffer);
        buffer = nullptr;
    }
}

BOOLEAN AllocateAll(PUCHAR (&Buffers)[OVERLAY_BUFFER_COUNT])
{
    for (ULONG i = 0; i < OVERLAY_BUFFER_COUNT; ++i) {
        Buffers[i] = static_cast<PUCHAR>(KorvalAllocate(OverlayBufferBytes[i]));
        if (Buffers[i] == nullptr) {
            FreeAll(Buffers);
            return FALSE;
        }
        // The file buffers are cleared by every load; zeroing them too keeps
        // every byte the stream owns defined.
        memset(Buffers[i], 0, OverlayBufferBytes[i]);
    }
    return TRUE;
}

VOID Publish(StreamContext* Stream, PUCHAR (&Buffers)[OVERLAY_BUFFER_COUNT])
{
    const KIRQL oldIrql = AcquireOverlayLock(Stream);
    for (ULONG i = 0; i < OVERLAY_BUFFER_COUNT; ++i) {
        Stream->OverlayBuffers[i] = Buffers[i];
        Stream->OverlayBufferSizes[i] = OverlayBufferBytes[i];
    }
    ReleaseOverlayLock(Stream, oldIrql);
}

VOID Withdraw(StreamContext* Stream, PUCHAR (&Buffers)[OVERLAY_BUFFER_COUNT])
{
    const KIRQL oldIrql = AcquireOverlayLock(Stream);
    for (ULONG i = 0; i < OVERLAY_BUFFER_COUNT; ++i) {
        Buffers[i] = Stream->OverlayBuffers[i];
        Stream->OverlayBuffers[i] = nullptr;
        Stream->OverlayBufferSizes[i] = 0;
    }
    ReleaseOverlayLock(Stream, oldIrql);
}

} // namespace

BOOLEAN AllocateOverlayBuffers(StreamContext* Stream)
{
    if (Stream == nullptr || !EnterOverlayGate(Stream)) {
        return FALSE;
    }
    BOOLEAN allocated = TRUE;
    if (Stream->OverlayBuffers[OverlayPictureFile] == nullptr) {
        PUCHAR buffers[OVERLAY_BUFFER_COUNT] = {};
        allocated = AllocateAll(buffers);
        if (allocated) {
            Publish(Stream, buffers);
        }
    }
    LeaveOverlayGate(Stream);
    return allocated;
}

VOID FreeOverlayBuffers(StreamContext* Stream)
{
    if (Stream == nullptr) {
        return;
    }
    // Stream close runs at PASSIVE_LEVEL and so waits for a running load;
    // above it the gate cannot be waited for and the buffers go without it.
    const BOOLEAN gated = EnterOverlayGate(Stream);
    PUCHAR buffers[OVERLAY_BUFFER_COUNT] = {};
    Withdraw(Stream, buffers);
    FreeAll(buffers);
    if (gated) {
        LeaveOverlayGate(Stream);
    }
}
