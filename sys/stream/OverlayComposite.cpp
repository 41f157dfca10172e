// The per-picture blend of the loaded overlay frame, under the overlay lock so
// that a load never replaces the pixels half way through a picture.
#include "stream/OverlayFrames.h"

#include "effects/VideoEffects.h"
#include "stream/OverlayGuards.h"

BOOLEAN ApplyOverlayFrame(PVOID Source, ULONG SourceLength, PVOID Destination, ULONG DestinationLength,
                          DeviceContext* Device)
{
    if (Device == nullptr || Device->CurOverlayFrame == 0 || Device->Stream == nullptr ||
        Device->Stream->Effects == nullptr) {
        return FALSE;
    }
    StreamContext* stream = Device->Stream;
    const ULONG overlayIndex = stream->IsI420 ? OverlayPictureI420 : OverlayPicture;
    VE_PICTURE source = {sizeof(VE_PICTURE), static_cast<PUCHAR>(Source), SourceLength, 0};
    VE_PICTURE destination = {sizeof(VE_PICTURE), static_cast<PUCHAR>(Destination), DestinationLength, 0};
    const KIRQL oldIrql = AcquireOverlayLock(stream);
    // Null buffers (stream closed) make the compositor refuse with its null code.
    VE_PICTURE overlay = {sizeof(VE_PICTURE), stream->OverlayBuffers[overlayIndex],
                          stream->OverlayBufferSizes[overlayIndex], 0};
    VE_PICTURE mask = {sizeof(VE_PICTURE), stream->OverlayBuffers[OverlayMask], stream->OverlayBufferSizes[OverlayMask],
                       0};
    const ULONG result = stream->Effects->Composite(&overlay, &mask, &source, &destination);
    ReleaseOverlayLock(stream, oldIrql);
    return result == VE_SUCCESS;
}
