// The Sobel sketch 32 bytes a step, for processors with AVX2 (host build only:
// the Windows image has no AVX2 path, so this file is not part of it).
#include "platform/CpuFeatures.h"
#include <immintrin.h>

#include "effects/EffectKernels.h"

KORVAL_AVX2_BEGIN

namespace {

inline __m256i LoadWords32(const UCHAR* pucAt, bool bHigh)
{
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pucAt));
    return bHigh ? _mm256_unpackhi_epi8(bytes, _mm256_setzero_si256()) : _mm256_unpacklo_epi8(bytes, _mm256_setzero_si256());
}

// SketchWords on 32 bytes: sixteen words, eight from each 128-bit lane.
inline __m256i SketchWords32(const UCHAR* pucAt, SIZE_T cbStride, bool bHigh, __m128i shift)
{
    const __m256i upLeft = LoadWords32(pucAt - cbStride - 3, bHigh);
    const __m256i up = LoadWords32(pucAt - cbStride, bHigh);
    const __m256i upRight = LoadWords32(pucAt - cbStride + 3, bHigh);
    const __m256i left = LoadWords32(pucAt - 3, bHigh);
    const __m256i right = LoadWords32(pucAt + 3, bHigh);
    const __m256i downLeft = LoadWords32(pucAt + cbStride - 3, bHigh);
    const __m256i down = LoadWords32(pucAt + cbStride, bHigh);
    const __m256i downRight = LoadWords32(pucAt + cbStride + 3, bHigh);
    const __m256i gx = _mm256_sub_epi16(_mm256_add_epi16(_mm256_add_epi16(upRight, downRight), _mm256_slli_epi16(right, 1)),
                                        _mm256_add_epi16(_mm256_add_epi16(upLeft, downLeft), _mm256_slli_epi16(left, 1)));
    const __m256i gy = _mm256_sub_epi16(_mm256_add_epi16(_mm256_add_epi16(downLeft, downRight), _mm256_slli_epi16(down, 1)),
                                        _mm256_add_epi16(_mm256_add_epi16(upLeft, upRight), _mm256_slli_epi16(up, 1)));
    const __m256i edge = _mm256_srl_epi16(_mm256_add_epi16(_mm256_abs_epi16(gx), _mm256_abs_epi16(gy)), shift);
    return _mm256_sub_epi16(_mm256_set1_epi16(255), _mm256_min_epi16(edge, _mm256_set1_epi16(255)));
}

} // namespace

LONG_PTR VeSketchBlocksAvx2(const UCHAR* pucSource, PUCHAR pucDestination, LONG_PTR lStride, LONG_PTR lFrom,
                            LONG_PTR lTo, ULONG ulShift)
{
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(ulShift));
    LONG_PTR i = lFrom;
    for (; i + 32 <= lTo; i += 32) {
        const __m256i low = SketchWords32(pucSource + i, static_cast<SIZE_T>(lStride), false, shift);
        const __m256i high = SketchWords32(pucSource + i, static_cast<SIZE_T>(lStride), true, shift);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pucDestination + i), _mm256_packus_epi16(low, high));
    }
    return VeSketchBlocksSse2(pucSource, pucDestination, lStride, i, lTo, ulShift);
}

KORVAL_AVX2_END
