// Loading an overlay frame: the names from the registry, both files read and
// checked outside the lock, then picture, its I420 form and mask replaced
// together under the overlay lock.
#include "stream/OverlayFrames.h"
#include "runtime/FloatingPointState.h"

#include "effects/VideoEffects.h"
#include "stream/OverlayBitmap.h"
#include "stream/OverlayFileNames.h"
#include "stream/OverlayFileReader.h"
#include "stream/OverlayGuards.h"

#include <cstring>

namespace {

BOOLEAN ReadBitmap(PCWSTR Name, PUCHAR File, ULONG Capacity, ULONG Required, PBITMAP_PIXELS Pixels)
{
    ULONG bytes = 0;
    return ReadOverlayFile(Name, File, Capacity, &bytes) && FindBitmapPixels(File, bytes, Required, Pixels);
}

VOID ClearFileBuffers(StreamContext* Stream)
{
    memset(Stream->OverlayBuffers[OverlayPictureFile], 0, Stream->OverlayBufferSizes[OverlayPictureFile]);
    memset(Stream->OverlayBuffers[OverlayMaskFile], 0, Stream->OverlayBufferSizes[OverlayMaskFile]);
}

VOID CopyPixels(StreamContext* Stream, ULONG From, const BITMAP_PIXELS& Pixels, ULONG To)
{
    const ULONG room = Stream->OverlayBufferSizes[To];
    memcpy(Stream->OverlayBuffers[To], Stream->OverlayBuffers[From] + Pixels.ulOffset,
           Pixels.ulLength < room ? Pixels.ulLength : room);
}

// A picture that cannot be converted (no effects object ready) leaves the
// I420 form all zero rather than the previous frame's.
VOID ConvertPictureToI420(StreamContext* Stream)
{
    VE_PICTURE source = {sizeof(VE_PICTURE), Stream->OverlayBuffers[OverlayPicture], OVERLAY_PICTURE_BYTES, 0};
    VE_PICTURE destination = {sizeof(VE_PICTURE), Stream->OverlayBuffers[OverlayPictureI420], OVERLAY_I420_BYTES,
                              0};
    CFloatingPointState floatingPoint;
    if (Stream->Effects == nullptr || !floatingPoint.Saved() ||
        Stream->Effects->ConvertBgrToI420(&source, &destination) != VE_SUCCESS) {
        memset(Stream->OverlayBuffers[OverlayPictureI420], 0, Stream->OverlayBufferSizes[OverlayPictureI420]);
    }
}

BOOLEAN LoadWithinGate(ULONG FrameNumber, StreamContext* Stream)
{
    if (Stream->OverlayBuffers[OverlayPictureFile] == nullptr) {
        return FALSE;
    }
    ClearFileBuffers(Stream);
    OVERLAY_FILE_NAMES names;
    BITMAP_PIXELS picture = {};
    BITMAP_PIXELS mask = {};
    if (!ReadOverlayFileNames(FrameNumber, &names) ||
        !ReadBitmap(names.wszPicture, Stream->OverlayBuffers[OverlayPictureFile],
                    Stream->OverlayBufferSizes[OverlayPictureFile], OVERLAY_PICTURE_BYTES, &picture) ||
        !ReadBitmap(names.wszMask, Stream->OverlayBuffers[OverlayMaskFile],
                    Stream->OverlayBufferSizes[OverlayMaskFile], OVERLAY_MASK_BYTES, &mask)) {
        ClearFileBuffers(Stream);
        return FALSE;
    }
    const KIRQL oldIrql = AcquireOverlayLock(Stream);
    CopyPixels(Stream, OverlayPictureFile, picture, OverlayPicture);
    ConvertPictureToI420(Stream);
    CopyPixels(Stream, OverlayMaskFile, mask, OverlayMask);
    ReleaseOverlayLock(Stream, oldIrql);
    return TRUE;
}

} // namespace

BOOLEAN LoadOverlayFrame(ULONG FrameNumber, DeviceContext* Device)
{
    if (Device == nullptr || Device->Stream == nullptr) {
        return FALSE;
    }
    StreamContext* stream = Device->Stream;
    if (!EnterOverlayGate(stream)) {
        return FALSE;
    }
    const BOOLEAN loaded = LoadWithinGate(FrameNumber, stream);
    LeaveOverlayGate(stream);
    return loaded;
}
