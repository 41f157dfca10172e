// The 1 2 1 / 2 4 2 / 1 2 1 smoother on 16 columns at a time.
#include "platform/CpuFeatures.h"
#include "imageprocess/ImageHelpersKernels.h"

#include <immintrin.h>

KORVAL_AVX2_BEGIN

namespace {
#define KORVAL_SIMD_BITS 256
#include "platform/SimdLanes.inl"

inline Lanes Widen(const UCHAR* q) { return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q))); }
} // namespace

#define IH_SIMD_NAME(name) name##Avx2
#include "imageprocess/ImageHelpersSmoothRows.inl"
#undef IH_SIMD_NAME

KORVAL_AVX2_END
