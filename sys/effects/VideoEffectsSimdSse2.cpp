// The SIMD loops for processors with SSE2.
#include "effects/EffectKernels.h"
#include "effects/SimdDispatch.h"
#include "effects/VideoEffects.h"

KORVAL_SSE2_BEGIN

#define VE_SIMD_NAMESPACE VeSse2
#include "effects/SimdBgr.h"
#include "effects/SimdKernels.inl"

KORVAL_SSE2_END
