// The Sobel sketch 32 bytes a step, for processors with AVX2 (host build only:
// the Windows image has no AVX2 path, so this file is not part of it).
#include "platform/CpuFeatures.h"
#include <immintrin.h>

#include "effects/EffectKernels.h"

KORVAL_AVX2_BEGIN

namespace SketchAvx2 {

inline __m256i VeAbs16(__m256i a) { return _mm256_abs_epi16(a); }

} // namespace SketchAvx2

#define VE_SKETCH_NAMESPACE SketchAvx2
#define VE_SKETCH_VECTOR __m256i
#define VE_SKETCH_WORDS(op) _mm256_##op##_epi16
#define VE_SKETCH_BYTES(op) _mm256_##op##_epi8
#define VE_SKETCH_WHOLE(op) _mm256_##op##_si256
#include "effects/SketchKernel.inl"

LONG_PTR VeSketchBlocksAvx2(const UCHAR* pucSource, PUCHAR pucDestination, LONG_PTR lStride, LONG_PTR lFrom,
                            LONG_PTR lTo, ULONG ulShift)
{
    const LONG_PTR i = SketchAvx2::SketchBlocks(pucSource, pucDestination, lStride, lFrom, lTo, ulShift);
    return VeSketchBlocksSse2(pucSource, pucDestination, lStride, i, lTo, ulShift);
}

KORVAL_AVX2_END
