// Crops, the black border, 2x enlargement and 2x reduction of BGR24 pictures.
#include "platform/CpuFeatures.h"
#include "imageprocess/ImageHelpers.h"
#include "imageprocess/ImageHelpersKernels.h"

#include <cstring>
#include <emmintrin.h>

namespace {

bool CropRows(const UCHAR* pucSource, UCHAR* pucCrop, ULONG ulWidth, ULONG ulHeight, ULONG ulCropWidth,
              ULONG ulCropHeight, ULONG ulBytesPerPixel)
{
    if (pucSource == nullptr || pucCrop == nullptr || ulCropWidth > ulWidth || ulCropHeight > ulHeight) {
        DbgPrint("\tERROR: Invalid Parameters in CropBuffer\n");
        return false;
    }
    const SIZE_T cbSourceRow = static_cast<SIZE_T>(ulWidth) * ulBytesPerPixel;
    const SIZE_T cbCropRow = static_cast<SIZE_T>(ulCropWidth) * ulBytesPerPixel;
    const UCHAR* pucRow = pucSource + ((ulHeight - ulCropHeight) >> 1) * cbSourceRow +
                          ((ulWidth - ulCropWidth) >> 1) * static_cast<SIZE_T>(ulBytesPerPixel);
    for (ULONG r = 0; r < ulCropHeight; ++r) {
        memcpy(pucCrop + r * cbCropRow, pucRow + r * cbSourceRow, cbCropRow);
    }
    return true;
}

inline UCHAR HalfSum(UCHAR a, UCHAR b)
{
    return static_cast<UCHAR>((a >> 1) + (b >> 1));
}

inline ULONGLONG Load64(const UCHAR* p)
{
    ULONGLONG ullValue;
    memcpy(&ullValue, p, sizeof(ullValue));
    return ullValue;
}

} // namespace

KORVAL_SSE2_BEGIN

namespace {

SIZE_T HalfSumRowsSse2(const UCHAR* pucUpper, const UCHAR* pucLower, UCHAR* pucOut, SIZE_T cbRow)
{
    const __m128i vMask = _mm_set1_epi8(0x7F);
    SIZE_T i = 0;
    for (; i + 16 <= cbRow; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucUpper + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucLower + i));
        const __m128i vSum = _mm_add_epi8(_mm_and_si128(_mm_srli_epi16(a, 1), vMask),
                                          _mm_and_si128(_mm_srli_epi16(b, 1), vMask));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucOut + i), vSum);
    }
    return i;
}

} // namespace

KORVAL_SSE2_END

namespace {

// Odd destination rows average the even rows around them, 16 bytes a step.
void HalfSumRows(const UCHAR* pucUpper, const UCHAR* pucLower, UCHAR* pucOut, SIZE_T cbRow)
{
    SIZE_T i = CpuHasSse2() ? HalfSumRowsSse2(pucUpper, pucLower, pucOut, cbRow) : 0;
    for (; i < cbRow; ++i) {
        pucOut[i] = HalfSum(pucUpper[i], pucLower[i]);
    }
}

// One even destination row: each source pixel followed by its half-sum with
// the next pixel in memory. A 64-bit word holds a pixel and its successor; the
// 8-byte store overlaps into the next pair, which the next step rewrites.
void ScaleRow(const UCHAR* pucSource, UCHAR* pucOut, ULONG ulWidth, bool bLastRow)
{
    const ULONGLONG ullHalfMask = 0x7F7F7F7F7F7F7F7FULL;
    // The word read for pixel i spans bytes 3i..3i+7; near the end of the last
    // row it would pass the one pixel beyond the row that the rule reads.
    const ULONG ulWordPixels = bLastRow ? (ulWidth >= 1 ? ulWidth - 1 : 0) : ulWidth;
    // The rule reads up to one pixel past the row (into the next row, or just
    // past the last one), and no further.
    ULONG i = 0;
    if constexpr (kAvx2Compiled) {
        i = CpuHasAvx2() ? ScaleRowAvx2(pucSource, pucOut, ulWidth + 1) : 0;
    }
    for (; i + 1 < ulWordPixels; ++i) {
        const ULONGLONG x = Load64(pucSource + 3 * static_cast<SIZE_T>(i));
        const ULONGLONG h = (x >> 1) & ullHalfMask;
        const ULONGLONG ullPair = (x & 0xFFFFFFULL) | (((h + (h >> 24)) & 0xFFFFFFULL) << 24);
        memcpy(pucOut + 6 * static_cast<SIZE_T>(i), &ullPair, sizeof(ullPair));
    }
    for (; i < ulWidth; ++i) {
        const UCHAR* p = pucSource + 3 * static_cast<SIZE_T>(i);
        UCHAR* q = pucOut + 6 * static_cast<SIZE_T>(i);
        for (int k = 0; k < 3; ++k) {
            q[k] = p[k];
            q[k + 3] = HalfSum(p[k], p[k + 3]);
        }
    }
}

} // namespace

