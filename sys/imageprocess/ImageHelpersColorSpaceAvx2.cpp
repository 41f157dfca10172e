// BGR24 to I420 on 32 pixels at a time. Channels are separated with byte
// shuffles; the scaled sums of the rules are formed exactly in 32-bit lanes.
// Luma is divided with a multiply-high and checked for the one case where the
// double rule differs from the exact quotient; chroma, which has no such case,
// with a single-precision product that is exact over its range.
#include "platform/CpuFeatures.h"
#include "imageprocess/ImageHelpersKernels.h"

#include <immintrin.h>

#define KORVAL_AVX2 __attribute__((target("avx2")))

namespace {

struct tagChannels {
    __m128i vBlue;
    __m128i vGreen;
    __m128i vRed;
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

KORVAL_AVX2 inline __m128i Gather(__m128i a, __m128i b, __m128i c, int k)
{
    const auto table = [k](int part) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(kGather.acShuffle[k][part]));
    };
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, table(0)), _mm_shuffle_epi8(b, table(1))),
                        _mm_shuffle_epi8(c, table(2)));
}

KORVAL_AVX2 inline tagChannels LoadPixels(const UCHAR* p)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    return {Gather(a, b, c, 0), Gather(a, b, c, 1), Gather(a, b, c, 2)};
}

// Channels of 32 pixels (96 bytes): lane 0 holds pixels 0..15, lane 1 16..31.
struct tagChannels32 {
    __m256i vBlue;
    __m256i vGreen;
    __m256i vRed;
};

KORVAL_AVX2 inline __m256i LoadLanes(const UCHAR* p)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), 1);
}

KORVAL_AVX2 inline __m256i GatherTable(int k, int part)
{
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kGather.acShuffle[k][part])));
}

KORVAL_AVX2 inline __m256i Gather32(__m256i a, __m256i b, __m256i c, int k)
{
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_shuffle_epi8(a, GatherTable(k, 0)), _mm256_shuffle_epi8(b, GatherTable(k, 1))),
        _mm256_shuffle_epi8(c, GatherTable(k, 2)));
}

KORVAL_AVX2 inline tagChannels32 LoadPixels32(const UCHAR* p)
{
    const __m256i a = LoadLanes(p);
    const __m256i b = LoadLanes(p + 16);
    const __m256i c = LoadLanes(p + 32);
    return {Gather32(a, b, c, 0), Gather32(a, b, c, 1), Gather32(a, b, c, 2)};
}

// 299 R + 587 G + 114 B + 499 for eight pixels (16-bit lanes paired).
KORVAL_AVX2 inline __m256i ScaledLuma(__m256i vRedGreen, __m256i vBlueOne)
{
    return _mm256_add_epi32(_mm256_madd_epi16(vRedGreen, _mm256_set1_epi32(587 << 16 | 299)),
                            _mm256_madd_epi16(vBlueOne, _mm256_set1_epi32(499 << 16 | 114)));
}

// Luma of 16 pixels given as 16-bit lanes, and in vWhole the lanes whose
// scaled sum is a multiple of 1000 (where the double rule must decide).
KORVAL_AVX2 inline __m256i Luma16(__m256i vRed, __m256i vGreen, __m256i vBlue, __m256i* pvWhole)
{
    const __m256i vOne = _mm256_set1_epi16(1);
    const __m256i vLo = ScaledLuma(_mm256_unpacklo_epi16(vRed, vGreen), _mm256_unpacklo_epi16(vBlue, vOne));
    const __m256i vHi = ScaledLuma(_mm256_unpackhi_epi16(vRed, vGreen), _mm256_unpackhi_epi16(vBlue, vOne));
    // n < 2^18: n >> 3 fits a signed 16-bit lane, and n / 1000 = (n >> 3) / 125.
    const __m256i vEighth = _mm256_packs_epi32(_mm256_srli_epi32(vLo, 3), _mm256_srli_epi32(vHi, 3));
    const __m256i vSeven = _mm256_set1_epi32(7);
    const __m256i vLow = _mm256_packs_epi32(_mm256_and_si256(vLo, vSeven), _mm256_and_si256(vHi, vSeven));
    // floor(m / 125) for m < 2^15 as a multiply-high by ceil(2^22 / 125).
    const __m256i vLuma = _mm256_srli_epi16(_mm256_mulhi_epu16(vEighth, _mm256_set1_epi16(static_cast<short>(33555))), 6);
    *pvWhole = _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_mullo_epi16(vLuma, _mm256_set1_epi16(125)), vEighth),
                                _mm256_cmpeq_epi16(vLow, _mm256_setzero_si256()));
    return vLuma;
}

