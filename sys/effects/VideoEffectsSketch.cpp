// Relief and the Sobel sketches. Both work on the picture as one run of bytes:
// a neighbour is 3 bytes (one pixel) or one line away, across line breaks too.
#include <immintrin.h>
#include "platform/CpuFeatures.h"

#include <cstring>

#include "effects/EffectKernels.h"
#include "effects/SimdDispatch.h"

namespace {

constexpr LONG kReliefMid = 128;

VOID FillLines(PUCHAR pucPicture, ULONG ulStride, ULONG ulFirst, ULONG ulCount, UCHAR ucValue)
{
    memset(pucPicture + static_cast<SIZE_T>(ulFirst) * ulStride, ucValue, static_cast<SIZE_T>(ulCount) * ulStride);
}

// Relief lines 4 .. height − 5 as bytes [cbFrom, cbTo).
VOID ReliefBytesReference(const UCHAR* pucSource, PUCHAR pucDestination, SIZE_T cbDistance, SIZE_T cbFrom, SIZE_T cbTo)
{
    for (SIZE_T i = cbFrom; i < cbTo; ++i) {
        pucDestination[i] = VeClampByte(kReliefMid + pucSource[i + cbDistance] - pucSource[i]);
    }
}

VOID ReliefFrame(PUCHAR pucDestination, ULONG ulStride, ULONG ulHeight)
{
    const ULONG ulTop = ulHeight < 4 ? ulHeight : 4;
    FillLines(pucDestination, ulStride, 0, ulTop, kReliefMid);
    const ULONG ulBottom = ulHeight < 8 ? ulHeight - ulTop : 4;
    FillLines(pucDestination, ulStride, ulHeight - ulBottom, ulBottom, kReliefMid);
}

// The byte at linear index lIndex, with the few indexes before the first or after
// the last byte taken from the nearest pixel's same channel.
inline LONG SketchByte(const UCHAR* pucSource, LONG_PTR lIndex, LONG_PTR lTotal)
{
    if (lIndex < 0) {
        lIndex += 3;
    } else if (lIndex >= lTotal) {
        lIndex -= 3;
    }
    return pucSource[lIndex];
}

UCHAR SketchValue(const UCHAR* pucSource, LONG_PTR i, LONG_PTR lStride, LONG_PTR lTotal, ULONG ulShift)
{
    auto at = [&](LONG_PTR lOffset) { return SketchByte(pucSource, i + lOffset, lTotal); };
    const LONG lGx = (at(-lStride + 3) + 2 * at(3) + at(lStride + 3)) - (at(-lStride - 3) + 2 * at(-3) + at(lStride - 3));
    const LONG lGy = (at(lStride - 3) + 2 * at(lStride) + at(lStride + 3)) - (at(-lStride - 3) + 2 * at(-lStride) + at(-lStride + 3));
    LONG lEdge = ((lGx < 0 ? -lGx : lGx) + (lGy < 0 ? -lGy : lGy)) >> ulShift;
    return static_cast<UCHAR>(255 - (lEdge > 255 ? 255 : lEdge));
}

VOID SketchBytesReference(const UCHAR* pucSource, PUCHAR pucDestination, LONG_PTR lStride, LONG_PTR lTotal,
                          LONG_PTR lFrom, LONG_PTR lTo, ULONG ulShift)
{
    for (LONG_PTR i = lFrom; i < lTo; ++i) {
        pucDestination[i] = SketchValue(pucSource, i, lStride, lTotal, ulShift);
    }
}

} // namespace

KORVAL_SSE2_BEGIN

namespace SketchSse2 {

// SSE2 has no absolute value of words: the larger of the value and its negation.
inline __m128i VeAbs16(__m128i a) { return _mm_max_epi16(a, _mm_sub_epi16(_mm_setzero_si128(), a)); }

} // namespace SketchSse2

#define VE_SKETCH_NAMESPACE SketchSse2
#define VE_SKETCH_VECTOR __m128i
#define VE_SKETCH_WORDS(op) _mm_##op##_epi16
#define VE_SKETCH_BYTES(op) _mm_##op##_epi8
#define VE_SKETCH_WHOLE(op) _mm_##op##_si128
#include "effects/SketchKernel.inl"

KORVAL_SSE2_END

namespace {

// The camera's output widths leave the last pixels of each sketched line black.
ULONG BlackTailPixels(ULONG ulWidth)
{
    if (ulWidth == 640 || ulWidth == 320) {
        return 4;
    }
    return ulWidth == 160 ? 2 : 0;
}

VOID SketchEdges(PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight)
{
    const SIZE_T cbStride = static_cast<SIZE_T>(ulWidth) * 3;
    // Lines 0 and height − 1 have no neighbours on one side: they are written
    // white (no edge) rather than left as they were, which would show the
    // lines of whatever picture the destination held before.
    FillLines(pucDestination, static_cast<ULONG>(cbStride), 0, 1, 255);
    FillLines(pucDestination, static_cast<ULONG>(cbStride), ulHeight - 1, 1, 255);
    const ULONG ulTail = BlackTailPixels(ulWidth);
    for (ULONG y = 1; ulTail != 0 && y + 1 < ulHeight; ++y) {
        memset(pucDestination + y * cbStride + (ulWidth - ulTail) * 3, 0, ulTail * 3);
    }
}

} // namespace

