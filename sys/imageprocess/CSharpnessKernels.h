// Vector pieces of the sharpening stage.
#pragma once

#include "platform/CpuFeatures.h"
#include "platform/NtTypes.h"

#include <emmintrin.h>


// Sharpens columns 2.. of one picture row in steps of 16 pixels while a step
// stays left of column w - 2; returns the first column not done. psMid is the
// row's smoothed luma (rows above and below at -+ w).
LONG_PTR SharpenRowAvx2(const SHORT* psMid, UCHAR* pucRow, LONG_PTR w, USHORT usSharpness, SHORT sUpper,
                        SHORT sLower);

KORVAL_SSE2_BEGIN

// Adds delta k to the three bytes of pixel k (k = 0..7, 24 bytes), limited to
// 0..255: the eight 16-bit deltas are spread to 24 lanes with word shuffles.
inline void AddToPixels(UCHAR* pucPixels, __m128i vDelta)
{
    const __m128i vLow = _mm_shufflelo_epi16(vDelta, _MM_SHUFFLE(1, 0, 0, 0));     // d0 d0 d0 d1
    const __m128i vLowNext = _mm_shufflelo_epi16(vDelta, _MM_SHUFFLE(2, 2, 1, 1)); // d1 d1 d2 d2
    const __m128i vMid = _mm_shufflelo_epi16(vDelta, _MM_SHUFFLE(3, 3, 3, 2));     // d2 d3 d3 d3
    const __m128i vHigh = _mm_shufflehi_epi16(vDelta, _MM_SHUFFLE(1, 0, 0, 0));    // d4 d4 d4 d5
    const __m128i vHighNext = _mm_shufflehi_epi16(vDelta, _MM_SHUFFLE(2, 2, 1, 1)); // d5 d5 d6 d6
    const __m128i vTop = _mm_shufflehi_epi16(vDelta, _MM_SHUFFLE(3, 3, 3, 2));     // d6 d7 d7 d7
    const __m128i vSpread0 = _mm_unpacklo_epi64(vLow, vLowNext);
    const __m128i vSpread1 = _mm_castpd_si128(_mm_move_sd(_mm_castsi128_pd(vHigh), _mm_castsi128_pd(vMid)));
    const __m128i vSpread2 = _mm_unpackhi_epi64(vHighNext, vTop);
    const __m128i vZero = _mm_setzero_si128();
    const __m128i vFirst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucPixels));
    const __m128i vLast = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pucPixels + 16));
    const __m128i vSum0 = _mm_add_epi16(_mm_unpacklo_epi8(vFirst, vZero), vSpread0);
    const __m128i vSum1 = _mm_add_epi16(_mm_unpackhi_epi8(vFirst, vZero), vSpread1);
    const __m128i vSum2 = _mm_add_epi16(_mm_unpacklo_epi8(vLast, vZero), vSpread2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pucPixels), _mm_packus_epi16(vSum0, vSum1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pucPixels + 16), _mm_packus_epi16(vSum2, vSum2));
}

KORVAL_SSE2_END
