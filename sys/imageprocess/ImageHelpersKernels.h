// Vector kernels behind the picture helpers, chosen at run time.
#pragma once

#include "platform/CpuFeatures.h"
#include "platform/NtTypes.h"


// Luma of ulCount pixels (a multiple of 16) of one BGR24 row, exactly as the
// double-precision rule; with U and V of the left pixel of each pair too, for
// the rows that have chroma.
void LumaRowAvx2(const UCHAR* pucRow, UCHAR* pucY, ULONG ulCount);
void LumaChromaRowAvx2(const UCHAR* pucRow, UCHAR* pucY, UCHAR* pucU, UCHAR* pucV, ULONG ulCount);
void LumaRowSsse3(const UCHAR* pucRow, UCHAR* pucY, ULONG ulCount);
void LumaChromaRowSsse3(const UCHAR* pucRow, UCHAR* pucY, UCHAR* pucU, UCHAR* pucV, ULONG ulCount);

// The G byte of ulCount pixels (a multiple of 16).
void GreenRowAvx2(const UCHAR* pucRow, UCHAR* pucGreen, ULONG ulCount);
void GreenRowSsse3(const UCHAR* pucRow, UCHAR* pucGreen, ULONG ulCount);

// Smooths row pucRow (rows above and below at +-ulWidth) from column c on, in
// steps of 16 (AVX2) or 8 (SSE2) while the step stays left of the last column;
// returns the first column not done.
ULONG SmoothRowAvx2(const UCHAR* pucRow, SHORT* psRow, ULONG ulWidth, ULONG c);
ULONG SmoothRowSse2(const UCHAR* pucRow, SHORT* psRow, ULONG ulWidth, ULONG c);

// Even enlargement row: pixel i, then the half-sum of pixels i and i + 1, for
// i in steps of 4 while pixel i + 4 lies within ulReadablePixels; returns the
// first pixel not done.
ULONG ScaleRowAvx2(const UCHAR* pucSource, UCHAR* pucOut, ULONG ulReadablePixels);

// One row of the 2x reduction from source rows pucUpper and pucLower, in steps
// of 4 output pixels; returns the first output pixel not done.
ULONG SubSampleRowAvx2(const UCHAR* pucUpper, const UCHAR* pucLower, UCHAR* pucOut, ULONG ulOutPixels);

// The luma of the rule, for pixels where the vector kernel cannot decide.
UCHAR LumaOfPixel(ULONG ulBlue, ULONG ulGreen, ULONG ulRed);
