// Luma extraction and the 1 2 1 / 2 4 2 / 1 2 1 smoothers.
#include "platform/CpuFeatures.h"
#include "imageprocess/ImageHelpers.h"
#include "imageprocess/ImageHelpersKernels.h"

#include <cstring>
#include <emmintrin.h>

namespace {

inline int SmoothAt(const UCHAR* p, LONG_PTR lStride)
{
    const UCHAR* u = p - lStride;
    const UCHAR* d = p + lStride;
    return (u[-1] + 2 * u[0] + u[1] + 2 * p[-1] + 4 * p[0] + 2 * p[1] + d[-1] + 2 * d[0] + d[1]) >> 4;
}

void CopyEdgeRows(SHORT* psSmooth, ULONG ulWidth, ULONG ulHeight)
{
    const SIZE_T cbRow = ulWidth * sizeof(SHORT);
    memcpy(psSmooth, psSmooth + ulWidth, cbRow);
    memcpy(psSmooth + static_cast<SIZE_T>(ulHeight - 1) * ulWidth,
           psSmooth + static_cast<SIZE_T>(ulHeight - 2) * ulWidth, cbRow);
}

} // namespace

KORVAL_SSE2_BEGIN

namespace {

inline __m128i RowSum(const UCHAR* p)
{
    const __m128i vZero = _mm_setzero_si128();
    const __m128i vLeft = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p - 1)), vZero);
    const __m128i vMid = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), vZero);
    const __m128i vRight = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 1)), vZero);
    return _mm_add_epi16(_mm_add_epi16(vLeft, vRight), _mm_add_epi16(vMid, vMid));
}

// 1 2 1 down the column of each byte of the 16 at p, as the sums of the even
// bytes and of the odd bytes in 16-bit lanes.
struct tagColumnSums {
    __m128i vEven;
    __m128i vOdd;
};

inline tagColumnSums ColumnSums(const UCHAR* p, ULONG ulWidth)
{
    const __m128i vLow = _mm_set1_epi16(0x00FF);
    const __m128i vUp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - ulWidth));
    const __m128i vMid = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i vDown = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + ulWidth));
    const __m128i vEvenMid = _mm_and_si128(vMid, vLow);
    const __m128i vOddMid = _mm_srli_epi16(vMid, 8);
    const __m128i vEven = _mm_add_epi16(_mm_add_epi16(_mm_and_si128(vUp, vLow), _mm_and_si128(vDown, vLow)),
                                        _mm_add_epi16(vEvenMid, vEvenMid));
    const __m128i vOdd = _mm_add_epi16(_mm_add_epi16(_mm_srli_epi16(vUp, 8), _mm_srli_epi16(vDown, 8)),
                                       _mm_add_epi16(vOddMid, vOddMid));
    return {vEven, vOdd};
}

// Sixteen columns per step from column c while a step ends left of the last
// column: the column sums at c - 1 and c + 1, split into even and odd bytes,
// give columns c + 2j and c + 1 + 2j without widening each load three times.
ULONG SmoothRowSse2(const UCHAR* pucRow, SHORT* psRow, ULONG ulWidth, ULONG c)
{
    for (; c + 17 <= ulWidth; c += 16) {
        const tagColumnSums sLeft = ColumnSums(pucRow + c - 1, ulWidth);
        const tagColumnSums sRight = ColumnSums(pucRow + c + 1, ulWidth);
        const __m128i vAtEven = _mm_add_epi16(_mm_add_epi16(sLeft.vEven, sRight.vEven),
                                              _mm_add_epi16(sLeft.vOdd, sLeft.vOdd));
        const __m128i vAtOdd = _mm_add_epi16(_mm_add_epi16(sLeft.vOdd, sRight.vOdd),
                                             _mm_add_epi16(sRight.vEven, sRight.vEven));
        const __m128i vEven = _mm_srli_epi16(vAtEven, 4);
        const __m128i vOdd = _mm_srli_epi16(vAtOdd, 4);
        __m128i* pvOut = reinterpret_cast<__m128i*>(psRow + c);
        _mm_storeu_si128(pvOut, _mm_unpacklo_epi16(vEven, vOdd));
        _mm_storeu_si128(pvOut + 1, _mm_unpackhi_epi16(vEven, vOdd));
    }
    for (; c + 9 <= ulWidth; c += 8) {
        const __m128i vMid = RowSum(pucRow + c);
        __m128i vSum = _mm_add_epi16(RowSum(pucRow - ulWidth + c), RowSum(pucRow + ulWidth + c));
        vSum = _mm_add_epi16(vSum, _mm_add_epi16(vMid, vMid));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(psRow + c), _mm_srli_epi16(vSum, 4));
    }
    return c;
}

} // namespace

