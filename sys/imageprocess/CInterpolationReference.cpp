// The plain per-pixel demosaic passes: the rules written out one pixel at a time.
#include "imageprocess/CInterpolationKernels.h"

namespace {

constexpr int kEdgeThreshold = 40;

inline int AbsInt(int value) { return value < 0 ? -value : value; }

inline int LimitByte(int value) { return value < 0 ? 0 : (value > 255 ? 255 : value); }

// Padded plane accessor: (r, c) are padded coordinates.
struct tagPlane {
    const UCHAR* pData;
    ULONG ulStride;
    int At(ULONG r, ULONG c, int dr, int dc) const
    {
        return pData[(r + dr) * ulStride + (c + dc)];
    }
};

inline int SaturateShort(int value)
{
    return value < -32768 ? -32768 : (value > 32767 ? 32767 : value);
}

inline int MatrixRow(const SHORT* coefficients, int r, int g, int b)
{
    int sum = SaturateShort(((r * coefficients[0]) >> 16) + ((g * coefficients[1]) >> 16));
    sum = SaturateShort(sum + ((b * coefficients[2]) >> 16));
    return LimitByte(sum >> 3);
}

struct tagPixel {
    int iB;
    int iG;
    int iR;
};

tagPixel ColourDifferences(const tagPlane& bayer, const tagPlane& green, ULONG row, ULONG column,
                           UCHAR phase)
{
    ULONG r = row + 2;
    ULONG c = column + 2;
    bool blueRow = IpIsBlueRow(phase, row);
    int g = green.At(r, c, 0, 0);
    tagPixel pixel;
    pixel.iG = g;
    if ((column & 1) == IpNonGreenParity(phase, row)) {
        int diagonal = bayer.At(r, c, -1, -1) + bayer.At(r, c, -1, 1) + bayer.At(r, c, 1, -1) +
                       bayer.At(r, c, 1, 1) - green.At(r, c, -1, -1) - green.At(r, c, -1, 1) -
                       green.At(r, c, 1, -1) - green.At(r, c, 1, 1);
        int other = g + (diagonal >> 2);
        int own = bayer.At(r, c, 0, 0);
        pixel.iB = blueRow ? own : other;
        pixel.iR = blueRow ? other : own;
        return pixel;
    }
    int across = bayer.At(r, c, 0, -1) + bayer.At(r, c, 0, 1) - green.At(r, c, 0, -1) -
                 green.At(r, c, 0, 1);
    int upDown = bayer.At(r, c, -1, 0) + bayer.At(r, c, 1, 0) - green.At(r, c, -1, 0) -
                 green.At(r, c, 1, 0);
    int rowColour = g + (across >> 1);
    int columnColour = g + (upDown >> 1);
    pixel.iB = blueRow ? rowColour : columnColour;
    pixel.iR = blueRow ? columnColour : rowColour;
    return pixel;
}

tagPixel Finish(tagPixel pixel, const tagIpColorKernel* color)
{
    if (color == nullptr) {
        return tagPixel{LimitByte(pixel.iB), LimitByte(pixel.iG), LimitByte(pixel.iR)};
    }
    int r = IpGainStep(pixel.iR < 0 ? 0 : pixel.iR, color->asGain[0]);
    int g = IpGainStep(pixel.iG, color->asGain[1]);
    int b = IpGainStep(pixel.iB < 0 ? 0 : pixel.iB, color->asGain[2]);
    const SHORT* m = color->asCoefficient;
    return tagPixel{MatrixRow(m + 6, r, g, b), MatrixRow(m + 3, r, g, b), MatrixRow(m, r, g, b)};
}

} // namespace

// v x gain / 128 in units of 1/64, saturated to 0..16383. The x8 step saturates
// too, so a colour-difference overshoot above 255 cannot wrap to dark.
int IpGainStep(int iValue, SHORT sGainQ13)
{
    int t = ((iValue * 64) * sGainQ13) >> 16;
    int scaled = t * 8;
    return scaled < 0 ? 0 : (scaled > 16383 ? 16383 : scaled);
}