bool CImageHelpers::CropBuffer(const UCHAR* pucPlane, UCHAR* pucCrop, ULONG ulWidth, ULONG ulHeight,
                               ULONG ulCropWidth, ULONG ulCropHeight)
{
    return CropRows(pucPlane, pucCrop, ulWidth, ulHeight, ulCropWidth, ulCropHeight, 1);
}

bool CImageHelpers::CropColorBuffer(const UCHAR* pucPicture, UCHAR* pucCrop, ULONG ulWidth, ULONG ulHeight,
                                    ULONG ulCropWidth, ULONG ulCropHeight)
{
    return CropRows(pucPicture, pucCrop, ulWidth, ulHeight, ulCropWidth, ulCropHeight, 3);
}

bool CImageHelpers::ColorBufferBorder(UCHAR* pucPicture, ULONG ulWidth, ULONG ulHeight)
{
    if (pucPicture == nullptr) {
        return false;
    }
    if (ulWidth == 0 || ulHeight == 0) {
        return true;
    }
    const SIZE_T cbRow = 3 * static_cast<SIZE_T>(ulWidth);
    memset(pucPicture, 0, cbRow);
    for (ULONG r = 1; r + 1 < ulHeight; ++r) {
        UCHAR* pucRow = pucPicture + r * cbRow;
        memset(pucRow, 0, 3);
        memset(pucRow + cbRow - 3, 0, 3);
    }
    memset(pucPicture + (ulHeight - 1) * cbRow, 0, cbRow);
    return true;
}

// The demosaic's outermost rows and columns read the unwritten frame of the
// padded mosaic and come out wrong; instead of blacking them, each takes the
// nearest inner pixel (columns first, so the corners take the inner corner).
// Every inner pixel stays as it is.
bool CImageHelpers::ColorBufferEdgeRepeat(UCHAR* pucPicture, ULONG ulWidth, ULONG ulHeight)
{
    if (pucPicture == nullptr) {
        return false;
    }
    EdgeRepeatRows(pucPicture, ulWidth, ulHeight, 0, ulHeight);
    return true;
}

// Rows ulFirst .. ulFirst + ulCount - 1; a range holding the first or last row
// also holds the inner row next to it (ulCount of 2 or more, ranges in pairs).
void CImageHelpers::EdgeRepeatRows(UCHAR* pucPicture, ULONG ulWidth, ULONG ulHeight, ULONG ulFirst, ULONG ulCount)
{
    if (ulWidth < 3 || ulHeight < 3) {
        return;
    }
    const SIZE_T cbRow = 3 * static_cast<SIZE_T>(ulWidth);
    const ULONG ulEnd = ulFirst + ulCount;
    for (ULONG r = ulFirst > 1 ? ulFirst : 1; r + 1 < ulHeight && r < ulEnd; ++r) {
        UCHAR* pucRow = pucPicture + r * cbRow;
        memcpy(pucRow, pucRow + 3, 3);
        memcpy(pucRow + cbRow - 3, pucRow + cbRow - 6, 3);
    }
    if (ulFirst == 0) {
        memcpy(pucPicture, pucPicture + cbRow, cbRow);
    }
    if (ulEnd == ulHeight) {
        memcpy(pucPicture + (ulHeight - 1) * cbRow, pucPicture + (ulHeight - 2) * cbRow, cbRow);
    }
}

