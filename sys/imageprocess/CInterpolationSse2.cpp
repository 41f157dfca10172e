// The demosaic passes on 128-bit registers for processors without SSSE3: the
// 16-bit absolute value is spelled out as a maximum with the negation.
#include "platform/CpuFeatures.h"
#include <emmintrin.h>

#include "imageprocess/CInterpolationKernels.h"

KORVAL_SSE2_BEGIN

namespace {

inline __m128i AbsoluteValue(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

} // namespace

#include "imageprocess/CInterpolationLanes128.inl"

#define IP_SIMD_NAME(name) name##Sse2
#include "imageprocess/CInterpolationPasses.inl"
#undef IP_SIMD_NAME

KORVAL_SSE2_END
