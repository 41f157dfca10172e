#include "stream/OverlayBitmap.h"

BOOLEAN FindBitmapPixels(const UCHAR* pucFile, ULONG ulFileBytes, ULONG ulRequired, PBITMAP_PIXELS pPixels)
{
    if (pucFile == nullptr || pPixels == nullptr || ulFileBytes < BITMAP_FILE_HEADER_BYTES) {
        return FALSE;
    }
    const UCHAR* pucOffset = pucFile + BITMAP_PIXEL_OFFSET_AT;
    const ULONG ulOffset = pucOffset[0] | (static_cast<ULONG>(pucOffset[1]) << 8) |
                           (static_cast<ULONG>(pucOffset[2]) << 16) | (static_cast<ULONG>(pucOffset[3]) << 24);
    if (ulOffset > ulFileBytes || ulFileBytes - ulOffset < ulRequired) {
        return FALSE;
    }
    pPixels->ulOffset = ulOffset;
    pPixels->ulLength = ulFileBytes - ulOffset;
    return TRUE;
}
