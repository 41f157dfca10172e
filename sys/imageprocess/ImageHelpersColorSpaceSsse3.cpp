// BGR24 to I420 on 128-bit registers, 16 pixels a step, for the SSE2 path of
// processors with SSSE3 (its byte shuffle separates the channels).
#include "platform/CpuFeatures.h"
#include "imageprocess/ImageHelpersKernels.h"

#include <tmmintrin.h>

KORVAL_SSSE3_BEGIN

namespace {

using Lanes = __m128i;
constexpr ULONG kStepPixels = 16;

struct tagChannels {
    Lanes vBlue;
    Lanes vGreen;
    Lanes vRed;
};

// Byte shuffles that pick channel k of 16 pixels from each of the three
// 16-byte parts of 48 bytes (-1 clears a lane).
struct tagGatherTables {
    alignas(16) char acShuffle[3][3][16];  // [channel][part][lane]
    constexpr tagGatherTables() : acShuffle{}
    {
        for (int k = 0; k < 3; ++k) {
            for (int part = 0; part < 3; ++part) {
                for (int i = 0; i < 16; ++i) {
                    const int lByte = 3 * i + k - 16 * part;
                    acShuffle[k][part][i] = static_cast<char>(lByte >= 0 && lByte < 16 ? lByte : -1);
                }
            }
        }
    }
};
constexpr tagGatherTables kGather;

inline Lanes GatherTable(int k, int part)
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kGather.acShuffle[k][part]));
}

inline Lanes Gather(Lanes a, Lanes b, Lanes c, int k)
{
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, GatherTable(k, 0)), _mm_shuffle_epi8(b, GatherTable(k, 1))),
                        _mm_shuffle_epi8(c, GatherTable(k, 2)));
}

inline tagChannels LoadChannels(const UCHAR* p)
{
    const Lanes a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const Lanes b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const Lanes c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    return {Gather(a, b, c, 0), Gather(a, b, c, 1), Gather(a, b, c, 2)};
}

inline void StoreBytes(UCHAR* p, Lanes v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline Lanes Zero() { return _mm_setzero_si128(); }
inline Lanes Set16(SHORT s) { return _mm_set1_epi16(s); }
inline Lanes Set32(int l) { return _mm_set1_epi32(l); }
inline Lanes And(Lanes a, Lanes b) { return _mm_and_si128(a, b); }
inline Lanes Add32(Lanes a, Lanes b) { return _mm_add_epi32(a, b); }
inline Lanes MultiplyAdd16(Lanes a, Lanes b) { return _mm_madd_epi16(a, b); }
inline Lanes MultiplyHighUnsigned16(Lanes a, Lanes b) { return _mm_mulhi_epu16(a, b); }
inline Lanes MultiplyLow16(Lanes a, Lanes b) { return _mm_mullo_epi16(a, b); }
inline Lanes Equal16(Lanes a, Lanes b) { return _mm_cmpeq_epi16(a, b); }
inline Lanes UnpackLow8(Lanes a, Lanes b) { return _mm_unpacklo_epi8(a, b); }
inline Lanes UnpackHigh8(Lanes a, Lanes b) { return _mm_unpackhi_epi8(a, b); }
inline Lanes UnpackLow16(Lanes a, Lanes b) { return _mm_unpacklo_epi16(a, b); }
inline Lanes UnpackHigh16(Lanes a, Lanes b) { return _mm_unpackhi_epi16(a, b); }
inline Lanes PackSigned32(Lanes a, Lanes b) { return _mm_packs_epi32(a, b); }
inline Lanes PackSigned16(Lanes a, Lanes b) { return _mm_packs_epi16(a, b); }
inline Lanes PackUnsigned16(Lanes a, Lanes b) { return _mm_packus_epi16(a, b); }
template <int N> inline Lanes ShiftRight16(Lanes v) { return _mm_srli_epi16(v, N); }
template <int N> inline Lanes ShiftRight32(Lanes v) { return _mm_srli_epi32(v, N); }
inline ULONG MoveMask8(Lanes v) { return static_cast<ULONG>(_mm_movemask_epi8(v)); }
inline __m128 ToFloat(Lanes v) { return _mm_cvtepi32_ps(v); }
inline __m128 MultiplyFloat(__m128 v, float f) { return _mm_mul_ps(v, _mm_set1_ps(f)); }
inline Lanes TruncateFloat(__m128 v) { return _mm_cvttps_epi32(v); }

// U and V of 8 pixel pairs, given as 16-bit lanes.
inline void StoreChroma(UCHAR* pucU, UCHAR* pucV, Lanes vU, Lanes vV)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pucU), _mm_packus_epi16(vU, vU));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pucV), _mm_packus_epi16(vV, vV));
}

} // namespace

#define IH_SIMD_NAME(name) name##Ssse3
#include "imageprocess/ImageHelpersColorSpaceRows.inl"
#undef IH_SIMD_NAME

KORVAL_SSSE3_END
