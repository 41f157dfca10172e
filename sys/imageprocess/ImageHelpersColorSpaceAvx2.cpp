// BGR24 to I420 on 256-bit registers, 32 pixels a step: 128-bit lane 0 holds
// pixels 0..15 and lane 1 pixels 16..31, so the in-lane unpacks and packs keep
// the pixel order, and only the chroma store reorders its quarters.
#include "platform/CpuFeatures.h"
#include "imageprocess/ImageHelpersKernels.h"

#include <immintrin.h>

KORVAL_AVX2_BEGIN

namespace {

#define KORVAL_SIMD_BITS 256
#include "platform/SimdLanes.inl"

// Bytes p .. p + 15 in lane 0 and p + 48 .. p + 63 in lane 1.
inline Lanes LoadLanes(const UCHAR* p)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), 1);
}

// A 16-byte shuffle in both 128-bit lanes.
inline Lanes LoadShuffle(const char* pcShuffle)
{
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(pcShuffle)));
}

// U and V of 16 pixel pairs as 16-bit lanes (pairs 0..7 | 8..15 of each):
// packed together as U 0..7, V 0..7 | U 8..15, V 8..15, then reordered.
inline void StoreChroma(UCHAR* pucU, UCHAR* pucV, Lanes vU, Lanes vV)
{
    const Lanes vOrdered = _mm256_permute4x64_epi64(_mm256_packus_epi16(vU, vV), _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pucU), _mm256_castsi256_si128(vOrdered));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pucV), _mm256_extracti128_si256(vOrdered, 1));
}

} // namespace

#define IH_SIMD_NAME(name) name##Avx2
#include "imageprocess/ImageHelpersColorSpaceRows.inl"
#undef IH_SIMD_NAME

KORVAL_AVX2_END
