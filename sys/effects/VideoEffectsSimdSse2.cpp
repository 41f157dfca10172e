// The SIMD loops for every x86-64 processor (SSE2).
#include "effects/EffectKernels.h"
#include "effects/SimdDispatch.h"
#include "effects/VideoEffects.h"

#define VE_SIMD_NAMESPACE VeSse2
#include "effects/SimdBgr.h"
#include "effects/SimdKernels.inl"
