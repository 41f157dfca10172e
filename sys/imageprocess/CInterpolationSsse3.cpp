// The green pass on 128-bit registers for processors with SSSE3: its 16-bit
// absolute value takes one instruction where SSE2 needs a negation and a
// maximum, six times a step. The colour pass has no absolute values: its packed
// form is the SSE2 one, and here it writes BGR24 rows directly, the byte
// shuffles putting each step's pixels in order.
#include "platform/CpuFeatures.h"
#include <tmmintrin.h>

#include "imageprocess/CInterpolationKernels.h"

KORVAL_SSSE3_BEGIN

namespace {

inline __m128i AbsoluteValue(__m128i v) { return _mm_abs_epi16(v); }

} // namespace

#define IP_GREEN_PASS_ONLY
#define IP_IMAGE_PASS
#include "imageprocess/CInterpolationLanes128.inl"

#define IP_SIMD_NAME(name) name##Ssse3
#include "imageprocess/CInterpolationPasses.inl"
#undef IP_SIMD_NAME
#undef IP_IMAGE_PASS
#undef IP_GREEN_PASS_ONLY

KORVAL_SSSE3_END
