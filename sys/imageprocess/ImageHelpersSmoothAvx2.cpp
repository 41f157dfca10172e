// The 1 2 1 / 2 4 2 / 1 2 1 smoother on 16 columns at a time.
#include "imageprocess/ImageHelpersKernels.h"

#include <immintrin.h>

#define KORVAL_AVX2 __attribute__((target("avx2")))

namespace {

KORVAL_AVX2 inline __m256i widen(const UCHAR* q)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
}

KORVAL_AVX2 inline __m256i RowSum16(const UCHAR* p)
{
    const __m256i vMid = widen(p);
    return _mm256_add_epi16(_mm256_add_epi16(widen(p - 1), widen(p + 1)), _mm256_add_epi16(vMid, vMid));
}

} // namespace

KORVAL_AVX2 ULONG SmoothRowAvx2(const UCHAR* pucRow, SHORT* psRow, ULONG ulWidth)
{
    ULONG c = 1;
    for (; c + 17 <= ulWidth; c += 16) {
        const __m256i vMid = RowSum16(pucRow + c);
        __m256i vSum = _mm256_add_epi16(RowSum16(pucRow - ulWidth + c), RowSum16(pucRow + ulWidth + c));
        vSum = _mm256_add_epi16(vSum, _mm256_add_epi16(vMid, vMid));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(psRow + c), _mm256_srli_epi16(vSum, 4));
    }
    return c;
}