// floor(n / 10000) for 0 <= n < 2^22: the single-precision product truncates
// to the exact quotient over that whole range (checked exhaustively).
KORVAL_AVX2 inline __m256i DivideBy10000(__m256i vScaled)
{
    return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(vScaled), _mm256_set1_ps(1.0e-4f)));
}

// 5000 B - 1687 R - 3313 G + 1284999 and 5000 R - 4187 G - 813 B + 1284999
// over 10000, for eight pixels each of vBR (B, R pairs) and vRG (R, G pairs).
KORVAL_AVX2 inline void Chroma8(__m256i vBR, __m256i vRG, __m256i vG0, __m256i vB0, __m256i* pvU, __m256i* pvV)
{
    const __m256i vOffset = _mm256_set1_epi32(1284999);
    const __m256i vScaledU =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(vBR, _mm256_set1_epi32(static_cast<int>(0xF969u << 16 | 5000))),
                                          _mm256_madd_epi16(vG0, _mm256_set1_epi32(-3313 & 0xFFFF))),
                         vOffset);
    const __m256i vScaledV = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(vRG, _mm256_set1_epi32(static_cast<int>((-4187 & 0xFFFF) << 16 | 5000))),
                         _mm256_madd_epi16(vB0, _mm256_set1_epi32(-813 & 0xFFFF))),
        vOffset);
    *pvU = DivideBy10000(vScaledU);
    *pvV = DivideBy10000(vScaledV);
}

// A row of 16 pixels, too short for one vector step.
void LumaRowShort(const UCHAR* pucRow, UCHAR* pucY, ULONG ulCount)
{
    for (ULONG i = 0; i < ulCount; ++i) {
        pucY[i] = LumaOfPixel(pucRow[3 * i], pucRow[3 * i + 1], pucRow[3 * i + 2]);
    }
}

void ChromaRowShort(const UCHAR* pucRow, UCHAR* pucU, UCHAR* pucV, ULONG ulCount)
{
    for (ULONG i = 0; i < ulCount / 2; ++i) {
        const LONG b = pucRow[6 * i], g = pucRow[6 * i + 1], r = pucRow[6 * i + 2];
        pucU[i] = static_cast<UCHAR>(static_cast<ULONG>(5000 * b - 1687 * r - 3313 * g + 1284999) / 10000);
        pucV[i] = static_cast<UCHAR>(static_cast<ULONG>(5000 * r - 4187 * g - 813 * b + 1284999) / 10000);
    }
}

} // namespace

KORVAL_AVX2 void GreenRowAvx2(const UCHAR* pucRow, UCHAR* pucGreen, ULONG ulCount)
{
    for (ULONG i = 0; i < ulCount; i += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucGreen + i), LoadPixels(pucRow + 3 * i).vGreen);
    }
}

// The start of the step after the one at i (ulCount when done): steps of 32,
// the last one moved back to end at the row's end.
inline ULONG NextStep(ULONG i, ULONG ulCount)
{
    const ULONG ulNext = i + 32;
    return ulNext < ulCount && ulNext + 32 > ulCount ? ulCount - 32 : ulNext;
}

