// The demosaic passes, written once for every vector width. Each step takes
// kStepPixels pixels of one row as two sets of 16-bit lanes, the non-green
// sites and the green sites of the row, so every sum and difference of the
// rules is exact. Included by CInterpolationAvx2.cpp, CInterpolationSse2.cpp and
// CInterpolationSsse3.cpp, which define Lanes, kStepPixels, the lane operations
// used below, ChooseGreen and IP_SIMD_NAME (the suffix of the two entry points);
// with IP_GREEN_PASS_ONLY defined only the green pass is built.

namespace {

// Lanes of the sites at columns start + O + 2j (non-green sites of a row whose
// non-green parity is O) or start + (1 - O) + 2j (its green sites).
template <int O> inline Lanes NonGreenLanes(const UCHAR* p)
{
    Lanes v = LoadBytes(p);
    return O == 0 ? And(v, Set16(0x00FF)) : ShiftRight<8>(v);
}
template <int O> inline Lanes GreenLanes(const UCHAR* p)
{
    Lanes v = LoadBytes(p);
    return O == 0 ? ShiftRight<8>(v) : And(v, Set16(0x00FF));
}

// Interleaves even-column and odd-column lanes back into bytes.
inline void StoreInterleaved(PUCHAR p, Lanes even, Lanes odd)
{
    StoreBytes(p, Or(even, ShiftLeft<8>(odd)));
}

template <int O> void GreenRow(const UCHAR* p0, PUCHAR out, ULONG stride, ULONG width)
{
    const UCHAR* pm1 = p0 - stride;
    const UCHAR* pp1 = p0 + stride;
    const int kLeft = -2 + 2 * O;
    const int kRight = 2 * O;
    for (ULONG c = 0; c + kStepPixels <= width; c += kStepPixels) {
        Lanes x = NonGreenLanes<O>(p0 + c);
        Lanes ul = GreenLanes<O>(pm1 + c + kLeft);
        Lanes ur = GreenLanes<O>(pm1 + c + kRight);
        Lanes dl = GreenLanes<O>(pp1 + c + kLeft);
        Lanes dr = GreenLanes<O>(pp1 + c + kRight);
        Lanes dh = Add(Add(AbsDiff(x, NonGreenLanes<O>(p0 + c - 2)), AbsDiff(x, NonGreenLanes<O>(p0 + c + 2))),
                       AbsDiff(Add(ul, dl), Add(ur, dr)));
        Lanes dv = Add(Add(AbsDiff(x, NonGreenLanes<O>(p0 + c - 2 * stride)),
                           AbsDiff(x, NonGreenLanes<O>(p0 + c + 2 * stride))),
                       AbsDiff(Add(ul, ur), Add(dl, dr)));
        Lanes gv = ShiftRight<1>(Add(NonGreenLanes<O>(pm1 + c), NonGreenLanes<O>(pp1 + c)));
        Lanes gh = ShiftRight<1>(Add(GreenLanes<O>(p0 + c + kLeft), GreenLanes<O>(p0 + c + kRight)));
        Lanes green = ChooseGreen(gv, gh, dh, dv);
        Lanes samples = GreenLanes<O>(p0 + c);
        if (O == 0) {
            StoreInterleaved(out + c, green, samples);
        } else {
            StoreInterleaved(out + c, samples, green);
        }
    }
}

#if !defined(IP_GREEN_PASS_ONLY) || defined(IP_IMAGE_PASS)
// The gain step and the composite matrix on lanes of R, G and B.
struct tagColorLanes {
    Lanes gain[3];
    Lanes coefficient[9];
};

inline Lanes Gain(Lanes value, Lanes gain)
{
    Lanes t = MultiplyHigh(ShiftLeft<6>(value), gain);
    Lanes scaled = ShiftLeft<3>(Min(t, Set16(2048)));
    return Min(scaled, Set16(16383));
}

inline Lanes MatrixRow(const Lanes* c, Lanes r, Lanes g, Lanes b)
{
    Lanes sum = AddSaturated(MultiplyHigh(r, c[0]), MultiplyHigh(g, c[1]));
    sum = AddSaturated(sum, MultiplyHigh(b, c[2]));
    return ShiftRightSigned<3>(sum);
}

struct tagRgbLanes {
    Lanes b;
    Lanes g;
    Lanes r;
};

inline tagRgbLanes ApplyColor(tagRgbLanes in, const tagColorLanes& color)
{
    const Lanes zero = Set16(0);
    Lanes r = Gain(Max(in.r, zero), color.gain[0]);
    Lanes g = Gain(in.g, color.gain[1]);
    Lanes b = Gain(Max(in.b, zero), color.gain[2]);
    return tagRgbLanes{MatrixRow(color.coefficient + 6, r, g, b), MatrixRow(color.coefficient + 3, r, g, b),
                       MatrixRow(color.coefficient, r, g, b)};
}

// Writes a step's 16 pixels, at column c of the row, in 4B4G4R packing.
struct tagPackedSink {
    PUCHAR pRow;
    void operator()(ULONG c, const tagRgbLanes& even, const tagRgbLanes& odd) const
    {
        StorePacked(pRow + c * 3, even.b, even.g, even.r, odd.b, odd.g, odd.r);
    }
};

// Colour minus green at the sites `offset` columns along in the rows above and
// below, summed (the sites of the other non-green colour, green lanes of O).
template <int O>
inline Lanes AboveBelowDifference(const UCHAR* p, const UCHAR* g, ULONG stride, int offset)
{
    return Add(Sub(GreenLanes<O>(p - stride + offset), GreenLanes<O>(g - stride + offset)),
               Sub(GreenLanes<O>(p + stride + offset), GreenLanes<O>(g + stride + offset)));
}

template <int O, bool kColor, class Sink>
void ColorRow(const UCHAR* p0, const UCHAR* g0, const Sink& sink, ULONG stride, ULONG width, bool blueRow,
              const tagColorLanes& color)
{
    const int kLeft = -2 + 2 * O;
    const int kRight = 2 * O;
    for (ULONG c = 0; c + kStepPixels <= width; c += kStepPixels) {
        const UCHAR* p = p0 + c;
        const UCHAR* g = g0 + c;
        // Non-green sites: own colour, green, the other colour from the diagonals.
        Lanes ownN = NonGreenLanes<O>(p);
        Lanes greenN = NonGreenLanes<O>(g);
        // The green sites' up/down sum is one of the non-green sites' two diagonal pairs.
        Lanes upDown = AboveBelowDifference<O>(p, g, stride, 0);
        Lanes diagonal = Add(upDown, AboveBelowDifference<O>(p, g, stride, kLeft + kRight));
        Lanes otherN = Add(greenN, ShiftRightSigned<2>(diagonal));
        // Green sites: the row's colour from left/right, the other from up/down.
        Lanes greenG = GreenLanes<O>(g);
        Lanes across = Add(Sub(NonGreenLanes<O>(p - 2 * O), NonGreenLanes<O>(g - 2 * O)),
                           Sub(NonGreenLanes<O>(p + 2 - 2 * O), NonGreenLanes<O>(g + 2 - 2 * O)));
        Lanes rowG = Add(greenG, ShiftRightSigned<1>(across));
        Lanes columnG = Add(greenG, ShiftRightSigned<1>(upDown));
        tagRgbLanes atN = blueRow ? tagRgbLanes{ownN, greenN, otherN} : tagRgbLanes{otherN, greenN, ownN};
        tagRgbLanes atG = blueRow ? tagRgbLanes{rowG, greenG, columnG} : tagRgbLanes{columnG, greenG, rowG};
        if (kColor) {
            atN = ApplyColor(atN, color);
            atG = ApplyColor(atG, color);
        }
        if (O == 0) {
            sink(c, atN, atG);
        } else {
            sink(c, atG, atN);
        }
    }
}

tagColorLanes MakeColorLanes(const tagIpColorKernel* psColor)
{
    tagColorLanes color;
    for (int i = 0; i < 3; ++i) {
        color.gain[i] = Set16(psColor != nullptr ? psColor->asGain[i] : 0);
    }
    for (int i = 0; i < 9; ++i) {
        color.coefficient[i] = Set16(psColor != nullptr ? psColor->asCoefficient[i] : 0);
    }
    return color;
}

// The vector steps of one image row, whichever its site layout and whether
// gains and matrix apply.
template <class Sink>
void ColorRowAnyLayout(const UCHAR* p, const UCHAR* g, const Sink& sink, ULONG stride, ULONG width, ULONG row,
                       UCHAR ucPhase, const tagColorLanes& color, bool bColor)
{
    bool blueRow = IpIsBlueRow(ucPhase, row);
    bool even = IpNonGreenParity(ucPhase, row) == 0;
    if (bColor) {
        even ? ColorRow<0, true>(p, g, sink, stride, width, blueRow, color)
             : ColorRow<1, true>(p, g, sink, stride, width, blueRow, color);
    } else {
        even ? ColorRow<0, false>(p, g, sink, stride, width, blueRow, color)
             : ColorRow<1, false>(p, g, sink, stride, width, blueRow, color);
    }
}
#endif

} // namespace

