// The grey-sample sums four blocks at a time on the SSE2 path (the one the
// Windows image runs).
#include "platform/CpuFeatures.h"
#include <emmintrin.h>

#include "imageprocess/CAwbKernels.h"

KORVAL_SSE2_BEGIN

namespace {
#define KORVAL_SIMD_BITS 128
#include "platform/SimdLanes.inl"

inline FloatLanes LessThan(FloatLanes a, FloatLanes b) { return _mm_cmplt_ps(a, b); }
inline FloatLanes GreaterThan(FloatLanes a, FloatLanes b) { return _mm_cmpgt_ps(a, b); }
} // namespace

#define AWB_SIMD_NAME(name) name##Sse2
#include "imageprocess/CAwbSumsRows.inl"
#undef AWB_SIMD_NAME

KORVAL_SSE2_END
