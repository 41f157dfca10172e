// Shared pieces of the I420 conversion: the chroma terms per byte value and
// where a pixel finds its chroma sample.
#pragma once

#include "platform/Platform.h"

struct tagChromaTables {
    SHORT sBlue[256];   // u * 1772 / 1000
    SHORT sGreenU[256]; // (u * -3441) / 10000
    SHORT sGreenV[256]; // (v * 7141) / 10000, subtracted
    SHORT sRed[256];    // v * 1402 / 1000
};
static_assert(sizeof(tagChromaTables) == 2048);

constexpr tagChromaTables MakeChromaTables()
{
    tagChromaTables tables = {};
    for (int value = 0; value < 256; ++value) {
        const int centred = value - 128;
        tables.sBlue[value] = static_cast<SHORT>(centred * 1772 / 1000);
        tables.sGreenU[value] = static_cast<SHORT>((centred * -3441) / 10000);
        tables.sGreenV[value] = static_cast<SHORT>((centred * 7141) / 10000);
        tables.sRed[value] = static_cast<SHORT>(centred * 1402 / 1000);
    }
    return tables;
}

inline constexpr tagChromaTables CHROMA_TABLES = MakeChromaTables();

// Index of the chroma sample for luma index Index in a chroma line or column
// of Count samples: Index / 2, held at the last sample. Count must be > 0.
inline ULONG ChromaIndex(ULONG Index, ULONG Count)
{
    const ULONG half = Index / 2;
    return half < Count ? half : Count - 1;
}

inline UCHAR ClampToByte(LONG Value)
{
    return static_cast<UCHAR>(Value < 0 ? 0 : (Value > 255 ? 255 : Value));
}
