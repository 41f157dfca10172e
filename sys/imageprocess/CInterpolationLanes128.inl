// The lane operations of the demosaic passes on 128-bit registers: 16 pixels
// a step. There is no byte blend: the green choice is arithmetic instead of two
// selects. Included by CInterpolationSse2.cpp and CInterpolationSsse3.cpp, which
// define AbsoluteValue (16-bit lanes) in an unnamed namespace first; with
// IP_GREEN_PASS_ONLY defined only the green pass is built.

namespace {

using Lanes = __m128i;
constexpr ULONG kStepPixels = 16;

inline Lanes LoadBytes(const UCHAR* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void StoreBytes(PUCHAR p, Lanes v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline Lanes Set16(SHORT s) { return _mm_set1_epi16(s); }
inline Lanes And(Lanes a, Lanes b) { return _mm_and_si128(a, b); }
inline Lanes Or(Lanes a, Lanes b) { return _mm_or_si128(a, b); }
inline Lanes Add(Lanes a, Lanes b) { return _mm_add_epi16(a, b); }
inline Lanes Sub(Lanes a, Lanes b) { return _mm_sub_epi16(a, b); }
inline Lanes AddSaturated(Lanes a, Lanes b) { return _mm_adds_epi16(a, b); }
inline Lanes Min(Lanes a, Lanes b) { return _mm_min_epi16(a, b); }
inline Lanes Max(Lanes a, Lanes b) { return _mm_max_epi16(a, b); }
inline Lanes MultiplyHigh(Lanes a, Lanes b) { return _mm_mulhi_epi16(a, b); }
inline Lanes AbsDiff(Lanes a, Lanes b) { return AbsoluteValue(_mm_sub_epi16(a, b)); }
template <int N> inline Lanes ShiftLeft(Lanes v) { return _mm_slli_epi16(v, N); }
template <int N> inline Lanes ShiftRight(Lanes v) { return _mm_srli_epi16(v, N); }
template <int N> inline Lanes ShiftRightSigned(Lanes v) { return _mm_srai_epi16(v, N); }

// The green of a non-green site: the mean of the vertical and horizontal
// estimates, or on an edge (|dv - dh| > 40) the one across the smaller gradient.
// Without selects: twice the green is gv + gh, moved by gv - gh towards the
// chosen estimate on an edge; the edge test is one signed compare of
// dv - dh + 40 offset by 0x8000, which tests the range 0..80 unsigned.
inline Lanes ChooseGreen(Lanes gv, Lanes gh, Lanes dh, Lanes dv)
{
    const __m128i difference = _mm_sub_epi16(dv, dh);
    const __m128i edge = _mm_cmpgt_epi16(_mm_add_epi16(difference, _mm_set1_epi16(40 - 32768)),
                                         _mm_set1_epi16(80 - 32768));
    const __m128i horizontal = _mm_cmpgt_epi16(difference, _mm_set1_epi16(-1));
    const __m128i step = _mm_sub_epi16(gv, gh);
    const __m128i towards = _mm_sub_epi16(_mm_xor_si128(step, horizontal), horizontal);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(gv, gh), _mm_and_si128(towards, edge)), 1);
}

#if !defined(IP_GREEN_PASS_ONLY) || defined(IP_IMAGE_PASS)
// Writes 16 pixels (two 8-pixel groups) in 4B4G4R packing; packus limits to 0..255.
inline void StorePacked(PUCHAR out, Lanes evenB, Lanes evenG, Lanes evenR, Lanes oddB, Lanes oddG, Lanes oddR)
{
    const int order = _MM_SHUFFLE(3, 1, 2, 0);
    __m128i x = _mm_shuffle_epi32(_mm_packus_epi16(evenB, evenG), order);
    __m128i y = _mm_shuffle_epi32(_mm_packus_epi16(evenR, oddB), order);
    __m128i z = _mm_shuffle_epi32(_mm_packus_epi16(oddG, oddR), order);
    __m128i* p = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(p, _mm_unpacklo_epi64(x, y));
    _mm_storeu_si128(p + 1, _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(z), _mm_castsi128_pd(x), 2)));
    _mm_storeu_si128(p + 2, _mm_unpackhi_epi64(y, z));
}
#endif

#ifdef IP_IMAGE_PASS
// The byte shuffles (SSSE3) of IpImageShuffleBytes, loaded.
struct tagImageShuffle {
    Lanes mask[3][3];
    Lanes green[2];
};

inline tagImageShuffle MakeImageShuffle(bool bMirror)
{
    alignas(16) char masks[4][3][16];
    IpImageShuffleBytes(bMirror, masks);
    auto load = [&](ULONG k, ULONG s) { return _mm_load_si128(reinterpret_cast<const __m128i*>(masks[k][s])); };
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

// Writes a step's 16 pixels, from column c of the row, as BGR24 bytes and, with
// pGreenRow, their green bytes; mirrored, they land in reverse order ending at
// column width - 1 - c.
struct tagImageSink {
    PUCHAR pRow;
    PUCHAR pGreenRow;
    ULONG ulMirrorStart; // width - 16: where a mirrored step at column 0 starts
    bool bMirror;
    const tagImageShuffle* psShuffle;

    template <class RgbLanes> void operator()(ULONG c, const RgbLanes& even, const RgbLanes& odd) const
    {
        const __m128i x = _mm_packus_epi16(even.b, even.g);
        const __m128i y = _mm_packus_epi16(even.r, odd.b);
        const __m128i z = _mm_packus_epi16(odd.g, odd.r);
        const ULONG column = bMirror ? ulMirrorStart - c : c;
        __m128i* out = reinterpret_cast<__m128i*>(pRow + 3 * column);
        for (int k = 0; k < 3; ++k) {
            const Lanes* mask = psShuffle->mask[k];
            __m128i bytes = _mm_or_si128(_mm_shuffle_epi8(x, mask[0]), _mm_shuffle_epi8(y, mask[1]));
            _mm_storeu_si128(out + k, _mm_or_si128(bytes, _mm_shuffle_epi8(z, mask[2])));
        }
        if (pGreenRow != nullptr) {
            __m128i green = _mm_or_si128(_mm_shuffle_epi8(x, psShuffle->green[0]),
                                         _mm_shuffle_epi8(z, psShuffle->green[1]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pGreenRow + column), green);
        }
    }
};
#endif

} // namespace

