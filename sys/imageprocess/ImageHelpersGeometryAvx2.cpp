// Even rows of the 2x enlargement, 4 source pixels (8 output pixels) a step:
// byte shuffles interleave each pixel with its half-sum with the next one.
#include "imageprocess/ImageHelpersKernels.h"

#include <immintrin.h>

#define KORVAL_AVX2 __attribute__((target("avx2")))

namespace {

// Output byte j of a step takes source byte kSource[j] (or half-sum byte
// kHalf[j]); -1 leaves the lane to the other table.
struct tagScaleTables {
    alignas(16) char acSourceLow[16];
    alignas(16) char acHalfLow[16];
    alignas(16) char acSourceHigh[16];
    alignas(16) char acHalfHigh[16];
    constexpr tagScaleTables() : acSourceLow{}, acHalfLow{}, acSourceHigh{}, acHalfHigh{}
    {
        for (int j = 0; j < 24; ++j) {
            const int lPixel = j / 6;
            const int lByte = 3 * lPixel + j % 3;
            const bool bHalf = j % 6 >= 3;
            char* pcSource = j < 16 ? &acSourceLow[j] : &acSourceHigh[j - 16];
            char* pcHalf = j < 16 ? &acHalfLow[j] : &acHalfHigh[j - 16];
            *pcSource = static_cast<char>(bHalf ? -1 : lByte);
            *pcHalf = static_cast<char>(bHalf ? lByte : -1);
        }
        for (int j = 24; j < 32; ++j) {
            acSourceHigh[j - 16] = -1;
            acHalfHigh[j - 16] = -1;
        }
    }
};
constexpr tagScaleTables kScale;

KORVAL_AVX2 inline __m128i Table(const char* pcTable)
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(pcTable));
}

} // namespace

KORVAL_AVX2 ULONG ScaleRowAvx2(const UCHAR* pucSource, UCHAR* pucOut, ULONG ulReadablePixels)
{
    const __m128i vHalfMask = _mm_set1_epi8(0x7F);
    ULONG i = 0;
    for (; i + 5 <= ulReadablePixels; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucSource + 3 * i));
        const __m128i vHalf = _mm_and_si128(_mm_srli_epi16(x, 1), vHalfMask);
        const __m128i vPair = _mm_add_epi8(vHalf, _mm_srli_si128(vHalf, 3));
        const __m128i vLow = _mm_or_si128(_mm_shuffle_epi8(x, Table(kScale.acSourceLow)),
                                          _mm_shuffle_epi8(vPair, Table(kScale.acHalfLow)));
        const __m128i vHigh = _mm_or_si128(_mm_shuffle_epi8(x, Table(kScale.acSourceHigh)),
                                           _mm_shuffle_epi8(vPair, Table(kScale.acHalfHigh)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucOut + 6 * i), vLow);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pucOut + 6 * i + 16), vHigh);
    }
    return i;
}

// 2x reduction, 4 output pixels a step: vertical pairs summed on 16-bit lanes,
// the horizontal partner three lanes on, then the 12 wanted sums picked out.
KORVAL_AVX2 ULONG SubSampleRowAvx2(const UCHAR* pucUpper, const UCHAR* pucLower, UCHAR* pucOut, ULONG ulOutPixels)
{
    const __m128i vZero = _mm_setzero_si128();
    const __m128i vPickLow = _mm_setr_epi8(0, 1, 2, 6, 7, 8, 12, 13, 14, -1, -1, -1, -1, -1, -1, -1);
    const __m128i vPickHigh = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 3, 4, -1, -1, -1, -1);
    ULONG i = 0;
    for (; i + 4 <= ulOutPixels; i += 4) {
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucUpper + 6 * i));
        const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucLower + 6 * i));
        const __m128i a1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pucUpper + 6 * i + 16));
        const __m128i b1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pucLower + 6 * i + 16));
        const __m128i s0 = _mm_add_epi16(_mm_unpacklo_epi8(a0, vZero), _mm_unpacklo_epi8(b0, vZero));
        const __m128i s1 = _mm_add_epi16(_mm_unpackhi_epi8(a0, vZero), _mm_unpackhi_epi8(b0, vZero));
        const __m128i s2 = _mm_add_epi16(_mm_unpacklo_epi8(a1, vZero), _mm_unpacklo_epi8(b1, vZero));
        const __m128i t0 = _mm_add_epi16(s0, _mm_or_si128(_mm_srli_si128(s0, 6), _mm_slli_si128(s1, 10)));
        const __m128i t1 = _mm_add_epi16(s1, _mm_or_si128(_mm_srli_si128(s1, 6), _mm_slli_si128(s2, 10)));
        const __m128i t2 = _mm_add_epi16(s2, _mm_srli_si128(s2, 6));
        const __m128i vLow = _mm_packus_epi16(_mm_srli_epi16(t0, 2), _mm_srli_epi16(t1, 2));
        const __m128i vHigh = _mm_packus_epi16(_mm_srli_epi16(t2, 2), vZero);
        const __m128i vOut = _mm_or_si128(_mm_shuffle_epi8(vLow, vPickLow), _mm_shuffle_epi8(vHigh, vPickHigh));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pucOut + 3 * i), vOut);
        const int lLast = _mm_cvtsi128_si32(_mm_srli_si128(vOut, 8));
        __builtin_memcpy(pucOut + 3 * i + 8, &lLast, 4);
    }
    return i;
}
