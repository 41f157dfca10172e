// The defect scan's pre-filters on 32 pixels at a time.
#include "platform/CpuFeatures.h"
#include "imageprocess/CDefectKernels.h"

#include <immintrin.h>

KORVAL_AVX2_BEGIN

namespace {
#define KORVAL_SIMD_BITS 256
#include "platform/SimdLanes.inl"
} // namespace

#define DEFECT_SIMD_NAME(name) name##Avx2
#include "imageprocess/CDefectLanes.inl"
#undef DEFECT_SIMD_NAME

KORVAL_AVX2_END
