// BGR24 to I420 on 16 pixels at a time with SSSE3, for the SSE2 path of
// processors that have it: the AVX2 file's method (byte shuffles separate the
// channels, exact 32-bit sums, division by multiply-high, the one case where
// the double rule differs checked per pixel), with the 32-bit multiply of
// SSE4.1 replaced by a 16-bit multiply-add (the quotients are below 2^9).
#include "platform/CpuFeatures.h"
#include "imageprocess/ImageHelpersKernels.h"

#include <tmmintrin.h>


KORVAL_SSSE3_BEGIN

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

inline __m128i GatherTable(int k, int part)
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kGather.acShuffle[k][part]));
}

inline __m128i Gather(__m128i a, __m128i b, __m128i c, int k)
{
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, GatherTable(k, 0)), _mm_shuffle_epi8(b, GatherTable(k, 1))),
                        _mm_shuffle_epi8(c, GatherTable(k, 2)));
}

inline tagChannels LoadPixels(const UCHAR* p)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    return {Gather(a, b, c, 0), Gather(a, b, c, 1), Gather(a, b, c, 2)};
}

// 299 R + 587 G + 114 B + 499 for four pixels (16-bit lanes widened in pairs).
inline __m128i ScaledLuma(__m128i vRedGreen, __m128i vBlueOne)
{
    return _mm_add_epi32(_mm_madd_epi16(vRedGreen, _mm_set1_epi32(587 << 16 | 299)),
                         _mm_madd_epi16(vBlueOne, _mm_set1_epi32(499 << 16 | 114)));
}

// floor(n / 10000) for 0 <= n < 2^22: the float estimate is off by at most one.
inline __m128i DivideBy10000(__m128i vScaled)
{
    __m128i vQuotient = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(vScaled), _mm_set1_ps(1.0e-4f)));
    const __m128i vRest = _mm_sub_epi32(vScaled, _mm_madd_epi16(vQuotient, _mm_set1_epi32(10000)));
    vQuotient = _mm_add_epi32(vQuotient, _mm_srai_epi32(vRest, 31));  // rest < 0: one less
    const __m128i vOver = _mm_cmpgt_epi32(vRest, _mm_set1_epi32(9999));
    return _mm_sub_epi32(vQuotient, vOver);  // rest >= 10000: one more
}

} // namespace

void GreenRowSsse3(const UCHAR* pucRow, UCHAR* pucGreen, ULONG ulCount)
{
    for (ULONG i = 0; i < ulCount; i += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucGreen + i), LoadPixels(pucRow + 3 * i).vGreen);
    }
}

void LumaRowSsse3(const UCHAR* pucRow, UCHAR* pucY, ULONG ulCount)
{
    const __m128i vZero = _mm_setzero_si128();
    const __m128i vOne = _mm_set1_epi16(1);
    const __m128i vSeven = _mm_set1_epi32(7);
    for (ULONG i = 0; i < ulCount; i += 16) {
        const tagChannels s = LoadPixels(pucRow + 3 * i);
        __m128i avEighth[2];
        __m128i avLow[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i vRed = h == 0 ? _mm_unpacklo_epi8(s.vRed, vZero) : _mm_unpackhi_epi8(s.vRed, vZero);
            const __m128i vGreen = h == 0 ? _mm_unpacklo_epi8(s.vGreen, vZero) : _mm_unpackhi_epi8(s.vGreen, vZero);
            const __m128i vBlue = h == 0 ? _mm_unpacklo_epi8(s.vBlue, vZero) : _mm_unpackhi_epi8(s.vBlue, vZero);
            const __m128i vLo = ScaledLuma(_mm_unpacklo_epi16(vRed, vGreen), _mm_unpacklo_epi16(vBlue, vOne));
            const __m128i vHi = ScaledLuma(_mm_unpackhi_epi16(vRed, vGreen), _mm_unpackhi_epi16(vBlue, vOne));
            // n < 2^18: n >> 3 fits a signed 16-bit lane, and n / 1000 = (n >> 3) / 125.
            avEighth[h] = _mm_packs_epi32(_mm_srli_epi32(vLo, 3), _mm_srli_epi32(vHi, 3));
            avLow[h] = _mm_packs_epi32(_mm_and_si128(vLo, vSeven), _mm_and_si128(vHi, vSeven));
        }
        __m128i avLuma[2];
        unsigned uWhole = 0;
        for (int h = 0; h < 2; ++h) {
            // floor(m / 125) for m < 2^15 as a multiply-high by ceil(2^22 / 125).
            avLuma[h] = _mm_srli_epi16(_mm_mulhi_epu16(avEighth[h], _mm_set1_epi16(static_cast<short>(33555))), 6);
            const __m128i vExact = _mm_and_si128(
                _mm_cmpeq_epi16(_mm_mullo_epi16(avLuma[h], _mm_set1_epi16(125)), avEighth[h]),
                _mm_cmpeq_epi16(avLow[h], vZero));
            uWhole |= static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(vExact, vZero)) & 0xFF) << (8 * h);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucY + i), _mm_packus_epi16(avLuma[0], avLuma[1]));
        while (uWhole != 0) {
            const int k = __builtin_ctz(uWhole);
            uWhole &= uWhole - 1;
            const UCHAR* p = pucRow + 3 * (i + k);
            pucY[i + k] = LumaOfPixel(p[0], p[1], p[2]);
        }
    }
}

