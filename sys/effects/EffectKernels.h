// The picture kernels behind VideoEffects. Pictures are BGR24 with rows
// adjacent (3 × width bytes), unless a function names I420. Hot loops come in a
// fast version and a plain ...Reference version that the tests compare against.
#pragma once

#include "platform/Platform.h"

// BT.601 luma in 15-bit fixed point.
inline ULONG VeLuma(ULONG ulBlue, ULONG ulGreen, ULONG ulRed)
{
    return (9798 * ulRed + 19235 * ulGreen + 3736 * ulBlue) >> 15;
}

inline UCHAR VeClampByte(LONG lValue)
{
    return static_cast<UCHAR>(lValue < 0 ? 0 : (lValue > 255 ? 255 : lValue));
}

// Chroma of a 2 × 2 block from the sums of its four pixels' channels.
inline UCHAR VeChromaU(LONG lSumBlue, LONG lSumGreen, LONG lSumRed)
{
    return VeClampByte(((16384 * lSumBlue - 10855 * lSumGreen - 5529 * lSumRed) >> 17) + 128);
}

inline UCHAR VeChromaV(LONG lSumBlue, LONG lSumGreen, LONG lSumRed)
{
    return VeClampByte(((16384 * lSumRed - 13720 * lSumGreen - 2664 * lSumBlue) >> 17) + 128);
}

// Fills the two 129-entry tone tables and the per-luma sepia tables.
VOID VeFillToneTables(PUCHAR pucToneTable);

// Every byte becomes 255 − byte.
VOID VeNegative(const UCHAR* pucSource, PUCHAR pucDestination, SIZE_T cbBytes);
VOID VeNegativeReference(const UCHAR* pucSource, PUCHAR pucDestination, SIZE_T cbBytes);

// Effects that depend only on the pixel and its luma: black and white, the
// three tints, grey, solarise and sepia (by effect number).
VOID VeLumaEffect(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels,
                  const UCHAR* pucToneTable);
VOID VeLumaEffectReference(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination,
                           ULONG ulPixels, const UCHAR* pucToneTable);
// The luma-only effects' own I420 paths (tints and sepia).
VOID VeLumaEffectI420(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination,
                      ULONG ulWidth, ULONG ulHeight, const UCHAR* pucToneTable);
VOID VeLumaEffectI420Reference(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination,
                               ULONG ulWidth, ULONG ulHeight, const UCHAR* pucToneTable);

// Full-range BT.601 conversions. I420 is top-down; bFlip makes the BGR picture
// bottom-up (the driver's RGB layout), otherwise the line order is kept. Chroma
// comes from the mean of each 2 × 2 block.
VOID VeBgrToI420(const UCHAR* pucBgr, PUCHAR pucI420, ULONG ulWidth, ULONG ulHeight, BOOLEAN bFlip);
VOID VeBgrToI420Reference(const UCHAR* pucBgr, PUCHAR pucI420, ULONG ulWidth, ULONG ulHeight,
                          BOOLEAN bFlip);
VOID VeI420ToBgr(const UCHAR* pucI420, PUCHAR pucBgr, ULONG ulWidth, ULONG ulHeight, BOOLEAN bFlip);
VOID VeI420ToBgrReference(const UCHAR* pucI420, PUCHAR pucBgr, ULONG ulWidth, ULONG ulHeight,
                          BOOLEAN bFlip);

// Spatial effects.
VOID VeRelief(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight);
VOID VeReliefReference(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight);
// Sobel sketch; ulShift 0 is the colour sketch, 1 the soft sketch of oil paint.
VOID VeSketch(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight,
              ULONG ulShift);
VOID VeSketchReference(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth,
                       ULONG ulHeight, ULONG ulShift);
// The sketch of bytes [lFrom, lTo) of the run, whose neighbours are all inside the
// picture, as far as whole SIMD blocks go; returns where they end.
LONG_PTR VeSketchBlocksSse2(const UCHAR* pucSource, PUCHAR pucDestination, LONG_PTR lStride, LONG_PTR lFrom,
                            LONG_PTR lTo, ULONG ulShift);
LONG_PTR VeSketchBlocksAvx2(const UCHAR* pucSource, PUCHAR pucDestination, LONG_PTR lStride, LONG_PTR lFrom,
                            LONG_PTR lTo, ULONG ulShift);
// Mosaic; pucScratch holds 16-bit column sums of one line (6 × width bytes).
VOID VeMosaic(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight, PUCHAR pucScratch);
VOID VeMosaicReference(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight);
VOID VeStreaks(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight);
VOID VeStreaksReference(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight);

// Each pixel takes the source colour where the grey sketch is brightest in its
// (2 × radius + 1)² neighbourhood (first of equals in reading order). Uses bytes
// 1 and 2 of every grey-sketch pixel as scratch.
VOID VeBrightestSource(PUCHAR pucGreySketch, const UCHAR* pucSource, PUCHAR pucDestination,
                       ULONG ulWidth, ULONG ulHeight, ULONG ulRadius);
VOID VeBrightestSourceReference(const UCHAR* pucGreySketch, const UCHAR* pucSource,
                                PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight,
                                ULONG ulRadius);
VOID VeOilPaint(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight,
                PUCHAR pucScratchA, PUCHAR pucScratchB);
VOID VeFrostedGlass(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight,
                    PUCHAR pucScratchA, PUCHAR pucScratchB);

// out = (256 s + (p − s)(a + 1)) / 256 per byte, a per byte.
VOID VeBlend(const UCHAR* pucSource, const UCHAR* pucPicture, const UCHAR* pucWeight,
             PUCHAR pucDestination, ULONG ulBytes);
VOID VeBlendReference(const UCHAR* pucSource, const UCHAR* pucPicture, const UCHAR* pucWeight,
                      PUCHAR pucDestination, ULONG ulBytes);
