// Full-range BT.601 conversions between BGR24 and I420: 15-bit coefficients
// towards I420 (chroma from the mean of each 2 × 2 block), 8-bit coefficients
// back, every result clamped to 0..255.
#include "effects/EffectKernels.h"
#include "effects/SimdBgr.h"

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

// Sixteen lumas as bytes from four registers of pixels.
__m128i Luma16(const __m128i pixels[4])
{
    const __m128i low = _mm_packs_epi32(VeLuma4(pixels[0]), VeLuma4(pixels[1]));
    const __m128i high = _mm_packs_epi32(VeLuma4(pixels[2]), VeLuma4(pixels[3]));
    return _mm_packus_epi16(low, high);
}

// Block sums of two blocks (four pixels of each row) as B G R 0 B G R 0 words.
__m128i BlockSums(__m128i top, __m128i bottom)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_add_epi16(_mm_unpacklo_epi8(top, zero), _mm_unpacklo_epi8(bottom, zero));
    const __m128i high = _mm_add_epi16(_mm_unpackhi_epi8(top, zero), _mm_unpackhi_epi8(bottom, zero));
    const __m128i firstBlock = _mm_add_epi16(low, _mm_srli_si128(low, 8));
    const __m128i secondBlock = _mm_add_epi16(high, _mm_srli_si128(high, 8));
    return _mm_unpacklo_epi64(firstBlock, secondBlock);
}

// Weighted block sums, one 32-bit result in lanes 0 and 2.
__m128i WeighBlocks(__m128i sums, __m128i weights)
{
    const __m128i products = _mm_madd_epi16(sums, weights);
    return _mm_add_epi32(products, _mm_srli_epi64(products, 32));
}

// Eight chroma samples of one plane from the block sums of 16 pixel pairs.
__m128i Chroma8(const __m128i sums[4], __m128i weights)
{
    __m128i lanes[4];
    for (int k = 0; k < 4; ++k) {
        lanes[k] = WeighBlocks(sums[k], weights);
    }
    const __m128i low = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(lanes[0]), _mm_castsi128_ps(lanes[1]), _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i high = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(lanes[2]), _mm_castsi128_ps(lanes[3]), _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i offset = _mm_set1_epi32(128);
    const __m128i words = _mm_packs_epi32(_mm_add_epi32(_mm_srai_epi32(low, 17), offset),
                                          _mm_add_epi32(_mm_srai_epi32(high, 17), offset));
    return _mm_packus_epi16(words, words);
}

VOID ConvertRowPair(const UCHAR* pucTop, const UCHAR* pucBottom, PUCHAR pucLumaTop,
                    PUCHAR pucLumaBottom, PUCHAR pucU, PUCHAR pucV, ULONG ulWidth)
{
    const __m128i weightsU = _mm_set_epi16(0, -5529, -10855, 16384, 0, -5529, -10855, 16384);
    const __m128i weightsV = _mm_set_epi16(0, 16384, -13720, -2664, 0, 16384, -13720, -2664);
    ULONG x = 0;
    __m128i top[4];
    __m128i bottom[4];
    __m128i sums[4];
    for (; x + 16 <= ulWidth; x += 16) {
        VeLoadPixels16(pucTop + 3 * x, top);
        VeLoadPixels16(pucBottom + 3 * x, bottom);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucLumaTop + x), Luma16(top));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucLumaBottom + x), Luma16(bottom));
        for (int k = 0; k < 4; ++k) {
            sums[k] = BlockSums(top[k], bottom[k]);
        }
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pucU + x / 2), Chroma8(sums, weightsU));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pucV + x / 2), Chroma8(sums, weightsV));
    }
    LumaRowReference(pucTop, pucLumaTop, x, ulWidth);
    LumaRowReference(pucBottom, pucLumaBottom, x, ulWidth);
    ChromaRowReference(pucTop, pucBottom, pucU, pucV, x / 2, ulWidth / 2);
}

