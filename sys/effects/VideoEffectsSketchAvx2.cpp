// The Sobel sketch 32 bytes a step, for processors with AVX2 (host build only:
// the Windows image has no AVX2 path, so this file is not part of it).
#include "platform/CpuFeatures.h"
#include <immintrin.h>

#include "effects/EffectKernels.h"

KORVAL_AVX2_BEGIN

namespace SketchAvx2 {

using VeVector = __m256i;
constexpr LONG_PTR SKETCH_BLOCK_BYTES = 32;

inline VeVector VeLoad(const UCHAR* pucAt) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pucAt)); }
inline VOID VeStore(PUCHAR pucAt, VeVector value) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(pucAt), value); }
inline VeVector VeZero() { return _mm256_setzero_si256(); }
// Per 128-bit lane, as every AVX2 unpack and pack: the words of a lane stay in it.
inline VeVector VeUnpackLow(VeVector a, VeVector b) { return _mm256_unpacklo_epi8(a, b); }
inline VeVector VeUnpackHigh(VeVector a, VeVector b) { return _mm256_unpackhi_epi8(a, b); }
inline VeVector VeAdd16(VeVector a, VeVector b) { return _mm256_add_epi16(a, b); }
inline VeVector VeSub16(VeVector a, VeVector b) { return _mm256_sub_epi16(a, b); }
inline VeVector VeDouble16(VeVector a) { return _mm256_slli_epi16(a, 1); }
inline VeVector VeShiftRight16(VeVector a, __m128i shift) { return _mm256_srl_epi16(a, shift); }
inline VeVector VeAbs16(VeVector a) { return _mm256_abs_epi16(a); }
inline VeVector VeMin16(VeVector a, VeVector b) { return _mm256_min_epi16(a, b); }
inline VeVector VeSet16(SHORT value) { return _mm256_set1_epi16(value); }
inline VeVector VePackUnsigned(VeVector a, VeVector b) { return _mm256_packus_epi16(a, b); }

} // namespace SketchAvx2

#define VE_SKETCH_NAMESPACE SketchAvx2
#include "effects/SketchKernel.inl"
#undef VE_SKETCH_NAMESPACE

LONG_PTR VeSketchBlocksAvx2(const UCHAR* pucSource, PUCHAR pucDestination, LONG_PTR lStride, LONG_PTR lFrom,
                            LONG_PTR lTo, ULONG ulShift)
{
    const LONG_PTR i = SketchAvx2::SketchBlocks(pucSource, pucDestination, lStride, lFrom, lTo, ulShift);
    return VeSketchBlocksSse2(pucSource, pucDestination, lStride, i, lTo, ulShift);
}

KORVAL_AVX2_END