void IP_SIMD_NAME(IpGreenPass)(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, ULONG ulWidth, ULONG ulHeight,
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

#ifndef IP_GREEN_PASS_ONLY
void IP_SIMD_NAME(IpColorPass)(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked,
                               ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase, const tagIpColorKernel* psColor)
{
    const tagColorLanes color = MakeColorLanes(psColor);
    ULONG stride = ulWidth + 4;
    ULONG vectorWidth = ulWidth - ulWidth % kStepPixels;
    for (ULONG row = 0; row < ulHeight; ++row) {
        SIZE_T offset = static_cast<SIZE_T>(row + 2) * stride + 2;
        tagPackedSink sink{pPacked + static_cast<SIZE_T>(row) * 3 * ulWidth};
        ColorRowAnyLayout(pPaddedBayer + offset, pGreenPlane + offset, sink, stride, ulWidth, row, ucPhase, color,
                          psColor != nullptr);
        IpColorPassRowReference(pPaddedBayer, pGreenPlane, pPacked, ulWidth, row, vectorWidth / 8, ulWidth / 8,
                                ucPhase, psColor);
    }
}
#endif

#ifdef IP_IMAGE_PASS
namespace {

// One 8-pixel group of the row, from the plain code: those the vector steps leave.
void GroupToImage(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, ULONG ulWidth, ULONG ulRow,
                  ULONG ulGroup, UCHAR ucPhase, const tagIpColorKernel* psColor, const tagImageSink& sink)
{
    const ULONG first = ulGroup * 8;
    UCHAR group[24];
    IpColorPassGroupReference(pPaddedBayer, pGreenPlane, ulWidth, ulRow, ulGroup, ucPhase, psColor, group);
    for (ULONG k = 0; k < 8; ++k) {
        ULONG column = sink.bMirror ? ulWidth - 1 - (first + k) : first + k;
        for (ULONG ch = 0; ch < 3; ++ch) {
            sink.pRow[3 * column + ch] = group[(k & 1) * 12 + ch * 4 + (k >> 1)];
        }
        if (sink.pGreenRow != nullptr) {
            sink.pGreenRow[column] = group[(k & 1) * 12 + 4 + (k >> 1)];
        }
    }
}

} // namespace

void IP_SIMD_NAME(IpColorPassImage)(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane,
                                    const tagIpImageRows& sImage, ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase,
                                    const tagIpColorKernel* psColor)
{
    const tagColorLanes color = MakeColorLanes(psColor);
    const bool mirror = sImage.ucMirror == 1;
    const tagImageShuffle shuffle = MakeImageShuffle(mirror);
    ULONG stride = ulWidth + 4;
    for (ULONG row = 0; row < ulHeight; ++row) {
        SIZE_T offset = static_cast<SIZE_T>(row + 2) * stride + 2;
        SIZE_T target = sImage.ucFlip == 1 ? ulHeight - 1 - row : row;
        PUCHAR greenRow = sImage.pGreen != nullptr ? sImage.pGreen + target * ulWidth : nullptr;
        tagImageSink sink{sImage.pImage + target * 3 * ulWidth, greenRow, ulWidth - kStepPixels, mirror, &shuffle};
        ColorRowAnyLayout(pPaddedBayer + offset, pGreenPlane + offset, sink, stride, ulWidth, row, ucPhase, color,
                          psColor != nullptr);
        for (ULONG group = ulWidth / kStepPixels * kStepPixels / 8; group < ulWidth / 8; ++group) {
            GroupToImage(pPaddedBayer, pGreenPlane, ulWidth, row, group, ucPhase, psColor, sink);
        }
    }
}
#endif
