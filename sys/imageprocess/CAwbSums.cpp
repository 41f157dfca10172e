#include "platform/CpuFeatures.h"
#include <cmath>
#include <immintrin.h>

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
    if (luma <= s.dUpperLuma && luma >= s.dLowerLuma && std::fabs(u) <= s.dULimit && std::fabs(v) <= s.dVLimit &&
        std::fabs(u + v) <= s.dUVLimit) {
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

KORVAL_AVX2_BEGIN

namespace {

// The sample at `offset` of four consecutive blocks, as doubles: read from
// the sample itself, the four samples are bytes 0, 4, 8 and 12. The read stays
// inside the block rows' four lines.
inline __m256d Samples(const UCHAR* cells, ULONG offset)
{
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + offset));
    return _mm256_cvtepi32_pd(_mm_and_si128(bytes, _mm_set1_epi32(0xFF)));
}

inline __m256d Abs(__m256d value) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), value); }

inline __m256d Mul(double k, __m256d v) { return _mm256_mul_pd(_mm256_set1_pd(k), v); }

} // namespace

void AwbSumGreyAvx2(const UCHAR* pBayer, const tagAwbSampling& s, double adSums[3])
{
    __m256d sumR = _mm256_setzero_pd(), sumG = _mm256_setzero_pd(), sumB = _mm256_setzero_pd();
    ULONG vectorBlocks = s.ulBlocksPerRow & ~3u;
    for (ULONG blockRow = 0; blockRow < s.ulBlockRows; ++blockRow) {
        const UCHAR* top = pBayer + static_cast<SIZE_T>(blockRow) * 4 * s.ulWidth;
        for (ULONG block = 0; block < vectorBlocks; block += 4) {
            const UCHAR* cells = top + block * 4;
            __m256d red = Samples(cells, s.ulRedOffset);
            __m256d green = Samples(cells, s.ulGreenOffset);
            __m256d blue = Samples(cells, s.ulBlueOffset);
            __m256d luma = _mm256_add_pd(_mm256_add_pd(Mul(0.299, red), Mul(0.587, green)), Mul(0.114, blue));
            __m256d redScaled = _mm256_mul_pd(red, _mm256_set1_pd(s.dKr));
            __m256d blueScaled = _mm256_mul_pd(blue, _mm256_set1_pd(s.dKb));
            __m256d u = _mm256_sub_pd(Mul(0.5, blueScaled), _mm256_add_pd(Mul(0.169, redScaled), Mul(0.331, green)));
            __m256d v = _mm256_sub_pd(_mm256_sub_pd(Mul(0.5, redScaled), Mul(0.418, green)), Mul(0.082, blueScaled));
            __m256d counted = _mm256_and_pd(_mm256_cmp_pd(luma, _mm256_set1_pd(s.dUpperLuma), _CMP_LE_OQ),
                                            _mm256_cmp_pd(luma, _mm256_set1_pd(s.dLowerLuma), _CMP_GE_OQ));
            counted = _mm256_and_pd(counted, _mm256_cmp_pd(Abs(u), _mm256_set1_pd(s.dULimit), _CMP_LE_OQ));
            counted = _mm256_and_pd(counted, _mm256_cmp_pd(Abs(v), _mm256_set1_pd(s.dVLimit), _CMP_LE_OQ));
            counted = _mm256_and_pd(counted, _mm256_cmp_pd(Abs(_mm256_add_pd(u, v)), _mm256_set1_pd(s.dUVLimit), _CMP_LE_OQ));
            sumR = _mm256_add_pd(sumR, _mm256_and_pd(counted, _mm256_mul_pd(red, _mm256_set1_pd(s.dGain[0]))));
            sumG = _mm256_add_pd(sumG, _mm256_and_pd(counted, _mm256_mul_pd(green, _mm256_set1_pd(s.dGain[1]))));
            sumB = _mm256_add_pd(sumB, _mm256_and_pd(counted, _mm256_mul_pd(blue, _mm256_set1_pd(s.dGain[2]))));
        }
        for (ULONG block = vectorBlocks; block < s.ulBlocksPerRow; ++block) {
            AwbSumGreyBlock(top + block * 4, s, adSums);
        }
    }
    alignas(32) double lanes[3][4];
    _mm256_store_pd(lanes[0], sumR);
    _mm256_store_pd(lanes[1], sumG);
    _mm256_store_pd(lanes[2], sumB);
    for (int channel = 0; channel < 3; ++channel) {
        adSums[channel] += (lanes[channel][0] + lanes[channel][1]) + (lanes[channel][2] + lanes[channel][3]);
    }
}

KORVAL_AVX2_END