// Chroma offsets of 8 samples (signed words) for one output channel.
__m128i ChromaOffsets(__m128i uvLow, __m128i uvHigh, __m128i weights)
{
    return _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(uvLow, weights), 8),
                           _mm_srai_epi32(_mm_madd_epi16(uvHigh, weights), 8));
}

// Sixteen pixels: luma plus each chroma offset used for two neighbouring pixels.
__m128i AddOffsets(__m128i luma, __m128i offsets)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_add_epi16(_mm_unpacklo_epi8(luma, zero), _mm_unpacklo_epi16(offsets, offsets));
    const __m128i high = _mm_add_epi16(_mm_unpackhi_epi8(luma, zero), _mm_unpackhi_epi16(offsets, offsets));
    return _mm_packus_epi16(low, high);
}

VOID ToBgrRow(const UCHAR* pucLuma, const UCHAR* pucU, const UCHAR* pucV, PUCHAR pucRow, ULONG ulWidth)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i weightsRed = _mm_set_epi16(359, 0, 359, 0, 359, 0, 359, 0);
    const __m128i weightsGreen = _mm_set_epi16(183, 88, 183, 88, 183, 88, 183, 88);
    const __m128i weightsBlue = _mm_set_epi16(0, 454, 0, 454, 0, 454, 0, 454);
    ULONG x = 0;
    for (; x + 16 <= ulWidth; x += 16) {
        const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucLuma + x));
        const __m128i u = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pucU + x / 2)), zero), bias);
        const __m128i v = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pucV + x / 2)), zero), bias);
        const __m128i uvLow = _mm_unpacklo_epi16(u, v);
        const __m128i uvHigh = _mm_unpackhi_epi16(u, v);
        const __m128i red = AddOffsets(luma, ChromaOffsets(uvLow, uvHigh, weightsRed));
        // G = Y − ((88 u + 183 v) >> 8): the sum is floored before it is subtracted.
        const __m128i greenOffsets = ChromaOffsets(uvLow, uvHigh, weightsGreen);
        const __m128i green = AddOffsets(luma, _mm_sub_epi16(zero, greenOffsets));
        const __m128i blue = AddOffsets(luma, ChromaOffsets(uvLow, uvHigh, weightsBlue));
        const __m128i blueGreenLow = _mm_unpacklo_epi8(blue, green);
        const __m128i blueGreenHigh = _mm_unpackhi_epi8(blue, green);
        const __m128i redLow = _mm_unpacklo_epi8(red, zero);
        const __m128i redHigh = _mm_unpackhi_epi8(red, zero);
        const __m128i pixels[4] = {
            _mm_unpacklo_epi16(blueGreenLow, redLow), _mm_unpackhi_epi16(blueGreenLow, redLow),
            _mm_unpacklo_epi16(blueGreenHigh, redHigh), _mm_unpackhi_epi16(blueGreenHigh, redHigh)};
        VeStorePixels16(pucRow + 3 * x, pixels);
    }
    ToBgrRowReference(pucLuma, pucU, pucV, pucRow, x, ulWidth);
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
        ConvertRowPair(BgrRow(pucBgr, y, ulWidth, ulHeight, bFlip), BgrRow(pucBgr, y + 1, ulWidth, ulHeight, bFlip),
                       planes.pucY + static_cast<SIZE_T>(y) * ulWidth, planes.pucY + static_cast<SIZE_T>(y + 1) * ulWidth,
                       planes.pucU + static_cast<SIZE_T>(cy) * ulChromaWidth,
                       planes.pucV + static_cast<SIZE_T>(cy) * ulChromaWidth, ulWidth);
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
        ToBgrRow(planes.pucY + static_cast<SIZE_T>(y) * ulWidth, planes.pucU + cbChroma, planes.pucV + cbChroma,
                 const_cast<PUCHAR>(BgrRow(pucBgr, y, ulWidth, ulHeight, bFlip)), ulWidth);
    }
}
