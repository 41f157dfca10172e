// Streaks: bright pixels smear to the right along each line in segments of
// random length, drawn from the platform's rand.
#include <emmintrin.h>

#include <cstring>

#include "effects/EffectKernels.h"
#include "platform/CpuFeatures.h"

namespace {

// Exact n / d for n < 2^32 / d through one multiplication.
struct Divider {
    ULONGLONG ullMultiplier;
    explicit Divider(ULONG ulDivisor) : ullMultiplier((0x100000000ull / ulDivisor) + 1) {}
    ULONG Divide(ULONG ulNumerator) const { return static_cast<ULONG>((ulNumerator * ullMultiplier) >> 32); }
};

ULONG DrawSegmentLength(ULONG ulMaximum, ULONG ulLeft)
{
    ULONG ulLength = 0;
    while (ulLength == 0) {
        ulLength = (static_cast<ULONG>(rand()) * ulMaximum) >> 15;
    }
    return ulLength < ulLeft ? ulLength : ulLeft;
}

// The first pixel of [ulStart, ulEnd] with the largest green.
ULONG BrightestPixel(const UCHAR* pucLine, ULONG ulStart, ULONG ulEnd)
{
    ULONG ulBrightest = ulStart;
    ULONG ulBrightestGreen = pucLine[3 * ulStart + 1];
    for (ULONG x = ulStart + 1; x <= ulEnd; ++x) {
        const ULONG ulGreen = pucLine[3 * x + 1];
        const bool bBrighter = ulGreen > ulBrightestGreen;
        ulBrightest = bBrighter ? x : ulBrightest;
        ulBrightestGreen = bBrighter ? ulGreen : ulBrightestGreen;
    }
    return ulBrightest;
}

// Green sits at bytes 1, 4, 7 ... of every 48 bytes (16 pixels).
constexpr ULONGLONG kGreenBits = 0x492492492492ull;

} // namespace

KORVAL_SSE2_BEGIN

namespace {

inline VOID LoadBlock16(const UCHAR* pucAt, __m128i bytes[3])
{
    for (int i = 0; i < 3; ++i) {
        bytes[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucAt + 16 * i));
    }
}

inline ULONG HorizontalMax(__m128i bytes)
{
    bytes = _mm_max_epu8(bytes, _mm_srli_si128(bytes, 8));
    bytes = _mm_max_epu8(bytes, _mm_srli_si128(bytes, 4));
    bytes = _mm_max_epu8(bytes, _mm_srli_si128(bytes, 2));
    bytes = _mm_max_epu8(bytes, _mm_srli_si128(bytes, 1));
    return static_cast<ULONG>(_mm_cvtsi128_si32(bytes)) & 0xFF;
}

// BrightestPixel sixteen pixels per step: first the largest green, then its first place.
ULONG BrightestPixel16(const UCHAR* pucLine, ULONG ulStart, ULONG ulEnd)
{
    if (ulEnd + 1 - ulStart < 16) {
        return BrightestPixel(pucLine, ulStart, ulEnd);
    }
    const __m128i masks[3] = {_mm_set_epi8(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0),
                              _mm_set_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1),
                              _mm_set_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0)};
    // The last block ends at ulEnd and may overlap the one before: the largest
    // value and the first place of it are the same either way.
    const ULONG ulLastBlock = ulEnd + 1 - 16;
    __m128i largest = _mm_setzero_si128();
    __m128i bytes[3];
    for (ULONG x = ulStart;; x += 16) {
        x = x < ulLastBlock ? x : ulLastBlock;
        LoadBlock16(pucLine + 3 * x, bytes);
        for (int i = 0; i < 3; ++i) {
            largest = _mm_max_epu8(largest, _mm_and_si128(bytes[i], masks[i]));
        }
        if (x == ulLastBlock) {
            break;
        }
    }
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(HorizontalMax(largest)));
    for (ULONG x = ulStart;; x += 16) {
        x = x < ulLastBlock ? x : ulLastBlock;
        LoadBlock16(pucLine + 3 * x, bytes);
        ULONGLONG ullHits = 0;
        for (int i = 0; i < 3; ++i) {
            ullHits |= static_cast<ULONGLONG>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes[i], wanted))) << (16 * i);
        }
        ullHits &= kGreenBits;
        if (ullHits != 0 || x == ulLastBlock) {
            return x + static_cast<ULONG>(__builtin_ctzll(ullHits)) / 3;
        }
    }
}

} // namespace

KORVAL_SSE2_END

namespace {

// Pixels ulFrom .. ulTo − 1 of a smear towards pucBright, which is ulDistance
// pixels left of ulEnd. Each byte is kept only where the smear is larger: the
// ratio terms never reach past the brighter value.
VOID SmearPixelsReference(const UCHAR* pucLine, PUCHAR pucOut, const UCHAR* pucBright, ULONG ulEnd,
                          ULONG ulDistance, ULONG ulFrom, ULONG ulTo)
{
    const Divider divider(ulDistance);
    for (ULONG x = ulFrom; x < ulTo; ++x) {
        const ULONG k = ulEnd - x;
        for (int c = 0; c < 3; ++c) {
            const ULONG ulOwn = pucLine[3 * x + c];
            const ULONG ulValue = ulOwn + divider.Divide(pucBright[c] * k) - divider.Divide(ulOwn * k);
            pucOut[3 * x + c] = static_cast<UCHAR>(ulValue > ulOwn ? ulValue : ulOwn);
        }
    }
}

} // namespace

