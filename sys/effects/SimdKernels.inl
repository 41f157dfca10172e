// The SIMD loops of the luma effects and the conversions, compiled once per
// instruction set (VeSse2, VeSsse3): each returns how many pixels it did, and
// the caller finishes the rest with the plain reference.
// Included only by VideoEffectsSimdSse2.cpp and VideoEffectsSimdSsse3.cpp.

namespace VE_SIMD_NAMESPACE {

ULONG SepiaBlocks(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels, const UCHAR* pucToneTable);

// Four pixels of a luma-only effect in B G R 0 lanes.
template <ULONG kEffect>
inline __m128i LumaEffect4(__m128i pixels)
{
    const __m128i luma = VeLuma4(pixels);
    switch (kEffect) {
    case VeEffectBlackWhite: {
        const __m128i white = _mm_cmpgt_epi32(luma, _mm_set1_epi32(120));
        return _mm_and_si128(white, _mm_set1_epi32(0x00FFFFFF));
    }
    case VeEffectGreenTone: return _mm_slli_epi32(luma, 8);
    case VeEffectGrey: return _mm_or_si128(_mm_or_si128(luma, _mm_slli_epi32(luma, 8)), _mm_slli_epi32(luma, 16));
    case VeEffectBlueTone: return luma;
    case VeEffectRedTone: return _mm_slli_epi32(luma, 16);
    case VeEffectSolarise: {
        const __m128i bright = _mm_cmpgt_epi32(luma, _mm_set1_epi32(127));
        return _mm_xor_si128(pixels, _mm_and_si128(bright, _mm_set1_epi32(0x00FFFFFF)));
    }
    default: return pixels;  // sepia has its own loop
    }
}

// The effect is a template argument so that each loop is free of the choice.
template <ULONG kEffect>
ULONG LumaEffectBlocksOf(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels, const UCHAR* pucToneTable)
{
    if constexpr (kEffect == VeEffectSepia) {
        return SepiaBlocks(pucSource, pucDestination, ulPixels, pucToneTable);
    }
    ULONG i = 0;
    __m128i pixels[4];
    for (; i + 16 <= ulPixels; i += 16) {
        VeLoadPixels16(pucSource + 3 * i, pixels);
        for (int k = 0; k < 4; ++k) {
            pixels[k] = LumaEffect4<kEffect>(pixels[k]);
        }
        VeStorePixels16(pucDestination + 3 * i, pixels);
    }
    return i;
}

ULONG LumaEffectBlocks(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels,
                       const UCHAR* pucToneTable)
{
    switch (ulEffect) {
    case VeEffectBlackWhite: return LumaEffectBlocksOf<VeEffectBlackWhite>(pucSource, pucDestination, ulPixels, pucToneTable);
    case VeEffectGreenTone: return LumaEffectBlocksOf<VeEffectGreenTone>(pucSource, pucDestination, ulPixels, pucToneTable);
    case VeEffectGrey: return LumaEffectBlocksOf<VeEffectGrey>(pucSource, pucDestination, ulPixels, pucToneTable);
    case VeEffectBlueTone: return LumaEffectBlocksOf<VeEffectBlueTone>(pucSource, pucDestination, ulPixels, pucToneTable);
    case VeEffectRedTone: return LumaEffectBlocksOf<VeEffectRedTone>(pucSource, pucDestination, ulPixels, pucToneTable);
    case VeEffectSolarise: return LumaEffectBlocksOf<VeEffectSolarise>(pucSource, pucDestination, ulPixels, pucToneTable);
    case VeEffectSepia: return LumaEffectBlocksOf<VeEffectSepia>(pucSource, pucDestination, ulPixels, pucToneTable);
    default: return 0;
    }
}

// Sixteen lumas as bytes from four registers of pixels.
inline __m128i Luma16(const __m128i pixels[4])
{
    const __m128i low = _mm_packs_epi32(VeLuma4(pixels[0]), VeLuma4(pixels[1]));
    const __m128i high = _mm_packs_epi32(VeLuma4(pixels[2]), VeLuma4(pixels[3]));
    return _mm_packus_epi16(low, high);
}

// Block sums of two blocks (four pixels of each row) as B G R 0 B G R 0 words.
inline __m128i BlockSums(__m128i top, __m128i bottom)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_add_epi16(_mm_unpacklo_epi8(top, zero), _mm_unpacklo_epi8(bottom, zero));
    const __m128i high = _mm_add_epi16(_mm_unpackhi_epi8(top, zero), _mm_unpackhi_epi8(bottom, zero));
    const __m128i firstBlock = _mm_add_epi16(low, _mm_srli_si128(low, 8));
    const __m128i secondBlock = _mm_add_epi16(high, _mm_srli_si128(high, 8));
    return _mm_unpacklo_epi64(firstBlock, secondBlock);
}