void ChromaRowSsse3(const UCHAR* pucRow, UCHAR* pucU, UCHAR* pucV, ULONG ulCount)
{
    const __m128i vEven = _mm_set1_epi16(0x00FF);
    const __m128i vZero = _mm_setzero_si128();
    const __m128i vOffset = _mm_set1_epi32(1284999);
    for (ULONG i = 0; i < ulCount; i += 16) {
        const tagChannels s = LoadPixels(pucRow + 3 * i);
        const __m128i vBlue = _mm_and_si128(s.vBlue, vEven);
        const __m128i vGreen = _mm_and_si128(s.vGreen, vEven);
        const __m128i vRed = _mm_and_si128(s.vRed, vEven);
        __m128i avU[2], avV[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i vBR = h == 0 ? _mm_unpacklo_epi16(vBlue, vRed) : _mm_unpackhi_epi16(vBlue, vRed);
            const __m128i vRG = h == 0 ? _mm_unpacklo_epi16(vRed, vGreen) : _mm_unpackhi_epi16(vRed, vGreen);
            const __m128i vG0 = h == 0 ? _mm_unpacklo_epi16(vGreen, vZero) : _mm_unpackhi_epi16(vGreen, vZero);
            const __m128i vB0 = h == 0 ? _mm_unpacklo_epi16(vBlue, vZero) : _mm_unpackhi_epi16(vBlue, vZero);
            // 5000 B - 1687 R - 3313 G + 1284999 and 5000 R - 4187 G - 813 B + 1284999
            const __m128i vScaledU = _mm_add_epi32(
                _mm_add_epi32(_mm_madd_epi16(vBR, _mm_set1_epi32(static_cast<int>(0xF969u << 16 | 5000))),
                              _mm_madd_epi16(vG0, _mm_set1_epi32(-3313 & 0xFFFF))),
                vOffset);
            const __m128i vScaledV = _mm_add_epi32(
                _mm_add_epi32(_mm_madd_epi16(vRG, _mm_set1_epi32(static_cast<int>((-4187 & 0xFFFF) << 16 | 5000))),
                              _mm_madd_epi16(vB0, _mm_set1_epi32(-813 & 0xFFFF))),
                vOffset);
            avU[h] = DivideBy10000(vScaledU);
            avV[h] = DivideBy10000(vScaledV);
        }
        const __m128i vU = _mm_packs_epi32(avU[0], avU[1]);
        const __m128i vV = _mm_packs_epi32(avV[0], avV[1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pucU + i / 2), _mm_packus_epi16(vU, vU));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pucV + i / 2), _mm_packus_epi16(vV, vV));
    }
}

KORVAL_SSSE3_END
