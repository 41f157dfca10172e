#include "runtime/KernelMath.h"

#include "imageprocess/CAwbKernels.h"

void AwbSumGreyBlock(const UCHAR* pCell, const tagAwbSampling& s, double adSums[3])
{
    double red = pCell[s.ulRedOffset];
    double green = pCell[s.ulGreenOffset];
    double blue = pCell[s.ulBlueOffset];
    double luma = 0.299 * red + 0.587 * green + 0.114 * blue;
    double redScaled = red * s.dKr;
    double blueScaled = blue * s.dKb;
    double u = 0.5 * blueScaled - (0.169 * redScaled + 0.331 * green);
    double v = 0.5 * redScaled - 0.418 * green - 0.082 * blueScaled;
    if (luma <= s.dUpperLuma && luma >= s.dLowerLuma && KorvalFabs(u) <= s.dULimit && KorvalFabs(v) <= s.dVLimit &&
        KorvalFabs(u + v) <= s.dUVLimit) {
        adSums[0] += red * s.dGain[0];
        adSums[1] += green * s.dGain[1];
        adSums[2] += blue * s.dGain[2];
    }
}

void AwbSumGreyReference(const UCHAR* pBayer, const tagAwbSampling& s, double adSums[3])
{
    for (ULONG blockRow = 0; blockRow < s.ulBlockRows; ++blockRow) {
        const UCHAR* top = pBayer + static_cast<SIZE_T>(blockRow) * 4 * s.ulWidth;
        for (ULONG block = 0; block < s.ulBlocksPerRow; ++block) {
            AwbSumGreyBlock(top + block * 4, s, adSums);
        }
    }
}
