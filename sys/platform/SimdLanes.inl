// Integer lane operations written once for every register width, so that a
// kernel text can be compiled per instruction set. Included inside the
// including file's own namespace with KORVAL_SIMD_BITS set to the register
// width (128 or 256); gives Lanes and FloatLanes (the integer and the
// single-precision register), SIMD_OP(name) (the intrinsic of that width) and
// SIMD_WHOLE(name) (one on the whole register, such as and_si).
#if KORVAL_SIMD_BITS == 256
using Lanes = __m256i;
using FloatLanes = __m256;
#define SIMD_OP(name) _mm256_##name
#define SIMD_WHOLE(name) _mm256_##name##256
#elif KORVAL_SIMD_BITS == 128
using Lanes = __m128i;
using FloatLanes = __m128;
#define SIMD_OP(name) _mm_##name
#define SIMD_WHOLE(name) _mm_##name##128
#else
#error "KORVAL_SIMD_BITS must be 128 or 256"
#endif

inline Lanes LoadBytes(const UCHAR* p) { return SIMD_WHOLE(loadu_si)(reinterpret_cast<const Lanes*>(p)); }
inline void StoreBytes(UCHAR* p, Lanes v) { SIMD_WHOLE(storeu_si)(reinterpret_cast<Lanes*>(p), v); }
inline Lanes Zero() { return SIMD_WHOLE(setzero_si)(); }
inline Lanes Set8(char c) { return SIMD_OP(set1_epi8)(c); }
inline Lanes Set16(SHORT s) { return SIMD_OP(set1_epi16)(s); }
inline Lanes Set32(int l) { return SIMD_OP(set1_epi32)(l); }
inline Lanes And(Lanes a, Lanes b) { return SIMD_WHOLE(and_si)(a, b); }
inline Lanes Or(Lanes a, Lanes b) { return SIMD_WHOLE(or_si)(a, b); }
inline Lanes Xor(Lanes a, Lanes b) { return SIMD_WHOLE(xor_si)(a, b); }
inline Lanes Add16(Lanes a, Lanes b) { return SIMD_OP(add_epi16)(a, b); }
inline Lanes Add32(Lanes a, Lanes b) { return SIMD_OP(add_epi32)(a, b); }
inline Lanes SubtractSaturatedUnsigned8(Lanes a, Lanes b) { return SIMD_OP(subs_epu8)(a, b); }
inline Lanes MinUnsigned8(Lanes a, Lanes b) { return SIMD_OP(min_epu8)(a, b); }
inline Lanes MaxUnsigned8(Lanes a, Lanes b) { return SIMD_OP(max_epu8)(a, b); }
inline Lanes Equal8(Lanes a, Lanes b) { return SIMD_OP(cmpeq_epi8)(a, b); }
inline Lanes MultiplyAdd16(Lanes a, Lanes b) { return SIMD_OP(madd_epi16)(a, b); }
inline Lanes MultiplyHighUnsigned16(Lanes a, Lanes b) { return SIMD_OP(mulhi_epu16)(a, b); }
inline Lanes MultiplyLow16(Lanes a, Lanes b) { return SIMD_OP(mullo_epi16)(a, b); }
inline Lanes Equal16(Lanes a, Lanes b) { return SIMD_OP(cmpeq_epi16)(a, b); }
inline Lanes UnpackLow8(Lanes a, Lanes b) { return SIMD_OP(unpacklo_epi8)(a, b); }
inline Lanes UnpackHigh8(Lanes a, Lanes b) { return SIMD_OP(unpackhi_epi8)(a, b); }
inline Lanes UnpackLow16(Lanes a, Lanes b) { return SIMD_OP(unpacklo_epi16)(a, b); }
inline Lanes UnpackHigh16(Lanes a, Lanes b) { return SIMD_OP(unpackhi_epi16)(a, b); }
inline Lanes PackSigned32(Lanes a, Lanes b) { return SIMD_OP(packs_epi32)(a, b); }
inline Lanes PackSigned16(Lanes a, Lanes b) { return SIMD_OP(packs_epi16)(a, b); }
inline Lanes PackUnsigned16(Lanes a, Lanes b) { return SIMD_OP(packus_epi16)(a, b); }
template <int N> inline Lanes ShiftRight16(Lanes v) { return SIMD_OP(srli_epi16)(v, N); }
template <int N> inline Lanes ShiftRight32(Lanes v) { return SIMD_OP(srli_epi32)(v, N); }
inline ULONG MoveMask8(Lanes v) { return static_cast<ULONG>(SIMD_OP(movemask_epi8)(v)); }
inline FloatLanes ToFloat(Lanes v) { return SIMD_OP(cvtepi32_ps)(v); }
inline FloatLanes MultiplyFloat(FloatLanes v, float f) { return SIMD_OP(mul_ps)(v, SIMD_OP(set1_ps)(f)); }
inline Lanes TruncateFloat(FloatLanes v) { return SIMD_OP(cvttps_epi32)(v); }
