// SSE2 demosaic passes, the AVX2 ones at half the width: each step takes 16
// pixels of one row as two sets of 8 lanes, the non-green sites and the green
// sites of the row, 16 bits a lane, so every sum and difference is exact.
// SSE2 has no 16-bit absolute value and no byte blend: both are spelled out.
#include "platform/CpuFeatures.h"
#include <emmintrin.h>

#include "imageprocess/CInterpolationKernels.h"

KORVAL_SSE2_BEGIN

namespace {

constexpr ULONG kStepPixels = 16;

inline __m128i Load16(const UCHAR* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Lanes of the sites at columns start + O + 2j (non-green sites of a row whose
// non-green parity is O) or start + (1 - O) + 2j (its green sites).
template <int O> inline __m128i NonGreenLanes(const UCHAR* p)
{
    __m128i v = Load16(p);
    return O == 0 ? _mm_and_si128(v, _mm_set1_epi16(0x00FF)) : _mm_srli_epi16(v, 8);
}
template <int O> inline __m128i GreenLanes(const UCHAR* p)
{
    __m128i v = Load16(p);
    return O == 0 ? _mm_srli_epi16(v, 8) : _mm_and_si128(v, _mm_set1_epi16(0x00FF));
}

inline __m128i AbsDiff(__m128i a, __m128i b)
{
    const __m128i difference = _mm_sub_epi16(a, b);
    return _mm_max_epi16(difference, _mm_sub_epi16(_mm_setzero_si128(), difference));
}

// Lanes of b where mask is set, of a elsewhere.
inline __m128i Select(__m128i a, __m128i b, __m128i mask)
{
    return _mm_or_si128(_mm_and_si128(mask, b), _mm_andnot_si128(mask, a));
}

// Interleaves even-column and odd-column lanes back into 16 bytes.
inline void StoreInterleaved(PUCHAR p, __m128i even, __m128i odd)
{
    __m128i bytes = _mm_or_si128(even, _mm_slli_epi16(odd, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), bytes);
}

template <int O> void GreenRow(const UCHAR* p0, PUCHAR out, ULONG stride, ULONG width)
{
    const __m128i threshold = _mm_set1_epi16(40);
    const UCHAR* pm1 = p0 - stride;
    const UCHAR* pp1 = p0 + stride;
    const int kLeft = -2 + 2 * O;
    const int kRight = 2 * O;
    for (ULONG c = 0; c + kStepPixels <= width; c += kStepPixels) {
        __m128i x = NonGreenLanes<O>(p0 + c);
        __m128i ul = GreenLanes<O>(pm1 + c + kLeft);
        __m128i ur = GreenLanes<O>(pm1 + c + kRight);
        __m128i dl = GreenLanes<O>(pp1 + c + kLeft);
        __m128i dr = GreenLanes<O>(pp1 + c + kRight);
        __m128i dh = _mm_add_epi16(
            _mm_add_epi16(AbsDiff(x, NonGreenLanes<O>(p0 + c - 2)), AbsDiff(x, NonGreenLanes<O>(p0 + c + 2))),
            AbsDiff(_mm_add_epi16(ul, dl), _mm_add_epi16(ur, dr)));
        __m128i dv = _mm_add_epi16(
            _mm_add_epi16(AbsDiff(x, NonGreenLanes<O>(p0 + c - 2 * stride)),
                             AbsDiff(x, NonGreenLanes<O>(p0 + c + 2 * stride))),
            AbsDiff(_mm_add_epi16(ul, ur), _mm_add_epi16(dl, dr)));
        __m128i gv = _mm_srli_epi16(_mm_add_epi16(NonGreenLanes<O>(pm1 + c), NonGreenLanes<O>(pp1 + c)), 1);
        __m128i gh = _mm_srli_epi16(
            _mm_add_epi16(GreenLanes<O>(p0 + c + kLeft), GreenLanes<O>(p0 + c + kRight)), 1);
        __m128i ga = _mm_srli_epi16(_mm_add_epi16(gv, gh), 1);
        __m128i directional = Select(gh, gv, _mm_cmpgt_epi16(dh, dv));
        __m128i edge = _mm_cmpgt_epi16(AbsDiff(dv, dh), threshold);
        __m128i green = Select(ga, directional, edge);
        __m128i samples = GreenLanes<O>(p0 + c);
        if (O == 0) {
            StoreInterleaved(out + c, green, samples);
        } else {
            StoreInterleaved(out + c, samples, green);
        }
    }
}

// The gain step and the composite matrix on 16 lanes of R, G and B.
struct tagColorLanes {
    __m128i gain[3];
    __m128i coefficient[9];
};

inline __m128i Gain(__m128i value, __m128i gain)
{
    __m128i t = _mm_mulhi_epi16(_mm_slli_epi16(value, 6), gain);
    __m128i scaled = _mm_slli_epi16(_mm_min_epi16(t, _mm_set1_epi16(2048)), 3);
    return _mm_min_epi16(scaled, _mm_set1_epi16(16383));
}

inline __m128i MatrixRow(const __m128i* c, __m128i r, __m128i g, __m128i b)
{
    __m128i sum = _mm_adds_epi16(_mm_mulhi_epi16(r, c[0]), _mm_mulhi_epi16(g, c[1]));
    sum = _mm_adds_epi16(sum, _mm_mulhi_epi16(b, c[2]));
    return _mm_srai_epi16(sum, 3);
}

struct tagRgbLanes {
    __m128i b;
    __m128i g;
    __m128i r;
};

inline tagRgbLanes ApplyColor(tagRgbLanes in, const tagColorLanes& color)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i r = Gain(_mm_max_epi16(in.r, zero), color.gain[0]);
    __m128i g = Gain(in.g, color.gain[1]);
    __m128i b = Gain(_mm_max_epi16(in.b, zero), color.gain[2]);
    return tagRgbLanes{MatrixRow(color.coefficient + 6, r, g, b), MatrixRow(color.coefficient + 3, r, g, b),
                       MatrixRow(color.coefficient, r, g, b)};
}

// Writes 16 pixels (two 8-pixel groups) in 4B4G4R packing; packus limits to 0..255.
inline void StorePacked(PUCHAR out, const tagRgbLanes& even, const tagRgbLanes& odd)
{
    const int order = _MM_SHUFFLE(3, 1, 2, 0);
    __m128i x = _mm_shuffle_epi32(_mm_packus_epi16(even.b, even.g), order);
    __m128i y = _mm_shuffle_epi32(_mm_packus_epi16(even.r, odd.b), order);
    __m128i z = _mm_shuffle_epi32(_mm_packus_epi16(odd.g, odd.r), order);
    __m128i* p = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(p, _mm_unpacklo_epi64(x, y));
    _mm_storeu_si128(p + 1, _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(z), _mm_castsi128_pd(x), 2)));
    _mm_storeu_si128(p + 2, _mm_unpackhi_epi64(y, z));
}

