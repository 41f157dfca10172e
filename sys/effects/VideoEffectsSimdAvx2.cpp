// The SIMD loops for processors with AVX2, chosen at run time: the conversions
// take 32 pixels per step, two 16-pixel halves side by side in the register's
// 128-bit lanes; everything else is the SSSE3 set in VEX encoding.
#include "platform/CpuFeatures.h"
#include <immintrin.h>

#include "effects/EffectKernels.h"
#include "effects/SimdDispatch.h"
#include "effects/VideoEffects.h"

KORVAL_AVX2_BEGIN

#define VE_SIMD_NAMESPACE VeAvx2Narrow
#define VE_SIMD_SSSE3 1  // every AVX2 processor has SSSE3
#include "effects/SimdBgr.h"
#include "effects/SimdKernels.inl"

VE_DECLARE_SIMD_KERNELS(VeAvx2Narrow)

namespace {

inline __m256i LoadHalves(const UCHAR* pucLow, const UCHAR* pucHigh)
{
    return _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pucHigh)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucLow)));
}

inline __m256i SpreadPixels(__m256i packed)
{
    const __m256i order = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
                                           0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm256_shuffle_epi8(packed, order);
}

inline __m256i GatherPixels(__m256i pixels)
{
    const __m256i order = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                           0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    return _mm256_shuffle_epi8(pixels, order);
}

// 32 pixels from 96 bytes: lane 0 of each register holds pixels 0..15, lane 1 pixels 16..31.
inline VOID LoadPixels32(const UCHAR* pucSource, __m256i pixels[4])
{
    const __m256i in0 = LoadHalves(pucSource, pucSource + 48);
    const __m256i in1 = LoadHalves(pucSource + 16, pucSource + 64);
    const __m256i in2 = LoadHalves(pucSource + 32, pucSource + 80);
    pixels[0] = SpreadPixels(in0);
    pixels[1] = SpreadPixels(_mm256_alignr_epi8(in1, in0, 12));
    pixels[2] = SpreadPixels(_mm256_alignr_epi8(in2, in1, 8));
    pixels[3] = SpreadPixels(_mm256_srli_si256(in2, 4));
}

inline VOID StorePixels32(PUCHAR pucDestination, const __m256i pixels[4])
{
    const __m256i packed0 = GatherPixels(pixels[0]);
    const __m256i packed1 = GatherPixels(pixels[1]);
    const __m256i packed2 = GatherPixels(pixels[2]);
    const __m256i packed3 = GatherPixels(pixels[3]);
    const __m256i out[3] = {_mm256_or_si256(packed0, _mm256_slli_si256(packed1, 12)),
                            _mm256_or_si256(_mm256_srli_si256(packed1, 4), _mm256_slli_si256(packed2, 8)),
                            _mm256_or_si256(_mm256_srli_si256(packed2, 8), _mm256_slli_si256(packed3, 4))};
    for (int i = 0; i < 3; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucDestination + 16 * i), _mm256_castsi256_si128(out[i]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucDestination + 48 + 16 * i), _mm256_extracti128_si256(out[i], 1));
    }
}

inline __m256i Luma8(__m256i pixels)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i weights = _mm256_set_epi16(0, 9798, 19235, 3736, 0, 9798, 19235, 3736,
                                             0, 9798, 19235, 3736, 0, 9798, 19235, 3736);
    const __m256i low = _mm256_madd_epi16(_mm256_unpacklo_epi8(pixels, zero), weights);
    const __m256i high = _mm256_madd_epi16(_mm256_unpackhi_epi8(pixels, zero), weights);
    const __m256i lowSums = _mm256_add_epi32(low, _mm256_srli_epi64(low, 32));
    const __m256i highSums = _mm256_add_epi32(high, _mm256_srli_epi64(high, 32));
    const __m256i sums = _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(lowSums),
                                                               _mm256_castsi256_ps(highSums), _MM_SHUFFLE(2, 0, 2, 0)));
    return _mm256_srli_epi32(sums, 15);
}