UCHAR IpGreenAt(const UCHAR* pPaddedBayer, ULONG ulPaddedWidth, ULONG r, ULONG c)
{
    tagPlane p{pPaddedBayer, ulPaddedWidth};
    int x = p.At(r, c, 0, 0);
    int dh = AbsInt(x - p.At(r, c, 0, -2)) + AbsInt(x - p.At(r, c, 0, 2)) +
             AbsInt((p.At(r, c, -1, -1) + p.At(r, c, 1, -1)) - (p.At(r, c, -1, 1) + p.At(r, c, 1, 1)));
    int dv = AbsInt(x - p.At(r, c, -2, 0)) + AbsInt(x - p.At(r, c, 2, 0)) +
             AbsInt((p.At(r, c, -1, -1) + p.At(r, c, -1, 1)) - (p.At(r, c, 1, -1) + p.At(r, c, 1, 1)));
    int gv = (p.At(r, c, -1, 0) + p.At(r, c, 1, 0)) >> 1;
    int gh = (p.At(r, c, 0, -1) + p.At(r, c, 0, 1)) >> 1;
    if (AbsInt(dv - dh) > kEdgeThreshold) {
        return static_cast<UCHAR>(dh > dv ? gv : gh);
    }
    return static_cast<UCHAR>((gv + gh) >> 1);
}

void IpGreenPassReference(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, ULONG ulWidth,
                          ULONG ulHeight, UCHAR ucPhase)
{
    ULONG stride = ulWidth + 4;
    for (ULONG row = 0; row < ulHeight; ++row) {
        ULONG r = row + 2;
        for (ULONG column = 0; column < ulWidth; ++column) {
            ULONG c = column + 2;
            bool nonGreen = (column & 1) == IpNonGreenParity(ucPhase, row);
            pGreenPlane[r * stride + c] =
                nonGreen ? IpGreenAt(pPaddedBayer, stride, r, c) : pPaddedBayer[r * stride + c];
        }
    }
}

void IpColorPassGroupReference(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, ULONG ulWidth,
                               ULONG ulRow, ULONG ulGroup, UCHAR ucPhase, const tagIpColorKernel* psColor,
                               PUCHAR pGroup)
{
    tagPlane bayer{pPaddedBayer, ulWidth + 4};
    tagPlane green{pGreenPlane, ulWidth + 4};
    for (ULONG k = 0; k < 8; ++k) {
        tagPixel pixel = Finish(ColourDifferences(bayer, green, ulRow, ulGroup * 8 + k, ucPhase), psColor);
        PUCHAR half = pGroup + (k & 1) * 12 + (k >> 1);
        half[0] = static_cast<UCHAR>(pixel.iB);
        half[4] = static_cast<UCHAR>(pixel.iG);
        half[8] = static_cast<UCHAR>(pixel.iR);
    }
}

void IpColorPassRowReference(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked,
                             ULONG ulWidth, ULONG ulRow, ULONG ulFirstGroup, ULONG ulEndGroup,
                             UCHAR ucPhase, const tagIpColorKernel* psColor)
{
    PUCHAR rowOut = pPacked + static_cast<SIZE_T>(ulRow) * 3 * ulWidth;
    for (ULONG group = ulFirstGroup; group < ulEndGroup; ++group) {
        IpColorPassGroupReference(pPaddedBayer, pGreenPlane, ulWidth, ulRow, group, ucPhase, psColor,
                                  rowOut + group * 24);
    }
}

void IpColorPassReference(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked,
                          ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase,
                          const tagIpColorKernel* psColor)
{
    for (ULONG row = 0; row < ulHeight; ++row) {
        IpColorPassRowReference(pPaddedBayer, pGreenPlane, pPacked, ulWidth, row, 0, ulWidth / 8,
                                ucPhase, psColor);
    }
}