KORVAL_SSE2_BEGIN

namespace {

// High 32 bits of each 32-bit lane times the multiplier: the Divider's quotient.
inline __m128i DivideLanes(__m128i numerators, __m128i multiplier)
{
    const __m128i even = _mm_mul_epu32(numerators, multiplier);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(numerators, 32), multiplier);
    return _mm_or_si128(_mm_srli_epi64(even, 32), _mm_and_si128(odd, _mm_set_epi32(-1, 0, -1, 0)));
}

// Twelve bytes (four pixels) as 32-bit lanes in three registers.
inline VOID LoadLanes12(const UCHAR* pucAt, __m128i lanes[3])
{
    const __m128i zero = _mm_setzero_si128();
    ULONG ulLast;
    memcpy(&ulLast, pucAt + 8, 4);
    const __m128i bytes = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pucAt)),
                                             _mm_cvtsi32_si128(static_cast<int>(ulLast)));
    const __m128i low = _mm_unpacklo_epi8(bytes, zero);
    const __m128i high = _mm_unpackhi_epi8(bytes, zero);
    lanes[0] = _mm_unpacklo_epi16(low, zero);
    lanes[1] = _mm_unpackhi_epi16(low, zero);
    lanes[2] = _mm_unpacklo_epi16(high, zero);
}

inline VOID StoreLanes12(PUCHAR pucAt, const __m128i lanes[3])
{
    const __m128i words = _mm_packs_epi32(lanes[0], lanes[1]);
    const __m128i bytes = _mm_packus_epi16(words, _mm_packs_epi32(lanes[2], lanes[2]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pucAt), bytes);
    const ULONG ulLast = static_cast<ULONG>(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 8)));
    memcpy(pucAt + 8, &ulLast, 4);
}

// The smear four pixels at a time: lane j of register r holds byte 4r + j of the
// four pixels, so its channel is (4r + j) % 3 and its pixel (4r + j) / 3.
ULONG SmearPixels4(const UCHAR* pucLine, PUCHAR pucOut, const UCHAR* pucBright, ULONG ulEnd, ULONG ulDistance,
                   ULONG ulFrom, ULONG ulTo)
{
    const __m128i multiplier = _mm_set1_epi32(static_cast<int>((0x100000000ull / ulDistance) + 1));
    const int b = pucBright[0], g = pucBright[1], r = pucBright[2];
    const int k = static_cast<int>(ulEnd - ulFrom);
    // Factors k of each lane, and the bright value of each lane, as 16-bit pairs for madd.
    __m128i factors[3] = {_mm_set_epi32(k - 1, k, k, k), _mm_set_epi32(k - 2, k - 2, k - 1, k - 1),
                          _mm_set_epi32(k - 3, k - 3, k - 3, k - 2)};
    const __m128i bright[3] = {_mm_set_epi32(b, r, g, b), _mm_set_epi32(g, b, r, g), _mm_set_epi32(r, g, b, r)};
    const __m128i step = _mm_set1_epi32(4);
    ULONG x = ulFrom;
    __m128i own[3];
    for (; x + 4 <= ulTo; x += 4) {
        LoadLanes12(pucLine + 3 * x, own);
        for (int i = 0; i < 3; ++i) {
            const __m128i fromBright = DivideLanes(_mm_madd_epi16(bright[i], factors[i]), multiplier);
            const __m128i fromOwn = DivideLanes(_mm_madd_epi16(own[i], factors[i]), multiplier);
            const __m128i value = _mm_sub_epi32(_mm_add_epi32(own[i], fromBright), fromOwn);
            // Both are below 2^15, so the word maximum is the lane maximum.
            own[i] = _mm_max_epi16(value, own[i]);
            factors[i] = _mm_sub_epi32(factors[i], step);
        }
        StoreLanes12(pucOut + 3 * x, own);
    }
    return x;
}

// Eight bytes as words.
inline __m128i LoadWords8(const UCHAR* pucAt)
{
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pucAt)), _mm_setzero_si128());
}

