// Mosaic: square blocks of width / 30 pixels from pixel (1, 1), each filled with
// its mean colour; the outermost rows and columns keep the source.
#include <emmintrin.h>
#include "platform/CpuFeatures.h"

#include <cstring>

#include "effects/EffectKernels.h"

namespace {

struct MosaicBlock {
    ULONG ulLeft;
    ULONG ulTop;
    ULONG ulWidth;
    ULONG ulHeight;
};

// Mean colour of a block's area whose left edge is ulLeft.
VOID BlockMean(const UCHAR* pucSource, SIZE_T cbStride, const MosaicBlock& block, ULONG ulLeft, UCHAR aucMean[3])
{
    ULONG aulSum[3] = {0, 0, 0};
    for (ULONG y = block.ulTop; y < block.ulTop + block.ulHeight; ++y) {
        const UCHAR* pucPixel = pucSource + y * cbStride + static_cast<SIZE_T>(ulLeft) * 3;
        for (ULONG x = 0; x < block.ulWidth; ++x, pucPixel += 3) {
            aulSum[0] += pucPixel[0];
            aulSum[1] += pucPixel[1];
            aulSum[2] += pucPixel[2];
        }
    }
    const ULONG ulCount = block.ulWidth * block.ulHeight;
    for (int k = 0; k < 3; ++k) {
        aucMean[k] = static_cast<UCHAR>(aulSum[k] / ulCount);
    }
}

VOID FillBlock(PUCHAR pucDestination, SIZE_T cbStride, const MosaicBlock& block, const UCHAR aucMean[3])
{
    PUCHAR pucFirst = pucDestination + block.ulTop * cbStride + static_cast<SIZE_T>(block.ulLeft) * 3;
    for (ULONG x = 0; x < block.ulWidth; ++x) {
        memcpy(pucFirst + 3 * x, aucMean, 3);
    }
    for (ULONG y = 1; y < block.ulHeight; ++y) {
        memcpy(pucFirst + y * cbStride, pucFirst, static_cast<SIZE_T>(block.ulWidth) * 3);
    }
}

} // namespace

KORVAL_SSE2_BEGIN

namespace {

ULONG AccumulateLineSse2(const UCHAR* pucLine, PUSHORT pusSums, ULONG ulBytes)
{
    const __m128i zero = _mm_setzero_si128();
    ULONG i = 0;
    for (; i + 16 <= ulBytes; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucLine + i));
        __m128i* pLow = reinterpret_cast<__m128i*>(pusSums + i);
        __m128i* pHigh = reinterpret_cast<__m128i*>(pusSums + i + 8);
        _mm_storeu_si128(pLow, _mm_add_epi16(_mm_loadu_si128(pLow), _mm_unpacklo_epi8(bytes, zero)));
        _mm_storeu_si128(pHigh, _mm_add_epi16(_mm_loadu_si128(pHigh), _mm_unpackhi_epi8(bytes, zero)));
    }
    return i;
}

} // namespace

KORVAL_SSE2_END

namespace {

// Adds one line's bytes to the 16-bit column sums.
VOID AccumulateLine(const UCHAR* pucLine, PUSHORT pusSums, ULONG ulBytes)
{
    ULONG i = CpuHasSse2() ? AccumulateLineSse2(pucLine, pusSums, ulBytes) : 0;
    for (; i < ulBytes; ++i) {
        pusSums[i] = static_cast<USHORT>(pusSums[i] + pucLine[i]);
    }
}

// Mean colour of columns [ulLeft, ulLeft + ulColumns) from the column sums of ulRows lines.
VOID MeanOfSums(const USHORT* pusSums, ULONG ulLeft, ULONG ulColumns, ULONG ulRows, UCHAR aucMean[3])
{
    ULONG aulSum[3] = {0, 0, 0};
    for (ULONG x = ulLeft; x < ulLeft + ulColumns; ++x) {
        aulSum[0] += pusSums[3 * x];
        aulSum[1] += pusSums[3 * x + 1];
        aulSum[2] += pusSums[3 * x + 2];
    }
    for (int k = 0; k < 3; ++k) {
        aucMean[k] = static_cast<UCHAR>(aulSum[k] / (ulColumns * ulRows));
    }
}

} // namespace

VOID VeMosaicReference(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight)
{
    const SIZE_T cbStride = static_cast<SIZE_T>(ulWidth) * 3;
    memcpy(pucDestination, pucSource, cbStride * ulHeight);
    const ULONG ulSide = ulWidth / 30;
    if (ulSide == 0 || ulHeight < 3) {
        return;  // too small for blocks: the picture stays as it is
    }
    const ULONG ulInnerRight = ulWidth - 1;   // first column that keeps the source
    const ULONG ulInnerBottom = ulHeight - 1;
    for (ULONG ulTop = 1; ulTop < ulInnerBottom; ulTop += ulSide) {
        const ULONG ulRows = ulTop + ulSide <= ulInnerBottom ? ulSide : ulInnerBottom - ulTop;
        for (ULONG ulLeft = 1; ulLeft < ulInnerRight; ulLeft += ulSide) {
            const ULONG ulColumns = ulLeft + ulSide <= ulInnerRight ? ulSide : ulInnerRight - ulLeft;
            const MosaicBlock block = {ulLeft, ulTop, ulColumns, ulRows};
            // The first block of a row takes its colour two pixels further right.
            const ULONG ulMeanLeft = ulLeft == 1 && ulLeft + 2 + ulColumns <= ulWidth ? ulLeft + 2 : ulLeft;
            UCHAR aucMean[3];
            BlockMean(pucSource, cbStride, block, ulMeanLeft, aucMean);
            FillBlock(pucDestination, cbStride, block, aucMean);
        }
    }
}

VOID VeMosaic(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight, PUCHAR pucScratch)
{
    const SIZE_T cbStride = static_cast<SIZE_T>(ulWidth) * 3;
    const ULONG ulSide = ulWidth / 30;
    // Column sums of one block row in 16 bits: at most 136 lines of 255 below 4096 pixels.
    if (ulSide == 0 || ulHeight < 3 || ulSide > 256) {
        VeMosaicReference(pucSource, pucDestination, ulWidth, ulHeight);
        return;
    }
    memcpy(pucDestination, pucSource, cbStride * ulHeight);
    PUSHORT pusSums = reinterpret_cast<PUSHORT>(pucScratch);
    const ULONG ulInnerRight = ulWidth - 1;
    const ULONG ulInnerBottom = ulHeight - 1;
    for (ULONG ulTop = 1; ulTop < ulInnerBottom; ulTop += ulSide) {
        const ULONG ulRows = ulTop + ulSide <= ulInnerBottom ? ulSide : ulInnerBottom - ulTop;
        memset(pusSums, 0, cbStride * sizeof(USHORT));
        for (ULONG y = ulTop; y < ulTop + ulRows; ++y) {
            AccumulateLine(pucSource + y * cbStride, pusSums, static_cast<ULONG>(cbStride));
        }
        for (ULONG ulLeft = 1; ulLeft < ulInnerRight; ulLeft += ulSide) {
            const ULONG ulColumns = ulLeft + ulSide <= ulInnerRight ? ulSide : ulInnerRight - ulLeft;
            const ULONG ulMeanLeft = ulLeft == 1 && ulLeft + 2 + ulColumns <= ulWidth ? ulLeft + 2 : ulLeft;
            UCHAR aucMean[3];
            MeanOfSums(pusSums, ulMeanLeft, ulColumns, ulRows, aucMean);
            FillBlock(pucDestination, cbStride, {ulLeft, ulTop, ulColumns, ulRows}, aucMean);
        }
    }
}
