// BGR24 to I420 on 128-bit registers, 16 pixels a step, for the SSE2 path of
// processors with SSSE3 (its byte shuffle separates the channels).
#include "platform/CpuFeatures.h"
#include "imageprocess/ImageHelpersKernels.h"

#include <tmmintrin.h>

KORVAL_SSSE3_BEGIN

namespace {

#define KORVAL_SIMD_BITS 128
#include "platform/SimdLanes.inl"

inline Lanes LoadLanes(const UCHAR* p) { return LoadBytes(p); }
inline Lanes LoadShuffle(const char* pcShuffle) { return _mm_load_si128(reinterpret_cast<const __m128i*>(pcShuffle)); }

// U and V of 8 pixel pairs, given as 16-bit lanes.
inline void StoreChroma(UCHAR* pucU, UCHAR* pucV, Lanes vU, Lanes vV)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pucU), _mm_packus_epi16(vU, vU));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pucV), _mm_packus_epi16(vV, vV));
}

} // namespace

#define IH_SIMD_NAME(name) name##Ssse3
#include "imageprocess/ImageHelpersColorSpaceRows.inl"
#undef IH_SIMD_NAME

KORVAL_SSSE3_END
