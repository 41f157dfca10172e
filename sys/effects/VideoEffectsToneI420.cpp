// The I420 paths of the tints and of sepia. The output luma depends only on
// the pixel's luma, so each luma value maps through one small table. Sepia's
// chroma comes from the sum of a 2 × 2 block's four mapped colours; a tint's
// chroma is that of a pure colour whose one channel is the block's mean of
// that channel of the source, each pixel's channel taken from its own luma
// and the block's U and V.
#include "effects/EffectKernels.h"
#include "effects/VideoEffects.h"

namespace {

struct LumaColourTable {
    UCHAR aucBlue[256];
    UCHAR aucGreen[256];
    UCHAR aucRed[256];
    UCHAR aucLuma[256];  // luma of the mapped colour
};

VOID BuildTable(ULONG ulEffect, const UCHAR* pucToneTable, LumaColourTable* pTable)
{
    for (ULONG ulLuma = 0; ulLuma < 256; ++ulLuma) {
        const UCHAR aucGrey[3] = {static_cast<UCHAR>(ulLuma), static_cast<UCHAR>(ulLuma), static_cast<UCHAR>(ulLuma)};
        UCHAR aucMapped[3];
        // A grey pixel has exactly this luma, so the BGR rule gives the mapped colour.
        VeLumaEffectReference(ulEffect, aucGrey, aucMapped, 1, pucToneTable);
        pTable->aucBlue[ulLuma] = aucMapped[0];
        pTable->aucGreen[ulLuma] = aucMapped[1];
        pTable->aucRed[ulLuma] = aucMapped[2];
        pTable->aucLuma[ulLuma] = static_cast<UCHAR>(VeLuma(aucMapped[0], aucMapped[1], aucMapped[2]));
    }
}

// Each luma's share of the chroma sums: the chroma rules are linear in the
// block's channel sums, so a block's numerator is the sum of its four shares.
struct ChromaShares {
    LONG alU[256];
    LONG alV[256];
};

VOID FillShares(const LumaColourTable& table, ChromaShares* pShares)
{
    for (ULONG ulLuma = 0; ulLuma < 256; ++ulLuma) {
        const LONG lBlue = table.aucBlue[ulLuma], lGreen = table.aucGreen[ulLuma], lRed = table.aucRed[ulLuma];
        pShares->alU[ulLuma] = 16384 * lBlue - 10855 * lGreen - 5529 * lRed;
        pShares->alV[ulLuma] = 16384 * lRed - 13720 * lGreen - 2664 * lBlue;
    }
}

// One block row: both luma lines mapped, and the chroma of each 2 × 2 block.
VOID MapBlockRow(const UCHAR* pucTop, PUCHAR pucOutTop, ULONG ulWidth, PUCHAR pucU, PUCHAR pucV,
                 const LumaColourTable& table, const ChromaShares& shares)
{
    const UCHAR* pucBottom = pucTop + ulWidth;
    PUCHAR pucOutBottom = pucOutTop + ulWidth;
    for (ULONG cx = 0; cx < ulWidth / 2; ++cx) {
        const UCHAR aucBlock[4] = {pucTop[2 * cx], pucTop[2 * cx + 1], pucBottom[2 * cx], pucBottom[2 * cx + 1]};
        pucOutTop[2 * cx] = table.aucLuma[aucBlock[0]];
        pucOutTop[2 * cx + 1] = table.aucLuma[aucBlock[1]];
        pucOutBottom[2 * cx] = table.aucLuma[aucBlock[2]];
        pucOutBottom[2 * cx + 1] = table.aucLuma[aucBlock[3]];
        const LONG lU = shares.alU[aucBlock[0]] + shares.alU[aucBlock[1]] + shares.alU[aucBlock[2]] + shares.alU[aucBlock[3]];
        const LONG lV = shares.alV[aucBlock[0]] + shares.alV[aucBlock[1]] + shares.alV[aucBlock[2]] + shares.alV[aucBlock[3]];
        pucU[cx] = VeClampByte((lU >> 17) + 128);
        pucV[cx] = VeClampByte((lV >> 17) + 128);
    }
}

// One tint: its channel (0 blue, 1 green, 2 red) as luma plus weights of
// U − 128 and V − 128 in 16-bit fixed point (the BT.601 full-range inverse).
struct TintRule {
    ULONG ulChannel;
    LONG lFromU;
    LONG lFromV;
};

bool FindTintRule(ULONG ulEffect, TintRule* pRule)
{
    switch (ulEffect) {
    case VeEffectGreenTone: *pRule = {1, -22551, -46799}; return true; // G = Y − 0.3441 U′ − 0.7141 V′
    case VeEffectBlueTone: *pRule = {0, 116130, 0}; return true;       // B = Y + 1.772 U′
    case VeEffectRedTone: *pRule = {2, 0, 91881}; return true;         // R = Y + 1.402 V′
    default: return false;
    }
}

VOID TintChroma(const TintRule& rule, const UCHAR (&aucBlock)[4], UCHAR ucU, UCHAR ucV, PUCHAR pucU, PUCHAR pucV)
{
    const LONG lOffset = rule.lFromU * (static_cast<LONG>(ucU) - 128) + rule.lFromV * (static_cast<LONG>(ucV) - 128);
    LONG alSum[3] = {0, 0, 0};
    for (UCHAR ucLuma : aucBlock) {
        alSum[rule.ulChannel] += VeClampByte((static_cast<LONG>(ucLuma) * 65536 + lOffset) >> 16);
    }
    *pucU = VeChromaU(alSum[0], alSum[1], alSum[2]);
    *pucV = VeChromaV(alSum[0], alSum[1], alSum[2]);
}

} // namespace