// Weighted block sums, one 32-bit result in lanes 0 and 2.
inline __m128i WeighBlocks(__m128i sums, __m128i weights)
{
    const __m128i products = _mm_madd_epi16(sums, weights);
    return _mm_add_epi32(products, _mm_srli_epi64(products, 32));
}

// Eight chroma samples of one plane from the block sums of 16 pixel pairs.
inline __m128i Chroma8(const __m128i sums[4], __m128i weights)
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

ULONG ConvertRowPair(const UCHAR* pucTop, const UCHAR* pucBottom, PUCHAR pucLumaTop,
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
    return x;
}

// Chroma offsets of 8 samples (signed words) for one output channel.
inline __m128i ChromaOffsets(__m128i uvLow, __m128i uvHigh, __m128i weights)
{
    return _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(uvLow, weights), 8),
                           _mm_srai_epi32(_mm_madd_epi16(uvHigh, weights), 8));
}

// Sixteen pixels: luma plus each chroma offset used for two neighbouring pixels.
inline __m128i AddOffsets(__m128i luma, __m128i offsets)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_add_epi16(_mm_unpacklo_epi8(luma, zero), _mm_unpacklo_epi16(offsets, offsets));
    const __m128i high = _mm_add_epi16(_mm_unpackhi_epi8(luma, zero), _mm_unpackhi_epi16(offsets, offsets));
    return _mm_packus_epi16(low, high);
}

ULONG ToBgrRow(const UCHAR* pucLuma, const UCHAR* pucU, const UCHAR* pucV, PUCHAR pucRow, ULONG ulWidth)
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
    return x;
}


// Sepia: sixteen lumas at a time, blue and red looked up per luma.
ULONG SepiaBlocks(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels, const UCHAR* pucToneTable)
{
    const UCHAR* pucBlueTable = pucToneTable + VE_TONE_SEPIA_BLUE;
    const UCHAR* pucRedTable = pucToneTable + VE_TONE_SEPIA_RED;
    const __m128i zero = _mm_setzero_si128();
    alignas(16) UCHAR aucLuma[16];
    alignas(16) UCHAR aucBlue[16];
    alignas(16) UCHAR aucRed[16];
    ULONG i = 0;
    __m128i pixels[4];
    for (; i + 16 <= ulPixels; i += 16) {
        VeLoadPixels16(pucSource + 3 * i, pixels);
        const __m128i luma = Luma16(pixels);
        _mm_store_si128(reinterpret_cast<__m128i*>(aucLuma), luma);
        for (int k = 0; k < 16; ++k) {
            aucBlue[k] = pucBlueTable[aucLuma[k]];
            aucRed[k] = pucRedTable[aucLuma[k]];
        }
        const __m128i blue = _mm_load_si128(reinterpret_cast<const __m128i*>(aucBlue));
        const __m128i red = _mm_load_si128(reinterpret_cast<const __m128i*>(aucRed));
        const __m128i blueGreenLow = _mm_unpacklo_epi8(blue, luma);
        const __m128i blueGreenHigh = _mm_unpackhi_epi8(blue, luma);
        const __m128i redLow = _mm_unpacklo_epi8(red, zero);
        const __m128i redHigh = _mm_unpackhi_epi8(red, zero);
        pixels[0] = _mm_unpacklo_epi16(blueGreenLow, redLow);
        pixels[1] = _mm_unpackhi_epi16(blueGreenLow, redLow);
        pixels[2] = _mm_unpacklo_epi16(blueGreenHigh, redHigh);
        pixels[3] = _mm_unpackhi_epi16(blueGreenHigh, redHigh);
        VeStorePixels16(pucDestination + 3 * i, pixels);
    }
    return i;
}

} // namespace VE_SIMD_NAMESPACE
