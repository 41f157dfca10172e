// Helpers that move 16 BGR24 pixels (48 bytes) between memory and four
// registers of four pixels each, one pixel per 32-bit lane as B G R 0.
// Included by one file per instruction set: with VE_SIMD_SSSE3 defined (in a
// file compiled for SSSE3) the lanes are moved with byte shuffles, otherwise
// with SSE2 shifts and masks. Each set lives in its own namespace.
#pragma once

#include <emmintrin.h>
#if defined(VE_SIMD_SSSE3)
#include <tmmintrin.h>
#endif

#include "platform/Platform.h"

namespace VE_SIMD_NAMESPACE {

// Spreads the first 12 bytes of a register into four B G R 0 lanes.
inline __m128i VeSpreadPixels(__m128i packed)
{
#if defined(VE_SIMD_SSSE3)
    return _mm_shuffle_epi8(packed, _mm_set_epi8(-1, 11, 10, 9, -1, 8, 7, 6, -1, 5, 4, 3, -1, 2, 1, 0));
#endif
    const __m128i mask = _mm_set1_epi32(0x00FFFFFF);
    __m128i lane0 = packed;
    __m128i lane1 = _mm_slli_si128(packed, 1);
    __m128i lane2 = _mm_slli_si128(packed, 2);
    __m128i lane3 = _mm_slli_si128(packed, 3);
    __m128i spread = _mm_and_si128(lane0, _mm_set_epi32(0, 0, 0, -1));
    spread = _mm_or_si128(spread, _mm_and_si128(lane1, _mm_set_epi32(0, 0, -1, 0)));
    spread = _mm_or_si128(spread, _mm_and_si128(lane2, _mm_set_epi32(0, -1, 0, 0)));
    spread = _mm_or_si128(spread, _mm_and_si128(lane3, _mm_set_epi32(-1, 0, 0, 0)));
    return _mm_and_si128(spread, mask);
}

// Packs four B G R x lanes into the first 12 bytes (the last 4 become 0).
inline __m128i VeGatherPixels(__m128i pixels)
{
#if defined(VE_SIMD_SSSE3)
    return _mm_shuffle_epi8(pixels, _mm_set_epi8(-1, -1, -1, -1, 14, 13, 12, 10, 9, 8, 6, 5, 4, 2, 1, 0));
#endif
    const __m128i mask = _mm_set1_epi32(0x00FFFFFF);
    pixels = _mm_and_si128(pixels, mask);
    __m128i packed = _mm_and_si128(pixels, _mm_set_epi32(0, 0, 0, 0x00FFFFFF));
    packed = _mm_or_si128(packed, _mm_and_si128(_mm_srli_si128(pixels, 1), _mm_set_epi32(0, 0, 0x0000FFFF, static_cast<int>(0xFF000000))));
    packed = _mm_or_si128(packed, _mm_and_si128(_mm_srli_si128(pixels, 2), _mm_set_epi32(0, 0x000000FF, static_cast<int>(0xFFFF0000), 0)));
    packed = _mm_or_si128(packed, _mm_and_si128(_mm_srli_si128(pixels, 3), _mm_set_epi32(0, static_cast<int>(0xFFFFFF00), 0, 0)));
    return packed;
}

inline VOID VeLoadPixels16(const UCHAR* pucSource, __m128i pixels[4])
{
    const __m128i in0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucSource));
    const __m128i in1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucSource + 16));
    const __m128i in2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucSource + 32));
    pixels[0] = VeSpreadPixels(in0);
    pixels[1] = VeSpreadPixels(_mm_or_si128(_mm_srli_si128(in0, 12), _mm_slli_si128(in1, 4)));
    pixels[2] = VeSpreadPixels(_mm_or_si128(_mm_srli_si128(in1, 8), _mm_slli_si128(in2, 8)));
    pixels[3] = VeSpreadPixels(_mm_srli_si128(in2, 4));
}

inline VOID VeStorePixels16(PUCHAR pucDestination, const __m128i pixels[4])
{
    const __m128i packed0 = VeGatherPixels(pixels[0]);
    const __m128i packed1 = VeGatherPixels(pixels[1]);
    const __m128i packed2 = VeGatherPixels(pixels[2]);
    const __m128i packed3 = VeGatherPixels(pixels[3]);
    const __m128i out0 = _mm_or_si128(packed0, _mm_slli_si128(packed1, 12));
    const __m128i out1 = _mm_or_si128(_mm_srli_si128(packed1, 4), _mm_slli_si128(packed2, 8));
    const __m128i out2 = _mm_or_si128(_mm_srli_si128(packed2, 8), _mm_slli_si128(packed3, 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pucDestination), out0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pucDestination + 16), out1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pucDestination + 32), out2);
}

// Luma of four B G R x lanes, one 32-bit result per lane, by multiply-add on
// 16-bit lanes.
inline __m128i VeLuma4(__m128i pixels)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i weights = _mm_set_epi16(0, 9798, 19235, 3736, 0, 9798, 19235, 3736);
    const __m128i low = _mm_madd_epi16(_mm_unpacklo_epi8(pixels, zero), weights);
    const __m128i high = _mm_madd_epi16(_mm_unpackhi_epi8(pixels, zero), weights);
    // Each pixel's two partial sums sit in adjacent lanes; add them pairwise.
    const __m128i lowSums = _mm_add_epi32(low, _mm_srli_epi64(low, 32));
    const __m128i highSums = _mm_add_epi32(high, _mm_srli_epi64(high, 32));
    const __m128i sums = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(lowSums),
                                                         _mm_castsi128_ps(highSums),
                                                         _MM_SHUFFLE(2, 0, 2, 0)));
    return _mm_srli_epi32(sums, 15);
}

} // namespace VE_SIMD_NAMESPACE