VOID VeLumaEffectI420Reference(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth,
                               ULONG ulHeight, const UCHAR* pucToneTable)
{
    LumaColourTable table;
    BuildTable(ulEffect, pucToneTable, &table);
    const SIZE_T cbLuma = static_cast<SIZE_T>(ulWidth) * ulHeight;
    for (SIZE_T i = 0; i < cbLuma; ++i) {
        pucDestination[i] = table.aucLuma[pucSource[i]];
    }
    const ULONG ulChromaWidth = ulWidth / 2;
    const SIZE_T cbChroma = static_cast<SIZE_T>(ulChromaWidth) * (ulHeight / 2);
    PUCHAR pucU = pucDestination + cbLuma;
    PUCHAR pucV = pucU + cbChroma;
    const UCHAR* pucSourceU = pucSource + cbLuma;
    const UCHAR* pucSourceV = pucSourceU + cbChroma;
    TintRule tint;
    const bool bTint = FindTintRule(ulEffect, &tint);
    for (ULONG cy = 0; cy < ulHeight / 2; ++cy) {
        const UCHAR* pucTop = pucSource + static_cast<SIZE_T>(2 * cy) * ulWidth;
        const UCHAR* pucBottom = pucTop + ulWidth;
        for (ULONG cx = 0; cx < ulChromaWidth; ++cx) {
            const UCHAR aucBlock[4] = {pucTop[2 * cx], pucTop[2 * cx + 1], pucBottom[2 * cx], pucBottom[2 * cx + 1]};
            const SIZE_T cbAt = static_cast<SIZE_T>(cy) * ulChromaWidth + cx;
            if (bTint) {
                TintChroma(tint, aucBlock, pucSourceU[cbAt], pucSourceV[cbAt], pucU + cbAt, pucV + cbAt);
                continue;
            }
            LONG lBlue = 0, lGreen = 0, lRed = 0;
            for (UCHAR ucLuma : aucBlock) {
                lBlue += table.aucBlue[ucLuma];
                lGreen += table.aucGreen[ucLuma];
                lRed += table.aucRed[ucLuma];
            }
            pucU[cbAt] = VeChromaU(lBlue, lGreen, lRed);
            pucV[cbAt] = VeChromaV(lBlue, lGreen, lRed);
        }
    }
}

VOID VeLumaEffectI420(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth,
                      ULONG ulHeight, const UCHAR* pucToneTable)
{
    TintRule tint;
    // The tints read the source's chroma block by block: the plain loop is their path.
    if (ulWidth % 2 != 0 || ulHeight % 2 != 0 || FindTintRule(ulEffect, &tint)) {
        VeLumaEffectI420Reference(ulEffect, pucSource, pucDestination, ulWidth, ulHeight, pucToneTable);
        return;
    }
    LumaColourTable table;
    BuildTable(ulEffect, pucToneTable, &table);
    ChromaShares shares;
    FillShares(table, &shares);
    const SIZE_T cbLuma = static_cast<SIZE_T>(ulWidth) * ulHeight;
    const SIZE_T cbChroma = static_cast<SIZE_T>(ulWidth / 2) * (ulHeight / 2);
    for (ULONG cy = 0; cy < ulHeight / 2; ++cy) {
        const SIZE_T cbRow = static_cast<SIZE_T>(2 * cy) * ulWidth;
        const SIZE_T cbChromaRow = static_cast<SIZE_T>(cy) * (ulWidth / 2);
        MapBlockRow(pucSource + cbRow, pucDestination + cbRow, ulWidth, pucDestination + cbLuma + cbChromaRow,
                    pucDestination + cbLuma + cbChroma + cbChromaRow, table, shares);
    }
}
