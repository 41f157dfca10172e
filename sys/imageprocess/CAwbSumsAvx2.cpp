// The grey-sample sums eight blocks at a time, for processors with AVX2 (host
// build only: the Windows image has no AVX2 path, so this file is not part of it).
#include "platform/CpuFeatures.h"
#include <immintrin.h>

#include "imageprocess/CAwbKernels.h"

KORVAL_AVX2_BEGIN

namespace {
#define KORVAL_SIMD_BITS 256
#include "platform/SimdLanes.inl"

inline FloatLanes LessThan(FloatLanes a, FloatLanes b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
inline FloatLanes GreaterThan(FloatLanes a, FloatLanes b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
} // namespace

#define AWB_SIMD_NAME(name) name##Avx2
#include "imageprocess/CAwbSumsRows.inl"
#undef AWB_SIMD_NAME

KORVAL_AVX2_END