inline __m256i Luma32(const __m256i pixels[4])
{
    const __m256i low = _mm256_packs_epi32(Luma8(pixels[0]), Luma8(pixels[1]));
    const __m256i high = _mm256_packs_epi32(Luma8(pixels[2]), Luma8(pixels[3]));
    return _mm256_packus_epi16(low, high);
}

inline __m256i BlockSums(__m256i top, __m256i bottom)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low = _mm256_add_epi16(_mm256_unpacklo_epi8(top, zero), _mm256_unpacklo_epi8(bottom, zero));
    const __m256i high = _mm256_add_epi16(_mm256_unpackhi_epi8(top, zero), _mm256_unpackhi_epi8(bottom, zero));
    const __m256i firstBlock = _mm256_add_epi16(low, _mm256_srli_si256(low, 8));
    const __m256i secondBlock = _mm256_add_epi16(high, _mm256_srli_si256(high, 8));
    return _mm256_unpacklo_epi64(firstBlock, secondBlock);
}

inline __m256i WeighBlocks(__m256i sums, __m256i weights)
{
    const __m256i products = _mm256_madd_epi16(sums, weights);
    return _mm256_add_epi32(products, _mm256_srli_epi64(products, 32));
}

// Sixteen chroma samples of one plane, in the low 16 bytes.
inline __m128i Chroma16(const __m256i sums[4], __m256i weights)
{
    __m256i lanes[4];
    for (int k = 0; k < 4; ++k) {
        lanes[k] = WeighBlocks(sums[k], weights);
    }
    const __m256i low = _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(lanes[0]), _mm256_castsi256_ps(lanes[1]), _MM_SHUFFLE(2, 0, 2, 0)));
    const __m256i high = _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(lanes[2]), _mm256_castsi256_ps(lanes[3]), _MM_SHUFFLE(2, 0, 2, 0)));
    const __m256i offset = _mm256_set1_epi32(128);
    const __m256i words = _mm256_packs_epi32(_mm256_add_epi32(_mm256_srai_epi32(low, 17), offset),
                                             _mm256_add_epi32(_mm256_srai_epi32(high, 17), offset));
    // Eight samples at the start of each lane: bring the two halves together.
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08));
}

inline __m256i ChromaOffsets(__m256i uvLow, __m256i uvHigh, __m256i weights)
{
    return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_madd_epi16(uvLow, weights), 8),
                              _mm256_srai_epi32(_mm256_madd_epi16(uvHigh, weights), 8));
}

inline __m256i AddOffsets(__m256i luma, __m256i offsets)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low = _mm256_add_epi16(_mm256_unpacklo_epi8(luma, zero), _mm256_unpacklo_epi16(offsets, offsets));
    const __m256i high = _mm256_add_epi16(_mm256_unpackhi_epi8(luma, zero), _mm256_unpackhi_epi16(offsets, offsets));
    return _mm256_packus_epi16(low, high);
}

// Sixteen chroma samples, the first eight at the start of lane 0, the others of lane 1.
inline __m256i LoadChroma16(const UCHAR* pucChroma)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucChroma));
    return _mm256_permute4x64_epi64(_mm256_castsi128_si256(bytes), 0x50);
}

} // namespace

