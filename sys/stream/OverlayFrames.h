// Overlay frames: a decorative 352 × 288 picture and its blend mask, loaded
// from two bitmap files named in the registry and laid over every delivered
// picture. The stream context owns the five buffers from open to close.
#pragma once

#include "base/DeviceContext.h"
#include "stream/StreamContext.h"

// Indices into StreamContext::OverlayBuffers and OverlayBufferSizes.
enum OVERLAY_BUFFER : ULONG {
    OverlayPictureFile = 0, // the picture file as read
    OverlayMaskFile = 1,    // the mask file as read
    OverlayPicture = 2,     // BGR pixels, bottom line first, as in the file
    OverlayMask = 3,        // 8-bit weights, bottom line first
    OverlayPictureI420 = 4, // the picture in I420, same line order
};

constexpr ULONG OVERLAY_WIDTH = 352;
constexpr ULONG OVERLAY_HEIGHT = 288;
constexpr ULONG OVERLAY_PICTURE_BYTES = OVERLAY_WIDTH * OVERLAY_HEIGHT * 3; // 304128
constexpr ULONG OVERLAY_MASK_BYTES = OVERLAY_WIDTH * OVERLAY_HEIGHT;        // 101376
constexpr ULONG OVERLAY_I420_BYTES = OVERLAY_MASK_BYTES * 3 / 2;            // 152064

extern const ULONG OverlayBufferBytes[OVERLAY_BUFFER_COUNT];

// Stream open: the five buffers, the pictures zero-filled. Buffers already
// present are kept. FALSE (and nothing allocated) when the pool runs out.
BOOLEAN AllocateOverlayBuffers(StreamContext* Stream);
// Stream close: frees the buffers and nulls pointers and sizes.
VOID FreeOverlayBuffers(StreamContext* Stream);

// Loads frame FrameNumber (registry value "FN%.4d" under Parameters\Frame)
// into the stream's overlay buffers; TRUE when both files were loaded.
// PASSIVE_LEVEL only. Either the picture and the mask are both replaced or
// neither is.
BOOLEAN LoadOverlayFrame(ULONG FrameNumber, DeviceContext* Device);

// Blends the loaded frame over Source into Destination (the stream's output
// format and size); FALSE when the current frame number is 0 or the blend
// could not run, and the caller then delivers Source.
BOOLEAN ApplyOverlayFrame(PVOID Source, ULONG SourceLength, PVOID Destination, ULONG DestinationLength,
                          DeviceContext* Device);
