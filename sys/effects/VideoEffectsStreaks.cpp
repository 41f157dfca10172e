// Streaks: bright pixels smear to the right along each line in segments of
// random length, drawn from the platform's rand.
#include <cstring>

#include "effects/EffectKernels.h"

namespace {

// Exact n / d for n < 2^32 / d through one multiplication.
struct Divider {
    ULONGLONG ullMultiplier;
    explicit Divider(ULONG ulDivisor) : ullMultiplier((0x100000000ull / ulDivisor) + 1) {}
    ULONG Divide(ULONG ulNumerator) const { return static_cast<ULONG>((ulNumerator * ullMultiplier) >> 32); }
};

ULONG DrawSegmentLength(ULONG ulMaximum, ULONG ulLeft)
{
    ULONG ulLength = 0;
    while (ulLength == 0) {
        ulLength = (static_cast<ULONG>(rand()) * ulMaximum) >> 15;
    }
    return ulLength < ulLeft ? ulLength : ulLeft;
}

// Smears the segment [ulStart, ulEnd] of one line towards its right end.
VOID SmearSegment(const UCHAR* pucLine, PUCHAR pucOut, ULONG ulStart, ULONG ulEnd)
{
    ULONG ulBrightest = ulStart;
    ULONG ulBrightestGreen = pucLine[3 * ulStart + 1];
    for (ULONG x = ulStart + 1; x <= ulEnd; ++x) {
        const ULONG ulGreen = pucLine[3 * x + 1];
        const bool bBrighter = ulGreen > ulBrightestGreen;
        ulBrightest = bBrighter ? x : ulBrightest;
        ulBrightestGreen = bBrighter ? ulGreen : ulBrightestGreen;
    }
    const ULONG ulDistance = ulEnd - ulBrightest;
    if (ulDistance == 0) {
        return;
    }
    const Divider divider(ulDistance);
    const UCHAR* pucBright = pucLine + 3 * ulBrightest;
    for (ULONG k = 1; k < ulDistance; ++k) {
        PUCHAR pucPixel = pucOut + 3 * (ulEnd - k);
        for (int c = 0; c < 3; ++c) {
            const ULONG ulOwn = pucPixel[c];
            // Kept only where larger: the ratio terms never reach past the brighter value.
            const ULONG ulValue = ulOwn + divider.Divide(pucBright[c] * k) - divider.Divide(ulOwn * k);
            pucPixel[c] = static_cast<UCHAR>(ulValue > ulOwn ? ulValue : ulOwn);
        }
    }
}

} // namespace

VOID VeStreaks(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight)
{
    const SIZE_T cbStride = static_cast<SIZE_T>(ulWidth) * 3;
    memcpy(pucDestination, pucSource, cbStride * ulHeight);
    const ULONG ulMaximum = ulWidth / 5;
    if (ulMaximum < 2) {
        return;  // rand() × 1 >> 15 is always 0: no segment could ever be drawn
    }
    for (ULONG y = 1; y < ulHeight; ++y) {
        const UCHAR* pucLine = pucSource + y * cbStride;
        PUCHAR pucOut = pucDestination + y * cbStride;
        ULONG ulLeft = ulWidth;  // pixels not yet walked, from the line's start
        while (ulLeft > 0) {
            const ULONG ulLength = DrawSegmentLength(ulMaximum, ulLeft);
            SmearSegment(pucLine, pucOut, ulLeft - ulLength, ulLeft - 1);
            ulLeft -= ulLength;
        }
    }
}
