// BGR24 to I420 on 256-bit registers, 32 pixels a step: 128-bit lane 0 holds
// pixels 0..15 and lane 1 pixels 16..31, so the in-lane unpacks and packs keep
// the pixel order, and only the chroma store reorders its quarters.
#include "platform/CpuFeatures.h"
#include "imageprocess/ImageHelpersKernels.h"

#include <immintrin.h>

KORVAL_AVX2_BEGIN

namespace {

using Lanes = __m256i;
constexpr ULONG kStepPixels = 32;

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

// Bytes p .. p + 15 in lane 0 and p + 48 .. p + 63 in lane 1.
inline Lanes LoadLanes(const UCHAR* p)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), 1);
}

inline Lanes GatherTable(int k, int part)
{
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kGather.acShuffle[k][part])));
}

inline Lanes Gather(Lanes a, Lanes b, Lanes c, int k)
{
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_shuffle_epi8(a, GatherTable(k, 0)), _mm256_shuffle_epi8(b, GatherTable(k, 1))),
        _mm256_shuffle_epi8(c, GatherTable(k, 2)));
}

inline tagChannels LoadChannels(const UCHAR* p)
{
    const Lanes a = LoadLanes(p);
    const Lanes b = LoadLanes(p + 16);
    const Lanes c = LoadLanes(p + 32);
    return {Gather(a, b, c, 0), Gather(a, b, c, 1), Gather(a, b, c, 2)};
}

inline void StoreBytes(UCHAR* p, Lanes v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
inline Lanes Zero() { return _mm256_setzero_si256(); }
inline Lanes Set16(SHORT s) { return _mm256_set1_epi16(s); }
inline Lanes Set32(int l) { return _mm256_set1_epi32(l); }
inline Lanes And(Lanes a, Lanes b) { return _mm256_and_si256(a, b); }
inline Lanes Add32(Lanes a, Lanes b) { return _mm256_add_epi32(a, b); }
inline Lanes MultiplyAdd16(Lanes a, Lanes b) { return _mm256_madd_epi16(a, b); }
inline Lanes MultiplyHighUnsigned16(Lanes a, Lanes b) { return _mm256_mulhi_epu16(a, b); }
inline Lanes MultiplyLow16(Lanes a, Lanes b) { return _mm256_mullo_epi16(a, b); }
inline Lanes Equal16(Lanes a, Lanes b) { return _mm256_cmpeq_epi16(a, b); }
inline Lanes UnpackLow8(Lanes a, Lanes b) { return _mm256_unpacklo_epi8(a, b); }
inline Lanes UnpackHigh8(Lanes a, Lanes b) { return _mm256_unpackhi_epi8(a, b); }
inline Lanes UnpackLow16(Lanes a, Lanes b) { return _mm256_unpacklo_epi16(a, b); }
inline Lanes UnpackHigh16(Lanes a, Lanes b) { return _mm256_unpackhi_epi16(a, b); }
inline Lanes PackSigned32(Lanes a, Lanes b) { return _mm256_packs_epi32(a, b); }
inline Lanes PackSigned16(Lanes a, Lanes b) { return _mm256_packs_epi16(a, b); }
inline Lanes PackUnsigned16(Lanes a, Lanes b) { return _mm256_packus_epi16(a, b); }
template <int N> inline Lanes ShiftRight16(Lanes v) { return _mm256_srli_epi16(v, N); }
template <int N> inline Lanes ShiftRight32(Lanes v) { return _mm256_srli_epi32(v, N); }
inline ULONG MoveMask8(Lanes v) { return static_cast<ULONG>(_mm256_movemask_epi8(v)); }
inline __m256 ToFloat(Lanes v) { return _mm256_cvtepi32_ps(v); }
inline __m256 MultiplyFloat(__m256 v, float f) { return _mm256_mul_ps(v, _mm256_set1_ps(f)); }
inline Lanes TruncateFloat(__m256 v) { return _mm256_cvttps_epi32(v); }

// U and V of 16 pixel pairs as 16-bit lanes (pairs 0..7 | 8..15 of each):
// packed together as U 0..7, V 0..7 | U 8..15, V 8..15, then reordered.
inline void StoreChroma(UCHAR* pucU, UCHAR* pucV, Lanes vU, Lanes vV)
{
    const Lanes vOrdered = _mm256_permute4x64_epi64(_mm256_packus_epi16(vU, vV), _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pucU), _mm256_castsi256_si128(vOrdered));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pucV), _mm256_extracti128_si256(vOrdered, 1));
}

} // namespace

#define IH_SIMD_NAME(name) name##Avx2
#include "imageprocess/ImageHelpersColorSpaceRows.inl"
#undef IH_SIMD_NAME

KORVAL_AVX2_END
