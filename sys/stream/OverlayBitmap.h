// Where the pixels of an overlay bitmap file start and how many there are.
// Only the 32-bit little-endian pixel-data offset at byte 10 of the file
// header is read; everything from there to the end of the file is pixel data.
#pragma once

#include "platform/Platform.h"

constexpr ULONG BITMAP_FILE_HEADER_BYTES = 14;
constexpr ULONG BITMAP_PIXEL_OFFSET_AT = 10;

typedef struct tagBitmapPixels {
    ULONG ulOffset; // first pixel byte in the file
    ULONG ulLength; // bytes from there to the end of the file
} BITMAP_PIXELS, *PBITMAP_PIXELS;
static_assert(sizeof(tagBitmapPixels) == 8);

// FALSE for a file too short to hold the offset, an offset beyond the file's
// end, or fewer pixel bytes than ulRequired (a picture that would leave part
// of the old one in place).
BOOLEAN FindBitmapPixels(const UCHAR* pucFile, ULONG ulFileBytes, ULONG ulRequired, PBITMAP_PIXELS pPixels);