KORVAL_SSE2_BEGIN

LONG_PTR VeSketchBlocksSse2(const UCHAR* pucSource, PUCHAR pucDestination, LONG_PTR lStride, LONG_PTR lFrom,
                            LONG_PTR lTo, ULONG ulShift)
{
    return SketchSse2::SketchBlocks(pucSource, pucDestination, lStride, lFrom, lTo, ulShift);
}

namespace {

// The relief 16 bytes a step; returns the first byte not done.
SIZE_T ReliefBlocksSse2(const UCHAR* pucSource, PUCHAR pucDestination, SIZE_T cbDistance, SIZE_T i, SIZE_T cbEnd)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i mid = _mm_set1_epi16(kReliefMid);
    for (; i + 16 <= cbEnd; i += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucSource + i));
        const __m128i later = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucSource + i + cbDistance));
        const __m128i low = _mm_sub_epi16(_mm_add_epi16(mid, _mm_unpacklo_epi8(later, zero)), _mm_unpacklo_epi8(here, zero));
        const __m128i high = _mm_sub_epi16(_mm_add_epi16(mid, _mm_unpackhi_epi8(later, zero)), _mm_unpackhi_epi8(here, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucDestination + i), _mm_packus_epi16(low, high));
    }
    return i;
}

} // namespace

KORVAL_SSE2_END

VOID VeReliefReference(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight)
{
    const ULONG ulStride = ulWidth * 3;
    ReliefFrame(pucDestination, ulStride, ulHeight);
    if (ulHeight >= 9) {
        ReliefBytesReference(pucSource, pucDestination, 3 * static_cast<SIZE_T>(ulStride),
                             4 * static_cast<SIZE_T>(ulStride), static_cast<SIZE_T>(ulHeight - 4) * ulStride);
    }
}

VOID VeRelief(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight)
{
    const ULONG ulStride = ulWidth * 3;
    ReliefFrame(pucDestination, ulStride, ulHeight);
    if (ulHeight < 9) {
        return;
    }
    const SIZE_T cbDistance = 3 * static_cast<SIZE_T>(ulStride);
    const SIZE_T cbEnd = static_cast<SIZE_T>(ulHeight - 4) * ulStride;
    SIZE_T i = 4 * static_cast<SIZE_T>(ulStride);
    if (CpuHasSse2()) {
        i = ReliefBlocksSse2(pucSource, pucDestination, cbDistance, i, cbEnd);
    }
    ReliefBytesReference(pucSource, pucDestination, cbDistance, i, cbEnd);
}

VOID VeSketchReference(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight, ULONG ulShift)
{
    if (ulHeight < 2 || ulWidth == 0) {
        FillLines(pucDestination, ulWidth * 3, 0, ulHeight, 255);
        return;
    }
    const LONG_PTR lStride = static_cast<LONG_PTR>(ulWidth) * 3;
    const LONG_PTR lTotal = lStride * ulHeight;
    SketchBytesReference(pucSource, pucDestination, lStride, lTotal, lStride, lTotal - lStride, ulShift);
    SketchEdges(pucDestination, ulWidth, ulHeight);
}

VOID VeSketch(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight, ULONG ulShift)
{
    if (ulHeight < 3 || ulWidth < 2) {
        VeSketchReference(pucSource, pucDestination, ulWidth, ulHeight, ulShift);
        return;
    }
    const LONG_PTR lStride = static_cast<LONG_PTR>(ulWidth) * 3;
    const LONG_PTR lTotal = lStride * ulHeight;
    const LONG_PTR lEnd = lTotal - lStride;
    // The first and last pixel of the run reach past the picture: done plainly.
    SketchBytesReference(pucSource, pucDestination, lStride, lTotal, lStride, lStride + 3, ulShift);
    LONG_PTR i = lStride + 3;
    if constexpr (kAvx2Compiled) {
        if (VeHasAvx2()) {
            i = VeSketchBlocksAvx2(pucSource, pucDestination, lStride, lStride + 3, lEnd - 3, ulShift);
        }
    }
    if (i == lStride + 3 && CpuHasSse2()) {
        i = VeSketchBlocksSse2(pucSource, pucDestination, lStride, lStride + 3, lEnd - 3, ulShift);
    }
    SketchBytesReference(pucSource, pucDestination, lStride, lTotal, i, lEnd, ulShift);
    SketchEdges(pucDestination, ulWidth, ulHeight);
}