KORVAL_SSE2_END

namespace {

ULONG SmoothRowVector(const UCHAR* pucRow, SHORT* psRow, ULONG ulWidth)
{
    ULONG c = 1;
    if constexpr (kAvx2Compiled) {
        if (CpuHasAvx2()) {
            c = SmoothRowAvx2(pucRow, psRow, ulWidth);
        }
    }
    return CpuHasSse2() ? SmoothRowSse2(pucRow, psRow, ulWidth, c) : c;
}

} // namespace

bool CImageHelpers::BGRtoY(const UCHAR* pucPicture, UCHAR* pucPlane, ULONG ulWidth, ULONG ulHeight)
{
    if (pucPicture == nullptr || pucPlane == nullptr) {
        return false;
    }
    const SIZE_T cPixels = static_cast<SIZE_T>(ulWidth) * ulHeight;
    SIZE_T i = 0;
    if (cPixels >= 16) {
        if constexpr (kAvx2Compiled) {
            if (CpuHasAvx2()) {
                i = cPixels & ~static_cast<SIZE_T>(15);
                GreenRowAvx2(pucPicture, pucPlane, static_cast<ULONG>(i));
            }
        }
        if (i == 0 && CpuHasSsse3()) {
            i = cPixels & ~static_cast<SIZE_T>(15);
            GreenRowSsse3(pucPicture, pucPlane, static_cast<ULONG>(i));
        }
    }
    for (; i < cPixels; ++i) {
        pucPlane[i] = pucPicture[3 * i + 1];
    }
    return true;
}

void CImageHelpers::SmoothBufferReference(const UCHAR* pucPlane, SHORT* psSmooth, ULONG ulWidth, ULONG ulHeight)
{
    memset(psSmooth, 0, static_cast<SIZE_T>(ulWidth) * ulHeight * sizeof(SHORT));
    if (ulWidth < 3 || ulHeight < 3) {
        return;
    }
    for (ULONG r = 1; r + 1 < ulHeight; ++r) {
        for (ULONG c = 1; c + 1 < ulWidth; ++c) {
            const SIZE_T i = static_cast<SIZE_T>(r) * ulWidth + c;
            psSmooth[i] = static_cast<SHORT>(SmoothAt(pucPlane + i, ulWidth));
        }
    }
    CopyEdgeRows(psSmooth, ulWidth, ulHeight);
}

// Sixteen, then eight columns per step on 16-bit lanes; the narrow right end runs per pixel.
void CImageHelpers::SmoothBuffer(const UCHAR* pucPlane, SHORT* psSmooth, ULONG ulWidth, ULONG ulHeight)
{
    if (ulWidth < 3 || ulHeight < 3) {
        memset(psSmooth, 0, static_cast<SIZE_T>(ulWidth) * ulHeight * sizeof(SHORT));
        return;
    }
    for (ULONG r = 1; r + 1 < ulHeight; ++r) {
        const UCHAR* pucRow = pucPlane + static_cast<SIZE_T>(r) * ulWidth;
        SHORT* psRow = psSmooth + static_cast<SIZE_T>(r) * ulWidth;
        psRow[0] = 0;
        psRow[ulWidth - 1] = 0;
        ULONG c = SmoothRowVector(pucRow, psRow, ulWidth);
        for (; c + 1 < ulWidth; ++c) {
            psRow[c] = static_cast<SHORT>(SmoothAt(pucRow + c, ulWidth));
        }
    }
    CopyEdgeRows(psSmooth, ulWidth, ulHeight);
}

// The same kernel on an 8-bit plane; the result, with a 2-pixel frame of 0,
// replaces the source.
void CImageHelpers::SmoothExtBuffer(UCHAR* pucPlane, UCHAR* pucScratch, ULONG ulWidth, ULONG ulHeight)
{
    if (pucPlane == nullptr || pucScratch == nullptr) {
        return;
    }
    const SIZE_T cbPlane = static_cast<SIZE_T>(ulWidth) * ulHeight;
    memset(pucScratch, 0, cbPlane);
    for (ULONG r = 2; r + 2 < ulHeight; ++r) {
        for (ULONG c = 2; c + 2 < ulWidth; ++c) {
            const SIZE_T i = static_cast<SIZE_T>(r) * ulWidth + c;
            pucScratch[i] = static_cast<UCHAR>(SmoothAt(pucPlane + i, ulWidth));
        }
    }
    memcpy(pucPlane, pucScratch, cbPlane);
}
