// The grey-sample sums eight blocks at a time, for processors with AVX2 (host
// build only: the Windows image has no AVX2 path, so this file is not part of it).
#include "platform/CpuFeatures.h"
#include <immintrin.h>

#include "imageprocess/CAwbKernels.h"

KORVAL_AVX2_BEGIN

namespace {

// The grey test is made in single precision, eight blocks at a time, as the
// least of five margins (each one is >= 0 when its limit holds). The margins
// are at most about 2^14 in size, so single precision lands within 1/64 of
// the double-precision margins; a group where any lane's least margin is
// nearer zero than that is decided again block by block in double precision,
// so every block is counted exactly as the plain loop counts it.
constexpr float kUndecidedMargin = 1.0f / 16.0f;

// The sample at `offset` of eight consecutive blocks, as 32-bit integers: read
// from the sample itself, the eight samples are bytes 0, 4, ..., 28. The read
// stays inside the block rows' top two lines.
inline __m256i Samples(const UCHAR* cells, ULONG offset)
{
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells + offset));
    return _mm256_and_si256(bytes, _mm256_set1_epi32(0xFF));
}

inline __m256 Abs(__m256 value) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), value); }

inline __m256 Mul(float k, __m256 v) { return _mm256_mul_ps(_mm256_set1_ps(k), v); }

struct tagGreyLimits {
    __m256 kr, kb, upper, lower, u, v, uv;
};

// The least of the five margins of each block.
inline __m256 LeastMargin(const tagGreyLimits& l, __m256 red, __m256 green, __m256 blue)
{
    const __m256 luma = _mm256_add_ps(_mm256_add_ps(Mul(0.299f, red), Mul(0.587f, green)), Mul(0.114f, blue));
    const __m256 redScaled = _mm256_mul_ps(red, l.kr);
    const __m256 blueScaled = _mm256_mul_ps(blue, l.kb);
    const __m256 u = _mm256_sub_ps(Mul(0.5f, blueScaled), _mm256_add_ps(Mul(0.169f, redScaled), Mul(0.331f, green)));
    const __m256 v = _mm256_sub_ps(_mm256_sub_ps(Mul(0.5f, redScaled), Mul(0.418f, green)), Mul(0.082f, blueScaled));
    __m256 margin = _mm256_min_ps(_mm256_sub_ps(l.upper, luma), _mm256_sub_ps(luma, l.lower));
    margin = _mm256_min_ps(margin, _mm256_sub_ps(l.u, Abs(u)));
    margin = _mm256_min_ps(margin, _mm256_sub_ps(l.v, Abs(v)));
    return _mm256_min_ps(margin, _mm256_sub_ps(l.uv, Abs(_mm256_add_ps(u, v))));
}

} // namespace

// Sums of the raw samples are kept as integers and scaled by the gains at the
// end, which gives the same doubles as adding each sample times its gain.
void AwbSumGreyAvx2(const UCHAR* pBayer, const tagAwbSampling& s, double adSums[3])
{
    const tagGreyLimits limits = {_mm256_set1_ps(static_cast<float>(s.dKr)), _mm256_set1_ps(static_cast<float>(s.dKb)),
                                  _mm256_set1_ps(static_cast<float>(s.dUpperLuma)),
                                  _mm256_set1_ps(static_cast<float>(s.dLowerLuma)),
                                  _mm256_set1_ps(static_cast<float>(s.dULimit)),
                                  _mm256_set1_ps(static_cast<float>(s.dVLimit)),
                                  _mm256_set1_ps(static_cast<float>(s.dUVLimit))};
    __m256i sumR = _mm256_setzero_si256(), sumG = _mm256_setzero_si256(), sumB = _mm256_setzero_si256();
    const ULONG vectorBlocks = s.ulBlocksPerRow & ~7u;
    for (ULONG blockRow = 0; blockRow < s.ulBlockRows; ++blockRow) {
        const UCHAR* top = pBayer + static_cast<SIZE_T>(blockRow) * 4 * s.ulWidth;
        for (ULONG block = 0; block < vectorBlocks; block += 8) {
            const UCHAR* cells = top + block * 4;
            const __m256i red = Samples(cells, s.ulRedOffset);
            const __m256i green = Samples(cells, s.ulGreenOffset);
            const __m256i blue = Samples(cells, s.ulBlueOffset);
            const __m256 margin =
                LeastMargin(limits, _mm256_cvtepi32_ps(red), _mm256_cvtepi32_ps(green), _mm256_cvtepi32_ps(blue));
            const __m256 undecided = _mm256_cmp_ps(Abs(margin), _mm256_set1_ps(kUndecidedMargin), _CMP_LT_OQ);
            if (_mm256_movemask_ps(undecided) != 0) {
                for (ULONG each = 0; each < 8; ++each) {
                    AwbSumGreyBlock(cells + each * 4, s, adSums);
                }
                continue;
            }
            const __m256i counted = _mm256_castps_si256(_mm256_cmp_ps(margin, _mm256_setzero_ps(), _CMP_GT_OQ));
            sumR = _mm256_add_epi32(sumR, _mm256_and_si256(counted, red));
            sumG = _mm256_add_epi32(sumG, _mm256_and_si256(counted, green));
            sumB = _mm256_add_epi32(sumB, _mm256_and_si256(counted, blue));
        }
        for (ULONG block = vectorBlocks; block < s.ulBlocksPerRow; ++block) {
            AwbSumGreyBlock(top + block * 4, s, adSums);
        }
    }
    alignas(32) ULONG lanes[3][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[0]), sumR);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[1]), sumG);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[2]), sumB);
    for (int channel = 0; channel < 3; ++channel) {
        ULONGLONG total = 0;
        for (ULONG lane = 0; lane < 8; ++lane) {
            total += lanes[channel][lane];
        }
        adSums[channel] += static_cast<double>(total) * s.dGain[channel];
    }
}

KORVAL_AVX2_END
