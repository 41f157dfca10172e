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
#define KORVAL_SIMD_BITS 128
#include "platform/SimdLanes.inl"

inline Lanes Widen(const UCHAR* q)
{
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), _mm_setzero_si128());
}

// 1 2 1 down the column of each of the 16 bytes at p, the even bytes and the
// odd bytes apart in 16-bit lanes.
struct tagColumnSums {
    Lanes vEven;
    Lanes vOdd;
};

inline tagColumnSums ColumnSums(const UCHAR* p, ULONG ulWidth)
{
    const Lanes vLow = Set16(0x00FF);
    const Lanes vUp = LoadBytes(p - ulWidth);
    const Lanes vMid = LoadBytes(p);
    const Lanes vDown = LoadBytes(p + ulWidth);
    const Lanes vEvenMid = And(vMid, vLow);
    const Lanes vOddMid = ShiftRight16<8>(vMid);
    return {Add16(Add16(And(vUp, vLow), And(vDown, vLow)), Add16(vEvenMid, vEvenMid)),
            Add16(Add16(ShiftRight16<8>(vUp), ShiftRight16<8>(vDown)), Add16(vOddMid, vOddMid))};
}

// The column sums one column to the right: lane j of each half moves to lane
// j - 1, and the last lane comes from the sums of the next step (16 columns on).
inline tagColumnSums ShiftedByOneColumn(const tagColumnSums& sHere, const tagColumnSums& sNext)
{
    return {Or(_mm_srli_si128(sHere.vEven, 2), _mm_slli_si128(sNext.vEven, 14)),
            Or(_mm_srli_si128(sHere.vOdd, 2), _mm_slli_si128(sNext.vOdd, 14))};
}

// Sixteen smoothed columns from the column sums at c - 1 and at c + 1.
inline void StoreSmoothed(SHORT* psOut, const tagColumnSums& sLeft, const tagColumnSums& sRight)
{
    const Lanes vEven = ShiftRight16<4>(Add16(Add16(sLeft.vEven, sRight.vEven), Add16(sLeft.vOdd, sLeft.vOdd)));
    const Lanes vOdd = ShiftRight16<4>(Add16(Add16(sLeft.vOdd, sRight.vOdd), Add16(sRight.vEven, sRight.vEven)));
    UCHAR* pucOut = reinterpret_cast<UCHAR*>(psOut);
    StoreBytes(pucOut, UnpackLow16(vEven, vOdd));
    StoreBytes(pucOut + sizeof(Lanes), UnpackHigh16(vEven, vOdd));
}

// Sixteen columns a step from column c while a step ends left of the last
// column: the column sums at c - 1 and c + 1, split into even and odd bytes,
// give columns c + 2j and c + 1 + 2j from two loads a row instead of three
// widened loads per eight columns. While a next step follows, the sums at
// c + 1 are those at c - 1 moved by a column, with the next step's first
// lane, so each step loads and sums only one set. Returns the first column
// not done.
ULONG SmoothRowSplitSse2(const UCHAR* pucRow, SHORT* psRow, ULONG ulWidth, ULONG c)
{
    if (c + 17 > ulWidth) {
        return c;
    }
    tagColumnSums sLeft = ColumnSums(pucRow + c - 1, ulWidth);
    for (; c + 33 <= ulWidth; c += 16) {
        const tagColumnSums sNext = ColumnSums(pucRow + c + 15, ulWidth);
        StoreSmoothed(psRow + c, sLeft, ShiftedByOneColumn(sLeft, sNext));
        sLeft = sNext;
    }
    StoreSmoothed(psRow + c, sLeft, ColumnSums(pucRow + c + 1, ulWidth));
    return c + 16;
}
} // namespace

#define IH_SIMD_NAME(name) name##Sse2
#include "imageprocess/ImageHelpersSmoothRows.inl"
#undef IH_SIMD_NAME

KORVAL_SSE2_END

namespace {

ULONG SmoothRowVector(const UCHAR* pucRow, SHORT* psRow, ULONG ulWidth)
{
    ULONG c = 1;
    if constexpr (kAvx2Compiled) {
        if (CpuHasAvx2()) {
            c = SmoothRowAvx2(pucRow, psRow, ulWidth, c);
        }
    }
    return CpuHasSse2() ? SmoothRowSse2(pucRow, psRow, ulWidth, SmoothRowSplitSse2(pucRow, psRow, ulWidth, c)) : c;
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

// Sixteen or eight columns per step on 16-bit lanes; the narrow right end runs per pixel.
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