// The smear eight pixels at a time in 16-bit lanes, for distances up to 128 where
// every product stays below 2^15. Word j of register r holds byte 8r + j of the
// eight pixels. n / d is (n × m) >> (15 + l) with m = ceil(2^(15 + l) / d) and
// 2^(l − 1) < d ≤ 2^l, exact for every n below 2^15.
ULONG SmearPixels8(const UCHAR* pucLine, PUCHAR pucOut, const UCHAR* pucBright, ULONG ulEnd, ULONG ulDistance,
                   ULONG ulFrom, ULONG ulTo)
{
    const ULONG ulLog = 32 - static_cast<ULONG>(__builtin_clz(ulDistance - 1));
    const __m128i multiplier = _mm_set1_epi16(static_cast<short>(((1u << (15 + ulLog)) + ulDistance - 1) / ulDistance));
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(ulLog - 1));
    const __m128i offsets[3] = {_mm_setr_epi16(0, 0, 0, 1, 1, 1, 2, 2), _mm_setr_epi16(2, 3, 3, 3, 4, 4, 4, 5),
                                _mm_setr_epi16(5, 5, 6, 6, 6, 7, 7, 7)};
    // The bright colour repeated over 24 bytes, built in general registers: no
    // lane inserts, no round trip through memory.
    const ULONGLONG ullRepeat = 1 + (1ull << 24) + (1ull << 48);
    const ULONGLONG ullB = pucBright[0], ullG = pucBright[1], ullR = pucBright[2];
    const __m128i zero = _mm_setzero_si128();
    const __m128i bright[3] = {
        _mm_unpacklo_epi8(_mm_set_epi64x(0, static_cast<long long>((ullB | ullG << 8 | ullR << 16) * ullRepeat)), zero),
        _mm_unpacklo_epi8(_mm_set_epi64x(0, static_cast<long long>((ullR | ullB << 8 | ullG << 16) * ullRepeat)), zero),
        _mm_unpacklo_epi8(_mm_set_epi64x(0, static_cast<long long>((ullG | ullR << 8 | ullB << 16) * ullRepeat)), zero)};
    if (ulTo - ulFrom < 8) {
        return ulFrom;
    }
    // The last block may overlap the one before: it reads only the source line.
    for (ULONG x = ulFrom;; x += 8) {
        x = x + 8 <= ulTo ? x : ulTo - 8;
        const __m128i k = _mm_set1_epi16(static_cast<short>(ulEnd - x));
        __m128i out[3];
        for (int i = 0; i < 3; ++i) {
            const __m128i factors = _mm_sub_epi16(k, offsets[i]);
            const __m128i own = LoadWords8(pucLine + 3 * x + 8 * i);
            const __m128i fromBright = _mm_srl_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(bright[i], factors), multiplier), shift);
            const __m128i fromOwn = _mm_srl_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(own, factors), multiplier), shift);
            out[i] = _mm_max_epi16(_mm_sub_epi16(_mm_add_epi16(own, fromBright), fromOwn), own);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucOut + 3 * x), _mm_packus_epi16(out[0], out[1]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(pucOut + 3 * x + 16), _mm_packus_epi16(out[2], out[2]));
        if (x + 8 == ulTo) {
            return ulTo;
        }
    }
}

} // namespace

KORVAL_SSE2_END

namespace {

template <bool kFast>
VOID SmearSegment(const UCHAR* pucLine, PUCHAR pucOut, ULONG ulStart, ULONG ulEnd)
{
    const ULONG ulBrightest = kFast ? BrightestPixel16(pucLine, ulStart, ulEnd) : BrightestPixel(pucLine, ulStart, ulEnd);
    const ULONG ulDistance = ulEnd - ulBrightest;
    if (ulDistance < 2) {
        return;
    }
    const UCHAR* pucBright = pucLine + 3 * ulBrightest;
    ULONG x = ulBrightest + 1;
    if (kFast) {
        x = ulDistance <= 128 ? SmearPixels8(pucLine, pucOut, pucBright, ulEnd, ulDistance, x, ulEnd)
                              : SmearPixels4(pucLine, pucOut, pucBright, ulEnd, ulDistance, x, ulEnd);
    }
    SmearPixelsReference(pucLine, pucOut, pucBright, ulEnd, ulDistance, x, ulEnd);
}

template <bool kFast>
VOID Streaks(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight)
{
    const SIZE_T cbStride = static_cast<SIZE_T>(ulWidth) * 3;
    const ULONG ulMaximum = ulWidth / 5;
    for (ULONG y = 0; y < ulHeight; ++y) {
        const UCHAR* pucLine = pucSource + y * cbStride;
        PUCHAR pucOut = pucDestination + y * cbStride;
        // Line by line, so that the smear finds the copied line still in the cache.
        memcpy(pucOut, pucLine, cbStride);
        if (y == 0 || ulMaximum < 2) {
            continue;  // rand() × 1 >> 15 is always 0: no segment could ever be drawn
        }
        ULONG ulLeft = ulWidth;  // pixels not yet walked, from the line's start
        while (ulLeft > 0) {
            const ULONG ulLength = DrawSegmentLength(ulMaximum, ulLeft);
            SmearSegment<kFast>(pucLine, pucOut, ulLeft - ulLength, ulLeft - 1);
            ulLeft -= ulLength;
        }
    }
}

} // namespace

VOID VeStreaks(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight)
{
    if (!CpuHasSse2()) {
        Streaks<false>(pucSource, pucDestination, ulWidth, ulHeight);
        return;
    }
    Streaks<true>(pucSource, pucDestination, ulWidth, ulHeight);
}

VOID VeStreaksReference(const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulWidth, ULONG ulHeight)
{
    Streaks<false>(pucSource, pucDestination, ulWidth, ulHeight);
}