inline __m128i Difference(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }

template <int O, bool kColor>
void ColorRow(const UCHAR* p0, const UCHAR* g0, PUCHAR out, ULONG stride, ULONG width, bool blueRow,
              const tagColorLanes& color)
{
    const int kLeft = -2 + 2 * O;
    const int kRight = 2 * O;
    for (ULONG c = 0; c + kStepPixels <= width; c += kStepPixels) {
        const UCHAR* p = p0 + c;
        const UCHAR* g = g0 + c;
        // Non-green sites: own colour, green, the other colour from the diagonals.
        __m128i ownN = NonGreenLanes<O>(p);
        __m128i greenN = NonGreenLanes<O>(g);
        __m128i diagonal = _mm_add_epi16(
            _mm_add_epi16(Difference(GreenLanes<O>(p - stride + kLeft), GreenLanes<O>(g - stride + kLeft)),
                             Difference(GreenLanes<O>(p - stride + kRight), GreenLanes<O>(g - stride + kRight))),
            _mm_add_epi16(Difference(GreenLanes<O>(p + stride + kLeft), GreenLanes<O>(g + stride + kLeft)),
                             Difference(GreenLanes<O>(p + stride + kRight), GreenLanes<O>(g + stride + kRight))));
        __m128i otherN = _mm_add_epi16(greenN, _mm_srai_epi16(diagonal, 2));
        // Green sites: the row's colour from left/right, the other from up/down.
        __m128i greenG = GreenLanes<O>(g);
        __m128i across = _mm_add_epi16(Difference(NonGreenLanes<O>(p - 2 * O), NonGreenLanes<O>(g - 2 * O)),
                                          Difference(NonGreenLanes<O>(p + 2 - 2 * O), NonGreenLanes<O>(g + 2 - 2 * O)));
        __m128i upDown = _mm_add_epi16(Difference(GreenLanes<O>(p - stride), GreenLanes<O>(g - stride)),
                                          Difference(GreenLanes<O>(p + stride), GreenLanes<O>(g + stride)));
        __m128i rowG = _mm_add_epi16(greenG, _mm_srai_epi16(across, 1));
        __m128i columnG = _mm_add_epi16(greenG, _mm_srai_epi16(upDown, 1));
        tagRgbLanes atN = blueRow ? tagRgbLanes{ownN, greenN, otherN} : tagRgbLanes{otherN, greenN, ownN};
        tagRgbLanes atG = blueRow ? tagRgbLanes{rowG, greenG, columnG} : tagRgbLanes{columnG, greenG, rowG};
        if (kColor) {
            atN = ApplyColor(atN, color);
            atG = ApplyColor(atG, color);
        }
        PUCHAR groupOut = out + c * 3;
        if (O == 0) {
            StorePacked(groupOut, atN, atG);
        } else {
            StorePacked(groupOut, atG, atN);
        }
    }
}

} // namespace