namespace VeAvx2 {

// Eight pixels of a luma-only effect in B G R 0 lanes (LumaEffect4 at twice the width).
template <ULONG kEffect>
inline __m256i LumaEffect8(__m256i pixels)
{
    const __m256i luma = Luma8(pixels);
    switch (kEffect) {
    case VeEffectBlackWhite:
        return _mm256_and_si256(_mm256_cmpgt_epi32(luma, _mm256_set1_epi32(120)), _mm256_set1_epi32(0x00FFFFFF));
    case VeEffectGreenTone: return _mm256_slli_epi32(luma, 8);
    case VeEffectGrey:
        return _mm256_or_si256(_mm256_or_si256(luma, _mm256_slli_epi32(luma, 8)), _mm256_slli_epi32(luma, 16));
    case VeEffectBlueTone: return luma;
    case VeEffectRedTone: return _mm256_slli_epi32(luma, 16);
    case VeEffectSolarise: {
        const __m256i bright = _mm256_cmpgt_epi32(luma, _mm256_set1_epi32(127));
        return _mm256_xor_si256(pixels, _mm256_and_si256(bright, _mm256_set1_epi32(0x00FFFFFF)));
    }
    default: return pixels;
    }
}

template <ULONG kEffect>
ULONG LumaEffectBlocksOf(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels)
{
    ULONG i = 0;
    __m256i pixels[4];
    for (; i + 32 <= ulPixels; i += 32) {
        LoadPixels32(pucSource + 3 * i, pixels);
        for (int k = 0; k < 4; ++k) {
            pixels[k] = LumaEffect8<kEffect>(pixels[k]);
        }
        StorePixels32(pucDestination + 3 * i, pixels);
    }
    return i;
}

ULONG WideLumaEffectBlocks(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels)
{
    switch (ulEffect) {
    case VeEffectBlackWhite: return LumaEffectBlocksOf<VeEffectBlackWhite>(pucSource, pucDestination, ulPixels);
    case VeEffectGreenTone: return LumaEffectBlocksOf<VeEffectGreenTone>(pucSource, pucDestination, ulPixels);
    case VeEffectGrey: return LumaEffectBlocksOf<VeEffectGrey>(pucSource, pucDestination, ulPixels);
    case VeEffectBlueTone: return LumaEffectBlocksOf<VeEffectBlueTone>(pucSource, pucDestination, ulPixels);
    case VeEffectRedTone: return LumaEffectBlocksOf<VeEffectRedTone>(pucSource, pucDestination, ulPixels);
    case VeEffectSolarise: return LumaEffectBlocksOf<VeEffectSolarise>(pucSource, pucDestination, ulPixels);
    default: return 0;
    }
}

// Sepia with its three bytes per luma gathered from one table of B G R 0 words.
ULONG SepiaBlocks(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels, const UCHAR* pucToneTable)
{
    alignas(32) int alColours[256];
    for (ULONG ulLuma = 0; ulLuma < 256; ++ulLuma) {
        alColours[ulLuma] = static_cast<int>(pucToneTable[VE_TONE_SEPIA_BLUE + ulLuma] | (ulLuma << 8) |
                                             (static_cast<ULONG>(pucToneTable[VE_TONE_SEPIA_RED + ulLuma]) << 16));
    }
    ULONG i = 0;
    __m128i pixels[4];
    for (; i + 16 <= ulPixels; i += 16) {
        VeAvx2Narrow::VeLoadPixels16(pucSource + 3 * i, pixels);
        for (int k = 0; k < 4; ++k) {
            pixels[k] = _mm_i32gather_epi32(alColours, VeAvx2Narrow::VeLuma4(pixels[k]), 4);
        }
        VeAvx2Narrow::VeStorePixels16(pucDestination + 3 * i, pixels);
    }
    return i;
}

ULONG LumaEffectBlocks(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels,
                       const UCHAR* pucToneTable)
{
    if (ulEffect == VeEffectSepia) {
        return SepiaBlocks(pucSource, pucDestination, ulPixels, pucToneTable);
    }
    const ULONG i = WideLumaEffectBlocks(ulEffect, pucSource, pucDestination, ulPixels);
    return i + VeAvx2Narrow::LumaEffectBlocks(ulEffect, pucSource + 3 * i, pucDestination + 3 * i, ulPixels - i,
                                              pucToneTable);
}

ULONG ConvertRowPair(const UCHAR* pucTop, const UCHAR* pucBottom, PUCHAR pucLumaTop, PUCHAR pucLumaBottom,
                     PUCHAR pucU, PUCHAR pucV, ULONG ulWidth)
{
    const __m256i weightsU = _mm256_set_epi16(0, -5529, -10855, 16384, 0, -5529, -10855, 16384,
                                              0, -5529, -10855, 16384, 0, -5529, -10855, 16384);
    const __m256i weightsV = _mm256_set_epi16(0, 16384, -13720, -2664, 0, 16384, -13720, -2664,
                                              0, 16384, -13720, -2664, 0, 16384, -13720, -2664);
    ULONG x = 0;
    __m256i top[4];
    __m256i bottom[4];
    __m256i sums[4];
    for (; x + 32 <= ulWidth; x += 32) {
        LoadPixels32(pucTop + 3 * x, top);
        LoadPixels32(pucBottom + 3 * x, bottom);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pucLumaTop + x), Luma32(top));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pucLumaBottom + x), Luma32(bottom));
        for (int k = 0; k < 4; ++k) {
            sums[k] = BlockSums(top[k], bottom[k]);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucU + x / 2), Chroma16(sums, weightsU));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucV + x / 2), Chroma16(sums, weightsV));
    }
    return x + VeAvx2Narrow::ConvertRowPair(pucTop + 3 * x, pucBottom + 3 * x, pucLumaTop + x, pucLumaBottom + x,
                                            pucU + x / 2, pucV + x / 2, ulWidth - x);
}

