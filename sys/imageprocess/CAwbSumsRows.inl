// The grey-sample sums kBlocks blocks at a time, written once for every
// register width. Included by CAwbSumsSse2.cpp and CAwbSumsAvx2.cpp inside
// their instruction-set block, after the lane operations of
// platform/SimdLanes.inl, LessThan and GreaterThan (ordered comparisons of
// single-precision lanes) and AWB_SIMD_NAME (the suffix of the entry point).

namespace {

// One block a 32-bit lane.
constexpr ULONG kBlocks = sizeof(Lanes) / sizeof(ULONG);

// The grey test is made in single precision, kBlocks blocks at a time, as the
// least of five margins (each one is >= 0 when its limit holds). The margins
// are at most about 2^14 in size, so single precision lands within 1/64 of
// the double-precision margins; a group where any lane's least margin is
// nearer zero than that is decided again block by block in double precision,
// so every block is counted exactly as the plain loop counts it.
constexpr float kUndecidedMargin = 1.0f / 16.0f;

// The sample at `offset` of kBlocks consecutive blocks, as 32-bit integers:
// read from the sample itself, the samples are bytes 0, 4, 8, ... The read
// stays inside the block rows' top two lines.
inline Lanes Samples(const UCHAR* cells, ULONG offset)
{
    const Lanes bytes = LoadBytes(cells + offset);
    return And(bytes, Set32(0xFF));
}

inline FloatLanes Splat(float k) { return SIMD_OP(set1_ps)(k); }
inline FloatLanes Add(FloatLanes a, FloatLanes b) { return SIMD_OP(add_ps)(a, b); }
inline FloatLanes Sub(FloatLanes a, FloatLanes b) { return SIMD_OP(sub_ps)(a, b); }
inline FloatLanes Mul(FloatLanes a, FloatLanes b) { return SIMD_OP(mul_ps)(a, b); }
inline FloatLanes Mul(float k, FloatLanes v) { return Mul(Splat(k), v); }
inline FloatLanes Min(FloatLanes a, FloatLanes b) { return SIMD_OP(min_ps)(a, b); }
inline FloatLanes Abs(FloatLanes value) { return SIMD_OP(andnot_ps)(Splat(-0.0f), value); }

struct tagGreyLimits {
    FloatLanes kr, kb, upper, lower, u, v, uv;
};

// The least of the five margins of each block.
inline FloatLanes LeastMargin(const tagGreyLimits& l, FloatLanes red, FloatLanes green, FloatLanes blue)
{
    const FloatLanes luma = Add(Add(Mul(0.299f, red), Mul(0.587f, green)), Mul(0.114f, blue));
    const FloatLanes redScaled = Mul(red, l.kr);
    const FloatLanes blueScaled = Mul(blue, l.kb);
    const FloatLanes u = Sub(Mul(0.5f, blueScaled), Add(Mul(0.169f, redScaled), Mul(0.331f, green)));
    const FloatLanes v = Sub(Sub(Mul(0.5f, redScaled), Mul(0.418f, green)), Mul(0.082f, blueScaled));
    FloatLanes margin = Min(Sub(l.upper, luma), Sub(luma, l.lower));
    margin = Min(margin, Sub(l.u, Abs(u)));
    margin = Min(margin, Sub(l.v, Abs(v)));
    return Min(margin, Sub(l.uv, Abs(Add(u, v))));
}

} // namespace

// Sums of the raw samples are kept as integers and scaled by the gains at the
// end, which gives the same doubles as adding each sample times its gain.
void AWB_SIMD_NAME(AwbSumGrey)(const UCHAR* pBayer, const tagAwbSampling& s, double adSums[3])
{
    const tagGreyLimits limits = {Splat(static_cast<float>(s.dKr)),        Splat(static_cast<float>(s.dKb)),
                                  Splat(static_cast<float>(s.dUpperLuma)), Splat(static_cast<float>(s.dLowerLuma)),
                                  Splat(static_cast<float>(s.dULimit)),    Splat(static_cast<float>(s.dVLimit)),
                                  Splat(static_cast<float>(s.dUVLimit))};
    Lanes sumR = Zero(), sumG = Zero(), sumB = Zero();
    const ULONG vectorBlocks = s.ulBlocksPerRow - s.ulBlocksPerRow % kBlocks;
    for (ULONG blockRow = 0; blockRow < s.ulBlockRows; ++blockRow) {
        const UCHAR* top = pBayer + static_cast<SIZE_T>(blockRow) * 4 * s.ulWidth;
        for (ULONG block = 0; block < vectorBlocks; block += kBlocks) {
            const UCHAR* cells = top + block * 4;
            const Lanes red = Samples(cells, s.ulRedOffset);
            const Lanes green = Samples(cells, s.ulGreenOffset);
            const Lanes blue = Samples(cells, s.ulBlueOffset);
            const FloatLanes margin = LeastMargin(limits, ToFloat(red), ToFloat(green), ToFloat(blue));
            const FloatLanes undecided = LessThan(Abs(margin), Splat(kUndecidedMargin));
            if (SIMD_OP(movemask_ps)(undecided) != 0) {
                for (ULONG each = 0; each < kBlocks; ++each) {
                    AwbSumGreyBlock(cells + each * 4, s, adSums);
                }
                continue;
            }
            const Lanes counted = SIMD_WHOLE(castps_si)(GreaterThan(margin, SIMD_OP(setzero_ps)()));
            sumR = Add32(sumR, And(counted, red));
            sumG = Add32(sumG, And(counted, green));
            sumB = Add32(sumB, And(counted, blue));
        }
        for (ULONG block = vectorBlocks; block < s.ulBlocksPerRow; ++block) {
            AwbSumGreyBlock(top + block * 4, s, adSums);
        }
    }
    alignas(sizeof(Lanes)) ULONG lanes[3][kBlocks];
    SIMD_WHOLE(store_si)(reinterpret_cast<Lanes*>(lanes[0]), sumR);
    SIMD_WHOLE(store_si)(reinterpret_cast<Lanes*>(lanes[1]), sumG);
    SIMD_WHOLE(store_si)(reinterpret_cast<Lanes*>(lanes[2]), sumB);
    for (int channel = 0; channel < 3; ++channel) {
        ULONGLONG total = 0;
        for (ULONG lane = 0; lane < kBlocks; ++lane) {
            total += lanes[channel][lane];
        }
        adSums[channel] += static_cast<double>(total) * s.dGain[channel];
    }
}