// Pixels the vector step cannot decide take the double rule.
KORVAL_AVX2 inline void FixWholeLumas(const UCHAR* pucRow, UCHAR* pucY, unsigned uWhole)
{
    while (uWhole != 0) {
        const int k = __builtin_ctz(uWhole);
        uWhole &= uWhole - 1;
        const UCHAR* p = pucRow + 3 * k;
        pucY[k] = LumaOfPixel(p[0], p[1], p[2]);
    }
}

// A row of an odd number of 16s ends with a step that overlaps the one before
// (writing the same values again).
KORVAL_AVX2 void LumaRowAvx2(const UCHAR* pucRow, UCHAR* pucY, ULONG ulCount)
{
    if (ulCount < 32) {
        LumaRowShort(pucRow, pucY, ulCount);
        return;
    }
    const __m256i vZero = _mm256_setzero_si256();
    for (ULONG i = 0; i < ulCount; i = NextStep(i, ulCount)) {
        const tagChannels32 s = LoadPixels32(pucRow + 3 * i);
        __m256i vWholeLo, vWholeHi;
        const __m256i vLumaLo = Luma16(_mm256_unpacklo_epi8(s.vRed, vZero), _mm256_unpacklo_epi8(s.vGreen, vZero),
                                       _mm256_unpacklo_epi8(s.vBlue, vZero), &vWholeLo);
        const __m256i vLumaHi = Luma16(_mm256_unpackhi_epi8(s.vRed, vZero), _mm256_unpackhi_epi8(s.vGreen, vZero),
                                       _mm256_unpackhi_epi8(s.vBlue, vZero), &vWholeHi);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pucY + i), _mm256_packus_epi16(vLumaLo, vLumaHi));
        const unsigned uWhole = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_packs_epi16(vWholeLo, vWholeHi)));
        if (uWhole != 0) {
            FixWholeLumas(pucRow + 3 * i, pucY + i, uWhole);
        }
    }
}

KORVAL_AVX2 void ChromaRowAvx2(const UCHAR* pucRow, UCHAR* pucU, UCHAR* pucV, ULONG ulCount)
{
    if (ulCount < 32) {
        ChromaRowShort(pucRow, pucU, pucV, ulCount);
        return;
    }
    const __m256i vEven = _mm256_set1_epi16(0x00FF);
    const __m256i vZero = _mm256_setzero_si256();
    for (ULONG i = 0; i < ulCount; i = NextStep(i, ulCount)) {
        const tagChannels32 s = LoadPixels32(pucRow + 3 * i);
        const __m256i vBlue = _mm256_and_si256(s.vBlue, vEven);
        const __m256i vGreen = _mm256_and_si256(s.vGreen, vEven);
        const __m256i vRed = _mm256_and_si256(s.vRed, vEven);
        __m256i vULo, vVLo, vUHi, vVHi;
        Chroma8(_mm256_unpacklo_epi16(vBlue, vRed), _mm256_unpacklo_epi16(vRed, vGreen),
                _mm256_unpacklo_epi16(vGreen, vZero), _mm256_unpacklo_epi16(vBlue, vZero), &vULo, &vVLo);
        Chroma8(_mm256_unpackhi_epi16(vBlue, vRed), _mm256_unpackhi_epi16(vRed, vGreen),
                _mm256_unpackhi_epi16(vGreen, vZero), _mm256_unpackhi_epi16(vBlue, vZero), &vUHi, &vVHi);
        // lanes: U 0..7, V 0..7 | U 8..15, V 8..15; then U 0..15, V 0..15
        const __m256i vUV = _mm256_packus_epi16(_mm256_packs_epi32(vULo, vUHi), _mm256_packs_epi32(vVLo, vVHi));
        const __m256i vOrdered = _mm256_permute4x64_epi64(vUV, _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucU + i / 2), _mm256_castsi256_si128(vOrdered));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucV + i / 2), _mm256_extracti128_si256(vOrdered, 1));
    }
}
