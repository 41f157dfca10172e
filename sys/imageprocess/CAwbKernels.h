// The grey-sample sums of the white-balance measurement: the plain per-block
// loop, an SSE2 version four blocks at a time and an AVX2 version eight at a
// time (CAwbSumsAvx2.cpp, host build only: the Windows image has no AVX2 path). Every summand is a sample
// times gain / 128, a multiple of 1/128 far below 2^53, so the sums are exact
// in any order and both versions give the same doubles (for up to 2^20 blocks,
// which AwbSumsExactInAnyOrder checks).
#pragma once

#include "platform/NtTypes.h"

typedef struct tagAwbSampling {
    ULONG ulWidth;
    ULONG ulBlockRows;
    ULONG ulBlocksPerRow;
    ULONG ulRedOffset;    // offset of each sample within a block's top-left cell
    ULONG ulGreenOffset;
    ULONG ulBlueOffset;
    double dKr;           // sensor-to-neutral factors for U and V
    double dKb;
    double dGain[3];      // R, G, B gains as factors
    double dUpperLuma;
    double dLowerLuma;
    double dULimit;
    double dVLimit;
    double dUVLimit;
} AwbSampling;

inline bool AwbSumsExactInAnyOrder(const tagAwbSampling& sSampling)
{
    return static_cast<ULONGLONG>(sSampling.ulBlockRows) * sSampling.ulBlocksPerRow <= (1u << 20);
}

// Adds the counted samples' R x gR, G x gG, B x gB to adSums (R, G, B).
void AwbSumGreyReference(const UCHAR* pBayer, const tagAwbSampling& sSampling, double adSums[3]);
void AwbSumGreySse2(const UCHAR* pBayer, const tagAwbSampling& sSampling, double adSums[3]);
void AwbSumGreyAvx2(const UCHAR* pBayer, const tagAwbSampling& sSampling, double adSums[3]);
// One block, by the reference rules (the vector versions' tail).
void AwbSumGreyBlock(const UCHAR* pCell, const tagAwbSampling& sSampling, double adSums[3]);
