// Full-range BT.601 conversions between BGR24 and I420: 15-bit coefficients
// towards I420 (chroma from the mean of each 2 × 2 block), 8-bit coefficients
// back, every result clamped to 0..255.
// Not the image stage's conversion (decimal coefficients, one pixel per chroma
// sample) nor the still file's: the effects' I420 output is exact to this
// fixed-point round trip, and the overlay's chroma to its block means.
#include "effects/EffectKernels.h"
#include "effects/SimdDispatch.h"

namespace {

const UCHAR* BgrRow(const UCHAR* pucBgr, ULONG ulRow, ULONG ulWidth, ULONG ulHeight, BOOLEAN bFlip)
{
    const ULONG ulStored = bFlip ? ulHeight - 1 - ulRow : ulRow;
    return pucBgr + static_cast<SIZE_T>(ulStored) * ulWidth * 3;
}

struct I420Planes {
    PUCHAR pucY;
    PUCHAR pucU;
    PUCHAR pucV;
};

I420Planes SplitPlanes(PUCHAR pucI420, ULONG ulWidth, ULONG ulHeight)
{
    const SIZE_T cbLuma = static_cast<SIZE_T>(ulWidth) * ulHeight;
    const SIZE_T cbChroma = static_cast<SIZE_T>(ulWidth / 2) * (ulHeight / 2);
    return {pucI420, pucI420 + cbLuma, pucI420 + cbLuma + cbChroma};
}

VOID LumaRowReference(const UCHAR* pucRow, PUCHAR pucLuma, ULONG ulFrom, ULONG ulTo)
{
    for (ULONG x = ulFrom; x < ulTo; ++x) {
        pucLuma[x] = static_cast<UCHAR>(VeLuma(pucRow[3 * x], pucRow[3 * x + 1], pucRow[3 * x + 2]));
    }
}

// Chroma samples ulFrom .. ulTo − 1 of the block row made of pucTop and pucBottom.
VOID ChromaRowReference(const UCHAR* pucTop, const UCHAR* pucBottom, PUCHAR pucU, PUCHAR pucV,
                        ULONG ulFrom, ULONG ulTo)
{
    for (ULONG c = ulFrom; c < ulTo; ++c) {
        LONG alSum[3] = {0, 0, 0};
        for (ULONG k = 0; k < 3; ++k) {
            alSum[k] = pucTop[6 * c + k] + pucTop[6 * c + 3 + k] + pucBottom[6 * c + k] + pucBottom[6 * c + 3 + k];
        }
        pucU[c] = VeChromaU(alSum[0], alSum[1], alSum[2]);
        pucV[c] = VeChromaV(alSum[0], alSum[1], alSum[2]);
    }
}

VOID ToBgrRowReference(const UCHAR* pucLuma, const UCHAR* pucU, const UCHAR* pucV, PUCHAR pucRow,
                       ULONG ulFrom, ULONG ulTo)
{
    for (ULONG x = ulFrom; x < ulTo; ++x) {
        const LONG lLuma = pucLuma[x];
        const LONG lU = static_cast<LONG>(pucU[x / 2]) - 128;
        const LONG lV = static_cast<LONG>(pucV[x / 2]) - 128;
        pucRow[3 * x] = VeClampByte(lLuma + ((454 * lU) >> 8));
        pucRow[3 * x + 1] = VeClampByte(lLuma - ((88 * lU + 183 * lV) >> 8));
        pucRow[3 * x + 2] = VeClampByte(lLuma + ((359 * lV) >> 8));
    }
}

} // namespace

VOID VeBgrToI420Reference(const UCHAR* pucBgr, PUCHAR pucI420, ULONG ulWidth, ULONG ulHeight, BOOLEAN bFlip)
{
    const I420Planes planes = SplitPlanes(pucI420, ulWidth, ulHeight);
    for (ULONG y = 0; y < ulHeight; ++y) {
        LumaRowReference(BgrRow(pucBgr, y, ulWidth, ulHeight, bFlip), planes.pucY + static_cast<SIZE_T>(y) * ulWidth, 0, ulWidth);
    }
    const ULONG ulChromaWidth = ulWidth / 2;
    for (ULONG cy = 0; cy < ulHeight / 2; ++cy) {
        ChromaRowReference(BgrRow(pucBgr, 2 * cy, ulWidth, ulHeight, bFlip),
                           BgrRow(pucBgr, 2 * cy + 1, ulWidth, ulHeight, bFlip),
                           planes.pucU + static_cast<SIZE_T>(cy) * ulChromaWidth,
                           planes.pucV + static_cast<SIZE_T>(cy) * ulChromaWidth, 0, ulChromaWidth);
    }
}

