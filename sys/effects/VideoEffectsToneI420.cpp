// The I420 paths of the tints and of sepia: the output colour depends only on
// the pixel's luma, so each luma value maps through one small table and the
// chroma of a 2 × 2 block comes from the sum of its four mapped colours.
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
    for (ULONG cy = 0; cy < ulHeight / 2; ++cy) {
        const UCHAR* pucTop = pucSource + static_cast<SIZE_T>(2 * cy) * ulWidth;
        const UCHAR* pucBottom = pucTop + ulWidth;
        for (ULONG cx = 0; cx < ulChromaWidth; ++cx) {
            const UCHAR aucBlock[4] = {pucTop[2 * cx], pucTop[2 * cx + 1], pucBottom[2 * cx], pucBottom[2 * cx + 1]};
            LONG lBlue = 0, lGreen = 0, lRed = 0;
            for (UCHAR ucLuma : aucBlock) {
                lBlue += table.aucBlue[ucLuma];
                lGreen += table.aucGreen[ucLuma];
                lRed += table.aucRed[ucLuma];
            }
            const SIZE_T cbAt = static_cast<SIZE_T>(cy) * ulChromaWidth + cx;
            pucU[cbAt] = VeChromaU(lBlue, lGreen, lRed);
            pucV[cbAt] = VeChromaV(lBlue, lGreen, lRed);
        }
    }
}

VOID VeLumaEffectI420(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth,
                      ULONG ulHeight, const UCHAR* pucToneTable)
{
    if (ulWidth % 2 != 0 || ulHeight % 2 != 0) {
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
