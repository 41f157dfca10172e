// The demosaic passes on 256-bit registers: 32 pixels a step.
#include "platform/CpuFeatures.h"
#include <immintrin.h>

#include "imageprocess/CInterpolationKernels.h"

KORVAL_AVX2_BEGIN

namespace {

using Lanes = __m256i;
constexpr ULONG kStepPixels = 32;

inline Lanes LoadBytes(const UCHAR* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void StoreBytes(PUCHAR p, Lanes v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
inline Lanes Set16(SHORT s) { return _mm256_set1_epi16(s); }
inline Lanes And(Lanes a, Lanes b) { return _mm256_and_si256(a, b); }
inline Lanes Or(Lanes a, Lanes b) { return _mm256_or_si256(a, b); }
inline Lanes Add(Lanes a, Lanes b) { return _mm256_add_epi16(a, b); }
inline Lanes Sub(Lanes a, Lanes b) { return _mm256_sub_epi16(a, b); }
inline Lanes AddSaturated(Lanes a, Lanes b) { return _mm256_adds_epi16(a, b); }
inline Lanes Min(Lanes a, Lanes b) { return _mm256_min_epi16(a, b); }
inline Lanes Max(Lanes a, Lanes b) { return _mm256_max_epi16(a, b); }
inline Lanes MultiplyHigh(Lanes a, Lanes b) { return _mm256_mulhi_epi16(a, b); }
inline Lanes Greater(Lanes a, Lanes b) { return _mm256_cmpgt_epi16(a, b); }
inline Lanes AbsDiff(Lanes a, Lanes b) { return _mm256_abs_epi16(_mm256_sub_epi16(a, b)); }
// Lanes of b where mask is set, of a elsewhere.
inline Lanes Select(Lanes a, Lanes b, Lanes mask) { return _mm256_blendv_epi8(a, b, mask); }
template <int N> inline Lanes ShiftLeft(Lanes v) { return _mm256_slli_epi16(v, N); }
template <int N> inline Lanes ShiftRight(Lanes v) { return _mm256_srli_epi16(v, N); }
template <int N> inline Lanes ShiftRightSigned(Lanes v) { return _mm256_srai_epi16(v, N); }

// The green of a non-green site: the mean of the vertical and horizontal
// estimates, or on an edge (|dv - dh| > 40) the one across the smaller gradient.
inline Lanes ChooseGreen(Lanes gv, Lanes gh, Lanes dh, Lanes dv)
{
    Lanes ga = ShiftRight<1>(Add(gv, gh));
    Lanes directional = Select(gh, gv, Greater(dh, dv));
    Lanes edge = Greater(AbsDiff(dv, dh), Set16(40));
    return Select(ga, directional, edge);
}

// Writes 32 pixels (four 8-pixel groups) in 4B4G4R packing; packus limits to 0..255.
inline void StorePacked(PUCHAR out, Lanes evenB, Lanes evenG, Lanes evenR, Lanes oddB, Lanes oddG, Lanes oddR)
{
    const int order = _MM_SHUFFLE(3, 1, 2, 0);
    __m256i x = _mm256_shuffle_epi32(_mm256_packus_epi16(evenB, evenG), order);
    __m256i y = _mm256_shuffle_epi32(_mm256_packus_epi16(evenR, oddB), order);
    __m256i z = _mm256_shuffle_epi32(_mm256_packus_epi16(oddG, oddR), order);
    __m256i first = _mm256_unpacklo_epi64(x, y);
    __m256i second = _mm256_blend_epi32(z, x, 0xCC);
    __m256i third = _mm256_unpackhi_epi64(y, z);
    __m256i* p = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(p, _mm256_permute2x128_si256(first, second, 0x20));
    _mm256_storeu_si256(p + 1, _mm256_permute2x128_si256(third, first, 0x30));
    _mm256_storeu_si256(p + 2, _mm256_permute2x128_si256(second, third, 0x31));
}

// The 16-pixel byte shuffles of IpImageShuffleBytes in both halves: the packs
// of a step work per half, so each half holds the packed vectors of 16 pixels.
struct tagImageShuffle {
    Lanes mask[3][3];
    Lanes green[2];
};

inline tagImageShuffle MakeImageShuffle(bool bMirror)
{
    alignas(16) char masks[4][3][16];
    IpImageShuffleBytes(bMirror, masks);
    auto load = [&](ULONG k, ULONG s) {
        return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(masks[k][s])));
    };
    tagImageShuffle shuffle;
    for (ULONG k = 0; k < 3; ++k) {
        for (ULONG s = 0; s < 3; ++s) {
            shuffle.mask[k][s] = load(k, s);
        }
    }
    shuffle.green[0] = load(3, 0);
    shuffle.green[1] = load(3, 2);
    return shuffle;
}

inline void StoreHalves(PUCHAR pLow, PUCHAR pHigh, Lanes v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pLow), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pHigh), _mm256_extracti128_si256(v, 1));
}

// Writes a step's 32 pixels, from column c of the row, as BGR24 bytes and, with
// pGreenRow, their green bytes: each half's 16 pixels as the SSSE3 step writes
// them; mirrored, the first half lands after the second.
struct tagImageSink {
    PUCHAR pRow;
    PUCHAR pGreenRow;
    ULONG ulMirrorStart; // width - 32: where a mirrored step at column 0 starts
    bool bMirror;
    const tagImageShuffle* psShuffle;

    template <class RgbLanes> void operator()(ULONG c, const RgbLanes& even, const RgbLanes& odd) const
    {
        const Lanes x = _mm256_packus_epi16(even.b, even.g);
        const Lanes y = _mm256_packus_epi16(even.r, odd.b);
        const Lanes z = _mm256_packus_epi16(odd.g, odd.r);
        const ULONG low = bMirror ? ulMirrorStart - c + 16 : c;
        const ULONG high = bMirror ? ulMirrorStart - c : c + 16;
        for (int k = 0; k < 3; ++k) {
            const Lanes* mask = psShuffle->mask[k];
            Lanes bytes = _mm256_or_si256(_mm256_shuffle_epi8(x, mask[0]), _mm256_shuffle_epi8(y, mask[1]));
            bytes = _mm256_or_si256(bytes, _mm256_shuffle_epi8(z, mask[2]));
            StoreHalves(pRow + 3 * low + 16 * k, pRow + 3 * high + 16 * k, bytes);
        }
        if (pGreenRow != nullptr) {
            const Lanes green = _mm256_or_si256(_mm256_shuffle_epi8(x, psShuffle->green[0]),
                                                _mm256_shuffle_epi8(z, psShuffle->green[1]));
            StoreHalves(pGreenRow + low, pGreenRow + high, green);
        }
    }
};

} // namespace

#define IP_IMAGE_PASS
#define IP_SIMD_NAME(name) name##Avx2
#include "imageprocess/CInterpolationPasses.inl"
#undef IP_SIMD_NAME
#undef IP_IMAGE_PASS

KORVAL_AVX2_END