VOID VeBgrToI420(const UCHAR* pucBgr, PUCHAR pucI420, ULONG ulWidth, ULONG ulHeight, BOOLEAN bFlip)
{
    const I420Planes planes = SplitPlanes(pucI420, ulWidth, ulHeight);
    const ULONG ulChromaWidth = ulWidth / 2;
    for (ULONG cy = 0; cy < ulHeight / 2; ++cy) {
        const ULONG y = 2 * cy;
        const UCHAR* pucTop = BgrRow(pucBgr, y, ulWidth, ulHeight, bFlip);
        const UCHAR* pucBottom = BgrRow(pucBgr, y + 1, ulWidth, ulHeight, bFlip);
        PUCHAR pucLumaTop = planes.pucY + static_cast<SIZE_T>(y) * ulWidth;
        PUCHAR pucU = planes.pucU + static_cast<SIZE_T>(cy) * ulChromaWidth;
        PUCHAR pucV = planes.pucV + static_cast<SIZE_T>(cy) * ulChromaWidth;
        const ULONG x = VeConvertRowPair(pucTop, pucBottom, pucLumaTop, pucLumaTop + ulWidth, pucU, pucV, ulWidth);
        LumaRowReference(pucTop, pucLumaTop, x, ulWidth);
        LumaRowReference(pucBottom, pucLumaTop + ulWidth, x, ulWidth);
        ChromaRowReference(pucTop, pucBottom, pucU, pucV, x / 2, ulWidth / 2);
    }
    if (ulHeight % 2 != 0) {
        const ULONG y = ulHeight - 1;
        LumaRowReference(BgrRow(pucBgr, y, ulWidth, ulHeight, bFlip), planes.pucY + static_cast<SIZE_T>(y) * ulWidth, 0, ulWidth);
    }
}

VOID VeI420ToBgrReference(const UCHAR* pucI420, PUCHAR pucBgr, ULONG ulWidth, ULONG ulHeight, BOOLEAN bFlip)
{
    const I420Planes planes = SplitPlanes(const_cast<PUCHAR>(pucI420), ulWidth, ulHeight);
    const ULONG ulChromaWidth = ulWidth / 2;
    const ULONG ulChromaRows = ulHeight / 2;
    for (ULONG y = 0; y < ulHeight; ++y) {
        // An odd last line or column borrows the chroma of its neighbours.
        const ULONG cy = y / 2 < ulChromaRows ? y / 2 : (ulChromaRows > 0 ? ulChromaRows - 1 : 0);
        PUCHAR pucRow = const_cast<PUCHAR>(BgrRow(pucBgr, y, ulWidth, ulHeight, bFlip));
        if (ulChromaWidth == 0 || ulChromaRows == 0) {
            const UCHAR aucNeutral[1] = {128};
            for (ULONG x = 0; x < ulWidth; ++x) {
                ToBgrRowReference(planes.pucY + static_cast<SIZE_T>(y) * ulWidth + x, aucNeutral, aucNeutral, pucRow + 3 * x, 0, 1);
            }
            continue;
        }
        ToBgrRowReference(planes.pucY + static_cast<SIZE_T>(y) * ulWidth, planes.pucU + static_cast<SIZE_T>(cy) * ulChromaWidth,
                          planes.pucV + static_cast<SIZE_T>(cy) * ulChromaWidth, pucRow, 0, ulWidth & ~1u);
        if (ulWidth % 2 != 0) {
            const ULONG x = ulWidth - 1;
            const SIZE_T cbChroma = static_cast<SIZE_T>(cy) * ulChromaWidth + ulChromaWidth - 1;
            ToBgrRowReference(planes.pucY + static_cast<SIZE_T>(y) * ulWidth + x, planes.pucU + cbChroma,
                              planes.pucV + cbChroma, pucRow + 3 * x, 0, 1);
        }
    }
}

VOID VeI420ToBgr(const UCHAR* pucI420, PUCHAR pucBgr, ULONG ulWidth, ULONG ulHeight, BOOLEAN bFlip)
{
    if (ulWidth % 2 != 0 || ulHeight % 2 != 0) {
        VeI420ToBgrReference(pucI420, pucBgr, ulWidth, ulHeight, bFlip);
        return;
    }
    const I420Planes planes = SplitPlanes(const_cast<PUCHAR>(pucI420), ulWidth, ulHeight);
    const ULONG ulChromaWidth = ulWidth / 2;
    for (ULONG y = 0; y < ulHeight; ++y) {
        const SIZE_T cbChroma = static_cast<SIZE_T>(y / 2) * ulChromaWidth;
        const UCHAR* pucLuma = planes.pucY + static_cast<SIZE_T>(y) * ulWidth;
        PUCHAR pucRow = const_cast<PUCHAR>(BgrRow(pucBgr, y, ulWidth, ulHeight, bFlip));
        const ULONG x = VeToBgrRow(pucLuma, planes.pucU + cbChroma, planes.pucV + cbChroma, pucRow, ulWidth);
        ToBgrRowReference(pucLuma, planes.pucU + cbChroma, planes.pucV + cbChroma, pucRow, x, ulWidth);
    }
}
