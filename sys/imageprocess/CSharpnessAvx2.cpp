// Sharpening on 16 pixels at a time: the Laplacian, coring, limits and
// strength on 16-bit lanes, then the deltas spread to B, G and R.
#include "platform/CpuFeatures.h"
#include "imageprocess/CSharpnessKernels.h"

#include <immintrin.h>

#define KORVAL_AVX2 __attribute__((target("avx2")))

namespace {

KORVAL_AVX2 inline __m256i load(const SHORT* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

} // namespace

KORVAL_AVX2 LONG_PTR SharpenRowAvx2(const SHORT* psMid, UCHAR* pucRow, LONG_PTR w, USHORT usSharpness,
                                    SHORT sUpper, SHORT sLower)
{
    const SHORT* psUp = psMid - w;
    const SHORT* psDown = psMid + w;
    const __m256i vThreshold = _mm256_set1_epi16(static_cast<SHORT>(usSharpness & 0xFF));
    const __m256i vStrength = _mm256_set1_epi16(static_cast<SHORT>(usSharpness >> 8));
    const __m256i vUpper = _mm256_set1_epi16(sUpper);
    const __m256i vLower = _mm256_set1_epi16(sLower);
    LONG_PTR c = 2;
    for (; c + 16 <= w - 2; c += 16) {
        __m256i vSum = _mm256_adds_epi16(_mm256_adds_epi16(load(psUp + c - 1), load(psUp + c)), load(psUp + c + 1));
        vSum = _mm256_adds_epi16(vSum, _mm256_adds_epi16(load(psMid + c - 1), load(psMid + c + 1)));
        vSum = _mm256_adds_epi16(
            vSum, _mm256_adds_epi16(_mm256_adds_epi16(load(psDown + c - 1), load(psDown + c)), load(psDown + c + 1)));
        const __m256i vCentre = load(psMid + c);
        __m256i vEight = _mm256_adds_epi16(vCentre, vCentre);
        vEight = _mm256_adds_epi16(vEight, vEight);
        vEight = _mm256_adds_epi16(vEight, vEight);
        __m256i vLaplace = _mm256_subs_epi16(vEight, vSum);
        const __m256i vKeep = _mm256_cmpgt_epi16(_mm256_abs_epi16(vLaplace), vThreshold);
        if (_mm256_movemask_epi8(vKeep) == 0) {
            continue;
        }
        vLaplace = _mm256_max_epi16(_mm256_min_epi16(vLaplace, vUpper), vLower);
        const __m256i vDelta =
            _mm256_and_si256(_mm256_srai_epi16(_mm256_mullo_epi16(vLaplace, vStrength), 4), vKeep);
        const __m128i vLow = _mm256_castsi256_si128(vDelta);
        const __m128i vHigh = _mm256_extracti128_si256(vDelta, 1);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(vLow, _mm_setzero_si128())) != 0xFFFF) {
            AddToPixels(pucRow + 3 * c, vLow);
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(vHigh, _mm_setzero_si128())) != 0xFFFF) {
            AddToPixels(pucRow + 3 * (c + 8), vHigh);
        }
    }
    return c;
}