ULONG ToBgrRow(const UCHAR* pucLuma, const UCHAR* pucU, const UCHAR* pucV, PUCHAR pucRow, ULONG ulWidth)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bias = _mm256_set1_epi16(128);
    const __m256i weightsRed = _mm256_set1_epi32(359 << 16);
    const __m256i weightsGreen = _mm256_set1_epi32((183 << 16) | 88);
    const __m256i weightsBlue = _mm256_set1_epi32(454);
    ULONG x = 0;
    for (; x + 32 <= ulWidth; x += 32) {
        const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pucLuma + x));
        const __m256i u = _mm256_sub_epi16(_mm256_unpacklo_epi8(LoadChroma16(pucU + x / 2), zero), bias);
        const __m256i v = _mm256_sub_epi16(_mm256_unpacklo_epi8(LoadChroma16(pucV + x / 2), zero), bias);
        const __m256i uvLow = _mm256_unpacklo_epi16(u, v);
        const __m256i uvHigh = _mm256_unpackhi_epi16(u, v);
        const __m256i red = AddOffsets(luma, ChromaOffsets(uvLow, uvHigh, weightsRed));
        // G = Y − ((88 u + 183 v) >> 8): the sum is floored before it is subtracted.
        const __m256i green = AddOffsets(luma, _mm256_sub_epi16(zero, ChromaOffsets(uvLow, uvHigh, weightsGreen)));
        const __m256i blue = AddOffsets(luma, ChromaOffsets(uvLow, uvHigh, weightsBlue));
        const __m256i blueGreenLow = _mm256_unpacklo_epi8(blue, green);
        const __m256i blueGreenHigh = _mm256_unpackhi_epi8(blue, green);
        const __m256i redLow = _mm256_unpacklo_epi8(red, zero);
        const __m256i redHigh = _mm256_unpackhi_epi8(red, zero);
        const __m256i pixels[4] = {
            _mm256_unpacklo_epi16(blueGreenLow, redLow), _mm256_unpackhi_epi16(blueGreenLow, redLow),
            _mm256_unpacklo_epi16(blueGreenHigh, redHigh), _mm256_unpackhi_epi16(blueGreenHigh, redHigh)};
        StorePixels32(pucRow + 3 * x, pixels);
    }
    return x + VeAvx2Narrow::ToBgrRow(pucLuma + x, pucU + x / 2, pucV + x / 2, pucRow + 3 * x, ulWidth - x);
}

} // namespace VeAvx2

KORVAL_AVX2_END
