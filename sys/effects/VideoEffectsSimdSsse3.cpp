// The SIMD loops for processors with SSSE3 byte shuffles, chosen at run time.
#include <emmintrin.h>
#include <tmmintrin.h>

#include "effects/EffectKernels.h"
#include "effects/SimdDispatch.h"
#include "effects/VideoEffects.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("ssse3"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("ssse3")
#endif

#define VE_SIMD_NAMESPACE VeSsse3
#define VE_SIMD_SSSE3 1
#include "effects/SimdBgr.h"
#include "effects/SimdKernels.inl"

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
