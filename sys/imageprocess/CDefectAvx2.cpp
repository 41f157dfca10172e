// The defect scan's pre-filter on 32 pixels at a time: which pixels are flat
// and stand out, or are already remembered, and so need the full rule.
#include "imageprocess/CDefectKernels.h"

#include <immintrin.h>

#define KORVAL_AVX2 __attribute__((target("avx2")))

namespace {

KORVAL_AVX2 inline __m256i Load32(const UCHAR* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KORVAL_AVX2 inline __m256i AbsDiff(__m256i a, __m256i b)
{
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}

} // namespace

KORVAL_AVX2 unsigned DefectActiveLanesAvx2(const UCHAR* p, const UCHAR* pucConfidence, LONG_PTR lStride,
                                           const tagDefectThresholds& sThresholds)
{
    const LONG_PTR alOffset[8] = {-2 * lStride - 2, -2 * lStride, -2 * lStride + 2, 2,
                                  2 * lStride + 2,  2 * lStride,  2 * lStride - 2,  -2};
    const __m256i x = Load32(p);
    __m256i vPrevious = Load32(p + alOffset[7]);
    __m256i vRough = _mm256_setzero_si256();
    __m256i vAbove = _mm256_set1_epi8(-1);
    __m256i vBelow = _mm256_set1_epi8(-1);
    for (int k = 0; k < 8; ++k) {
        const __m256i n = Load32(p + alOffset[k]);
        vRough = _mm256_max_epu8(vRough, AbsDiff(vPrevious, n));
        vAbove = _mm256_min_epu8(vAbove, _mm256_subs_epu8(x, n));
        vBelow = _mm256_min_epu8(vBelow, _mm256_subs_epu8(n, x));
        vPrevious = n;
    }
    const __m256i vZero = _mm256_setzero_si256();
    const __m256i vFlat =
        _mm256_cmpeq_epi8(_mm256_subs_epu8(vRough, _mm256_set1_epi8(static_cast<char>(sThresholds.ucFlatBelow - 1))),
                          vZero);
    const __m256i vHot = _mm256_subs_epu8(vAbove, _mm256_set1_epi8(static_cast<char>(sThresholds.ucHot)));
    const __m256i vCold = _mm256_subs_epu8(vBelow, _mm256_set1_epi8(static_cast<char>(sThresholds.ucCold)));
    const __m256i vStandsOut = _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_or_si256(vHot, vCold), vZero),
                                                _mm256_set1_epi8(-1));
    const __m256i vMarked = _mm256_xor_si256(_mm256_cmpeq_epi8(Load32(pucConfidence), vZero), _mm256_set1_epi8(-1));
    const __m256i vActive = _mm256_or_si256(vMarked, _mm256_and_si256(vFlat, vStandsOut));
    return static_cast<unsigned>(_mm256_movemask_epi8(vActive));
}

KORVAL_AVX2 unsigned DefectCandidateLanesAvx2(const UCHAR* p, const UCHAR* pucConfidence,
                                              const tagDefectThresholds& sThresholds)
{
    const __m256i x = Load32(p);
    const __m256i vLeft = Load32(p - 2);
    const __m256i vRight = Load32(p + 2);
    const __m256i vHot = _mm256_subs_epu8(_mm256_subs_epu8(x, _mm256_max_epu8(vLeft, vRight)),
                                          _mm256_set1_epi8(static_cast<char>(sThresholds.ucHot)));
    const __m256i vCold = _mm256_subs_epu8(_mm256_subs_epu8(_mm256_min_epu8(vLeft, vRight), x),
                                           _mm256_set1_epi8(static_cast<char>(sThresholds.ucCold)));
    const __m256i vAny = _mm256_or_si256(_mm256_or_si256(vHot, vCold), Load32(pucConfidence));
    return ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(vAny, _mm256_setzero_si256())));
}
