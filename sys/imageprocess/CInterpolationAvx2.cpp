// AVX2 demosaic passes. Each step takes 32 pixels of one row as two sets of 16
// lanes: the non-green sites and the green sites of the row, 16 bits a lane,
// so every sum and difference of the rules is exact.
#include "platform/CpuFeatures.h"
#include <immintrin.h>

#include "imageprocess/CInterpolationKernels.h"

KORVAL_AVX2_BEGIN

namespace {

constexpr ULONG kStepPixels = 32;

inline __m256i Load32(const UCHAR* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// Lanes of the sites at columns start + O + 2j (non-green sites of a row whose
// non-green parity is O) or start + (1 - O) + 2j (its green sites).
template <int O> inline __m256i NonGreenLanes(const UCHAR* p)
{
    __m256i v = Load32(p);
    return O == 0 ? _mm256_and_si256(v, _mm256_set1_epi16(0x00FF)) : _mm256_srli_epi16(v, 8);
}
template <int O> inline __m256i GreenLanes(const UCHAR* p)
{
    __m256i v = Load32(p);
    return O == 0 ? _mm256_srli_epi16(v, 8) : _mm256_and_si256(v, _mm256_set1_epi16(0x00FF));
}

inline __m256i AbsDiff(__m256i a, __m256i b) { return _mm256_abs_epi16(_mm256_sub_epi16(a, b)); }

// Interleaves even-column and odd-column lanes back into 32 bytes.
inline void StoreInterleaved(PUCHAR p, __m256i even, __m256i odd)
{
    __m256i bytes = _mm256_or_si256(even, _mm256_slli_epi16(odd, 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), bytes);
}

template <int O> void GreenRow(const UCHAR* p0, PUCHAR out, ULONG stride, ULONG width)
{
    const __m256i threshold = _mm256_set1_epi16(40);
    const UCHAR* pm1 = p0 - stride;
    const UCHAR* pp1 = p0 + stride;
    const int kLeft = -2 + 2 * O;
    const int kRight = 2 * O;
    for (ULONG c = 0; c + kStepPixels <= width; c += kStepPixels) {
        __m256i x = NonGreenLanes<O>(p0 + c);
        __m256i ul = GreenLanes<O>(pm1 + c + kLeft);
        __m256i ur = GreenLanes<O>(pm1 + c + kRight);
        __m256i dl = GreenLanes<O>(pp1 + c + kLeft);
        __m256i dr = GreenLanes<O>(pp1 + c + kRight);
        __m256i dh = _mm256_add_epi16(
            _mm256_add_epi16(AbsDiff(x, NonGreenLanes<O>(p0 + c - 2)), AbsDiff(x, NonGreenLanes<O>(p0 + c + 2))),
            AbsDiff(_mm256_add_epi16(ul, dl), _mm256_add_epi16(ur, dr)));
        __m256i dv = _mm256_add_epi16(
            _mm256_add_epi16(AbsDiff(x, NonGreenLanes<O>(p0 + c - 2 * stride)),
                             AbsDiff(x, NonGreenLanes<O>(p0 + c + 2 * stride))),
            AbsDiff(_mm256_add_epi16(ul, ur), _mm256_add_epi16(dl, dr)));
        __m256i gv = _mm256_srli_epi16(_mm256_add_epi16(NonGreenLanes<O>(pm1 + c), NonGreenLanes<O>(pp1 + c)), 1);
        __m256i gh = _mm256_srli_epi16(
            _mm256_add_epi16(GreenLanes<O>(p0 + c + kLeft), GreenLanes<O>(p0 + c + kRight)), 1);
        __m256i ga = _mm256_srli_epi16(_mm256_add_epi16(gv, gh), 1);
        __m256i directional = _mm256_blendv_epi8(gh, gv, _mm256_cmpgt_epi16(dh, dv));
        __m256i edge = _mm256_cmpgt_epi16(AbsDiff(dv, dh), threshold);
        __m256i green = _mm256_blendv_epi8(ga, directional, edge);
        __m256i samples = GreenLanes<O>(p0 + c);
        if (O == 0) {
            StoreInterleaved(out + c, green, samples);
        } else {
            StoreInterleaved(out + c, samples, green);
        }
    }
}

// The gain step and the composite matrix on 16 lanes of R, G and B.
struct tagColorLanes {
    __m256i gain[3];
    __m256i coefficient[9];
};

inline __m256i Gain(__m256i value, __m256i gain)
{
    __m256i t = _mm256_mulhi_epi16(_mm256_slli_epi16(value, 6), gain);
    __m256i scaled = _mm256_slli_epi16(_mm256_min_epi16(t, _mm256_set1_epi16(2048)), 3);
    return _mm256_min_epi16(scaled, _mm256_set1_epi16(16383));
}

inline __m256i MatrixRow(const __m256i* c, __m256i r, __m256i g, __m256i b)
{
    __m256i sum = _mm256_adds_epi16(_mm256_mulhi_epi16(r, c[0]), _mm256_mulhi_epi16(g, c[1]));
    sum = _mm256_adds_epi16(sum, _mm256_mulhi_epi16(b, c[2]));
    return _mm256_srai_epi16(sum, 3);
}

struct tagRgbLanes {
    __m256i b;
    __m256i g;
    __m256i r;
};

inline tagRgbLanes ApplyColor(tagRgbLanes in, const tagColorLanes& color)
{
    const __m256i zero = _mm256_setzero_si256();
    __m256i r = Gain(_mm256_max_epi16(in.r, zero), color.gain[0]);
    __m256i g = Gain(in.g, color.gain[1]);
    __m256i b = Gain(_mm256_max_epi16(in.b, zero), color.gain[2]);
    return tagRgbLanes{MatrixRow(color.coefficient + 6, r, g, b), MatrixRow(color.coefficient + 3, r, g, b),
                       MatrixRow(color.coefficient, r, g, b)};
}

// Writes 32 pixels (four 8-pixel groups) in 4B4G4R packing; packus limits to 0..255.
inline void StorePacked(PUCHAR out, const tagRgbLanes& even, const tagRgbLanes& odd)
{
    const int order = _MM_SHUFFLE(3, 1, 2, 0);
    __m256i x = _mm256_shuffle_epi32(_mm256_packus_epi16(even.b, even.g), order);
    __m256i y = _mm256_shuffle_epi32(_mm256_packus_epi16(even.r, odd.b), order);
    __m256i z = _mm256_shuffle_epi32(_mm256_packus_epi16(odd.g, odd.r), order);
    __m256i first = _mm256_unpacklo_epi64(x, y);
    __m256i second = _mm256_blend_epi32(z, x, 0xCC);
    __m256i third = _mm256_unpackhi_epi64(y, z);
    __m256i* p = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(p, _mm256_permute2x128_si256(first, second, 0x20));
    _mm256_storeu_si256(p + 1, _mm256_permute2x128_si256(third, first, 0x30));
    _mm256_storeu_si256(p + 2, _mm256_permute2x128_si256(second, third, 0x31));
}

inline __m256i Difference(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }

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
        __m256i ownN = NonGreenLanes<O>(p);
        __m256i greenN = NonGreenLanes<O>(g);
        __m256i diagonal = _mm256_add_epi16(
            _mm256_add_epi16(Difference(GreenLanes<O>(p - stride + kLeft), GreenLanes<O>(g - stride + kLeft)),
                             Difference(GreenLanes<O>(p - stride + kRight), GreenLanes<O>(g - stride + kRight))),
            _mm256_add_epi16(Difference(GreenLanes<O>(p + stride + kLeft), GreenLanes<O>(g + stride + kLeft)),
                             Difference(GreenLanes<O>(p + stride + kRight), GreenLanes<O>(g + stride + kRight))));
        __m256i otherN = _mm256_add_epi16(greenN, _mm256_srai_epi16(diagonal, 2));
        // Green sites: the row's colour from left/right, the other from up/down.
        __m256i greenG = GreenLanes<O>(g);
        __m256i across = _mm256_add_epi16(Difference(NonGreenLanes<O>(p - 2 * O), NonGreenLanes<O>(g - 2 * O)),
                                          Difference(NonGreenLanes<O>(p + 2 - 2 * O), NonGreenLanes<O>(g + 2 - 2 * O)));
        __m256i upDown = _mm256_add_epi16(Difference(GreenLanes<O>(p - stride), GreenLanes<O>(g - stride)),
                                          Difference(GreenLanes<O>(p + stride), GreenLanes<O>(g + stride)));
        __m256i rowG = _mm256_add_epi16(greenG, _mm256_srai_epi16(across, 1));
        __m256i columnG = _mm256_add_epi16(greenG, _mm256_srai_epi16(upDown, 1));
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

void IpGreenPassAvx2(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, ULONG ulWidth, ULONG ulHeight,
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

void IpColorPassAvx2(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked, ULONG ulWidth,
                     ULONG ulHeight, UCHAR ucPhase, const tagIpColorKernel* psColor)
{
    tagColorLanes color;
    for (int i = 0; i < 3; ++i) {
        color.gain[i] = _mm256_set1_epi16(psColor != nullptr ? psColor->asGain[i] : 0);
    }
    for (int i = 0; i < 9; ++i) {
        color.coefficient[i] = _mm256_set1_epi16(psColor != nullptr ? psColor->asCoefficient[i] : 0);
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

KORVAL_AVX2_END