void IpGreenPassSse2(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, ULONG ulWidth, ULONG ulHeight,
                     UCHAR ucPhase)
{
    ULONG stride = ulWidth + 4;
    ULONG vectorWidth = ulWidth - ulWidth % kStepPixels;
    for (ULONG row = 0; row < ulHeight; ++row) {
        SIZE_T offset = static_cast<SIZE_T>(row + 2) * stride + 2;
        if (IpNonGreenParity(ucPhase, row) == 0) {
            GreenRow<0>(pPaddedBayer + offset, pGreenPlane + offset, stride, ulWidth);
        } else {
            GreenRow<1>(pPaddedBayer + offset, pGreenPlane + offset, stride, ulWidth);
        }
        for (ULONG column = vectorWidth; column < ulWidth; ++column) {
            bool nonGreen = (column & 1) == IpNonGreenParity(ucPhase, row);
            pGreenPlane[offset + column] =
                nonGreen ? IpGreenAt(pPaddedBayer, stride, row + 2, column + 2) : pPaddedBayer[offset + column];
        }
    }
}

void IpColorPassSse2(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked, ULONG ulWidth,
                     ULONG ulHeight, UCHAR ucPhase, const tagIpColorKernel* psColor)
{
    tagColorLanes color;
    for (int i = 0; i < 3; ++i) {
        color.gain[i] = _mm_set1_epi16(psColor != nullptr ? psColor->asGain[i] : 0);
    }
    for (int i = 0; i < 9; ++i) {
        color.coefficient[i] = _mm_set1_epi16(psColor != nullptr ? psColor->asCoefficient[i] : 0);
    }
    ULONG stride = ulWidth + 4;
    ULONG vectorWidth = ulWidth - ulWidth % kStepPixels;
    for (ULONG row = 0; row < ulHeight; ++row) {
        SIZE_T offset = static_cast<SIZE_T>(row + 2) * stride + 2;
        const UCHAR* p = pPaddedBayer + offset;
        const UCHAR* g = pGreenPlane + offset;
        PUCHAR out = pPacked + static_cast<SIZE_T>(row) * 3 * ulWidth;
        bool blueRow = IpIsBlueRow(ucPhase, row);
        bool even = IpNonGreenParity(ucPhase, row) == 0;
        if (psColor != nullptr) {
            even ? ColorRow<0, true>(p, g, out, stride, ulWidth, blueRow, color)
                 : ColorRow<1, true>(p, g, out, stride, ulWidth, blueRow, color);
        } else {
            even ? ColorRow<0, false>(p, g, out, stride, ulWidth, blueRow, color)
                 : ColorRow<1, false>(p, g, out, stride, ulWidth, blueRow, color);
        }
        IpColorPassRowReference(pPaddedBayer, pGreenPlane, pPacked, ulWidth, row, vectorWidth / 8, ulWidth / 8,
                                ucPhase, psColor);
    }
}

KORVAL_SSE2_END
