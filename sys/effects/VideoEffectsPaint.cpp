// Oil paint and frosted glass: both pick, for each pixel, the source colour
// where the grey sketch is brightest around it.
#include <cstring>

#include "effects/EffectKernels.h"
#include "effects/VideoEffects.h"

namespace {

constexpr ULONG kOilRadius = 3;
constexpr ULONG kFrostRadius = 2;

inline ULONG LowerBound(ULONG ulCentre, ULONG ulRadius)
{
    return ulCentre > ulRadius ? ulCentre - ulRadius : 0;
}

inline ULONG UpperBound(ULONG ulCentre, ULONG ulRadius, ULONG ulLimit)
{
    return ulCentre + ulRadius < ulLimit ? ulCentre + ulRadius : ulLimit - 1;
}

VOID GreySketch(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight)
{
    VeSketch(pucSource, pucDestination, ulWidth, ulHeight, 0);
    VeLumaEffect(VeEffectGrey, pucDestination, pucDestination, ulWidth * ulHeight, nullptr);
}

// Column pass: byte 1 of each pixel gets the column maximum of byte 0 over the
// window, byte 2 the first row (from the window's top) where it occurs.
VOID ColumnMaxima(PUCHAR pucGrey, ULONG ulWidth, ULONG ulHeight, ULONG ulRadius)
{
    const SIZE_T cbStride = static_cast<SIZE_T>(ulWidth) * 3;
    for (ULONG y = 0; y < ulHeight; ++y) {
        const ULONG ulTop = LowerBound(y, ulRadius);
        const ULONG ulBottom = UpperBound(y, ulRadius, ulHeight);
        for (ULONG x = 0; x < ulWidth; ++x) {
            const UCHAR* pucColumn = pucGrey + 3 * static_cast<SIZE_T>(x);
            ULONG ulBestRow = ulTop;
            UCHAR ucBest = pucColumn[ulTop * cbStride];
            for (ULONG r = ulTop + 1; r <= ulBottom; ++r) {
                if (pucColumn[r * cbStride] > ucBest) {
                    ucBest = pucColumn[r * cbStride];
                    ulBestRow = r;
                }
            }
            PUCHAR pucPixel = pucGrey + y * cbStride + 3 * static_cast<SIZE_T>(x);
            pucPixel[1] = ucBest;
            pucPixel[2] = static_cast<UCHAR>(ulBestRow - ulTop);
        }
    }
}

} // namespace

VOID VeBrightestSourceReference(const UCHAR* pucGreySketch, const UCHAR* pucSource, PUCHAR pucDestination,
                                ULONG ulWidth, ULONG ulHeight, ULONG ulRadius)
{
    const SIZE_T cbStride = static_cast<SIZE_T>(ulWidth) * 3;
    for (ULONG y = 0; y < ulHeight; ++y) {
        for (ULONG x = 0; x < ulWidth; ++x) {
            ULONG ulBestX = LowerBound(x, ulRadius);
            ULONG ulBestY = LowerBound(y, ulRadius);
            for (ULONG r = ulBestY; r <= UpperBound(y, ulRadius, ulHeight); ++r) {
                for (ULONG c = LowerBound(x, ulRadius); c <= UpperBound(x, ulRadius, ulWidth); ++c) {
                    if (pucGreySketch[r * cbStride + 3 * c] > pucGreySketch[ulBestY * cbStride + 3 * ulBestX]) {
                        ulBestX = c;
                        ulBestY = r;
                    }
                }
            }
            memcpy(pucDestination + y * cbStride + 3 * x, pucSource + ulBestY * cbStride + 3 * ulBestX, 3);
        }
    }
}

VOID VeBrightestSource(PUCHAR pucGreySketch, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth,
                       ULONG ulHeight, ULONG ulRadius)
{
    ColumnMaxima(pucGreySketch, ulWidth, ulHeight, ulRadius);
    const SIZE_T cbStride = static_cast<SIZE_T>(ulWidth) * 3;
    for (ULONG y = 0; y < ulHeight; ++y) {
        const UCHAR* pucLine = pucGreySketch + y * cbStride;
        const ULONG ulTop = LowerBound(y, ulRadius);
        for (ULONG x = 0; x < ulWidth; ++x) {
            // Brightest first, then the upper row, then the left column.
            ULONG ulBest = LowerBound(x, ulRadius);
            for (ULONG c = ulBest + 1; c <= UpperBound(x, ulRadius, ulWidth); ++c) {
                const UCHAR* pucCandidate = pucLine + 3 * c;
                const UCHAR* pucHeld = pucLine + 3 * ulBest;
                if (pucCandidate[1] > pucHeld[1] || (pucCandidate[1] == pucHeld[1] && pucCandidate[2] < pucHeld[2])) {
                    ulBest = c;
                }
            }
            const ULONG ulRow = ulTop + pucLine[3 * ulBest + 2];
            memcpy(pucDestination + y * cbStride + 3 * x, pucSource + ulRow * cbStride + 3 * ulBest, 3);
        }
    }
}

VOID VeOilPaint(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight, PUCHAR pucScratchA,
                PUCHAR pucScratchB)
{
    GreySketch(pucSource, pucScratchA, ulWidth, ulHeight);
    VeBrightestSource(pucScratchA, pucSource, pucDestination, ulWidth, ulHeight, kOilRadius);
    VeSketch(pucSource, pucScratchB, ulWidth, ulHeight, 1);
    const SIZE_T cbBytes = static_cast<SIZE_T>(ulWidth) * ulHeight * 3;
    for (SIZE_T i = 0; i < cbBytes; ++i) {
        pucDestination[i] = static_cast<UCHAR>((pucScratchB[i] * pucDestination[i] + 1) >> 8);
    }
}

VOID VeFrostedGlass(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight,
                    PUCHAR pucScratchA, PUCHAR pucScratchB)
{
    GreySketch(pucSource, pucScratchA, ulWidth, ulHeight);
    VeBrightestSource(pucScratchA, pucSource, pucScratchB, ulWidth, ulHeight, kFrostRadius);
    const SIZE_T cbStride = static_cast<SIZE_T>(ulWidth) * 3;
    memcpy(pucDestination, pucScratchB, cbStride * ulHeight);
    if (ulHeight < 7 || ulWidth < 9) {
        return;
    }
    // Each inner pixel takes a random pixel of its 5 × 5 neighbourhood.
    for (ULONG y = 3; y + 4 <= ulHeight; ++y) {
        PUCHAR pucOut = pucDestination + y * cbStride;
        for (ULONG x = 3; x + 6 <= ulWidth; ++x) {
            const ULONG ulPick = ((static_cast<ULONG>(rand()) + 1) * 24) / 32768;
            const ULONG ulX = x + ulPick % 5 - 2;
            const ULONG ulY = y + ulPick / 5 - 2;
            memcpy(pucOut + 3 * x, pucScratchB + ulY * cbStride + 3 * ulX, 3);
        }
    }
}