void CImageHelpers::ScaleBufferReference(const UCHAR* pucPicture, UCHAR* pucScaled, ULONG ulWidth,
                                         ULONG ulHeight)
{
    const SIZE_T cbSourceRow = 3 * static_cast<SIZE_T>(ulWidth);
    const SIZE_T cbRow = 2 * cbSourceRow;
    for (ULONG j = 0; j < ulHeight; ++j) {
        const UCHAR* pucSource = pucPicture + j * cbSourceRow;
        UCHAR* pucOut = pucScaled + 2 * j * cbRow;
        for (SIZE_T i = 0; i < ulWidth; ++i) {
            for (SIZE_T k = 0; k < 3; ++k) {
                pucOut[6 * i + k] = pucSource[3 * i + k];
                pucOut[6 * i + 3 + k] = HalfSum(pucSource[3 * i + k], pucSource[3 * i + 3 + k]);
            }
        }
    }
    for (ULONG j = 0; j + 1 < ulHeight; ++j) {
        UCHAR* pucUpper = pucScaled + 2 * j * cbRow;
        for (SIZE_T i = 0; i < cbRow; ++i) {
            pucUpper[cbRow + i] = HalfSum(pucUpper[i], pucUpper[2 * cbRow + i]);
        }
    }
    if (ulHeight > 0) {
        memcpy(pucScaled + (2 * static_cast<SIZE_T>(ulHeight) - 1) * cbRow,
               pucScaled + (2 * static_cast<SIZE_T>(ulHeight) - 2) * cbRow, cbRow);
    }
}

bool CImageHelpers::ScaleBuffer(const UCHAR* pucPicture, UCHAR* pucScaled, ULONG ulWidth, ULONG ulHeight)
{
    const SIZE_T cbSourceRow = 3 * static_cast<SIZE_T>(ulWidth);
    const SIZE_T cbRow = 2 * cbSourceRow;
    for (ULONG j = 0; j < ulHeight; ++j) {
        ScaleRow(pucPicture + j * cbSourceRow, pucScaled + 2 * j * cbRow, ulWidth, j + 1 == ulHeight);
        if (j > 0) {
            UCHAR* pucUpper = pucScaled + 2 * (j - 1) * cbRow;
            HalfSumRows(pucUpper, pucUpper + 2 * cbRow, pucUpper + cbRow, cbRow);
        }
    }
    if (ulHeight > 0) {
        memcpy(pucScaled + (2 * static_cast<SIZE_T>(ulHeight) - 1) * cbRow,
               pucScaled + (2 * static_cast<SIZE_T>(ulHeight) - 2) * cbRow, cbRow);
    }
    return true;
}

void CImageHelpers::SubSampleBufferReference(const UCHAR* pucPicture, UCHAR* pucReduced, ULONG ulWidth,
                                             ULONG ulHeight)
{
    const SIZE_T cbSourceRow = 3 * static_cast<SIZE_T>(ulWidth);
    for (SIZE_T r = 0; r < ulHeight / 2; ++r) {
        const UCHAR* pucUpper = pucPicture + 2 * r * cbSourceRow;
        const UCHAR* pucLower = pucUpper + cbSourceRow;
        UCHAR* pucOut = pucReduced + r * 3 * (ulWidth / 2);
        for (SIZE_T i = 0; i < 3 * (ulWidth / 2); ++i) {
            const SIZE_T s = 6 * (i / 3) + i % 3;
            pucOut[i] = static_cast<UCHAR>((pucUpper[s] + pucUpper[s + 3] + pucLower[s] + pucLower[s + 3]) >> 2);
        }
    }
}

bool CImageHelpers::SubSampleBuffer(const UCHAR* pucPicture, UCHAR* pucReduced, ULONG ulWidth, ULONG ulHeight)
{
    if (pucPicture == nullptr || pucReduced == nullptr) {
        return false;
    }
    const SIZE_T cbSourceRow = 3 * static_cast<SIZE_T>(ulWidth);
    const SIZE_T cOutPixels = ulWidth / 2;
    const bool bAvx2 = CpuHasAvx2();
    for (SIZE_T r = 0; r < ulHeight / 2; ++r) {
        const UCHAR* pucUpper = pucPicture + 2 * r * cbSourceRow;
        const UCHAR* pucLower = pucUpper + cbSourceRow;
        UCHAR* pucOut = pucReduced + r * 3 * cOutPixels;
        SIZE_T i = 0;
        if constexpr (kAvx2Compiled) {
            i = bAvx2 ? SubSampleRowAvx2(pucUpper, pucLower, pucOut, static_cast<ULONG>(cOutPixels)) : 0;
        }
        for (; i < cOutPixels; ++i) {
            const UCHAR* a = pucUpper + 6 * i;
            const UCHAR* b = pucLower + 6 * i;
            pucOut[3 * i] = static_cast<UCHAR>((a[0] + a[3] + b[0] + b[3]) >> 2);
            pucOut[3 * i + 1] = static_cast<UCHAR>((a[1] + a[4] + b[1] + b[4]) >> 2);
            pucOut[3 * i + 2] = static_cast<UCHAR>((a[2] + a[5] + b[2] + b[5]) >> 2);
        }
    }
    return true;
}
