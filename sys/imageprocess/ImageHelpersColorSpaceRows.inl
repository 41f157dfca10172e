// BGR24 to I420 rows, written once for every vector width: byte shuffles
// separate the channels, the scaled sums of the rules are formed exactly in
// 32-bit lanes, luma is divided with a multiply-high and checked for the one
// case where the double rule differs from the exact quotient; chroma, which has
// no such case, with a single-precision product that truncates to the exact
// quotient for every n below 2^22 (checked exhaustively).
//
// Included by ImageHelpersColorSpaceAvx2.cpp and ImageHelpersColorSpaceSsse3.cpp,
// which include the lane operations of platform/SimdLanes.inl and define
// LoadLanes (16 bytes from p into each 128-bit lane, the lanes' groups of 16
// pixels 48 bytes apart, an order that the unpacks and packs below give back),
// LoadShuffle (one 16-byte shuffle for every 128-bit lane), StoreChroma and
// IH_SIMD_NAME (the suffix of the entry points).

namespace {

// One pixel a byte lane.
constexpr ULONG kStepPixels = sizeof(Lanes);

struct tagChannels {
    Lanes vBlue;
    Lanes vGreen;
    Lanes vRed;
};

// Byte shuffles that pick channel k of 16 pixels from each of the three
// 16-byte parts of 48 bytes (-1 clears a lane).
struct tagGatherTables {
    alignas(16) char acShuffle[3][3][16];  // [channel][part][lane]
    constexpr tagGatherTables() : acShuffle{}
    {
        for (int k = 0; k < 3; ++k) {
            for (int part = 0; part < 3; ++part) {
                for (int i = 0; i < 16; ++i) {
                    const int lByte = 3 * i + k - 16 * part;
                    acShuffle[k][part][i] = static_cast<char>(lByte >= 0 && lByte < 16 ? lByte : -1);
                }
            }
        }
    }
};
constexpr tagGatherTables kGather;

inline Lanes GatherPart(Lanes vPart, int k, int part)
{
    return SIMD_OP(shuffle_epi8)(vPart, LoadShuffle(kGather.acShuffle[k][part]));
}

inline Lanes Gather(Lanes a, Lanes b, Lanes c, int k)
{
    return Or(Or(GatherPart(a, k, 0), GatherPart(b, k, 1)), GatherPart(c, k, 2));
}

// kStepPixels pixels as three byte vectors, one a channel.
inline tagChannels LoadChannels(const UCHAR* p)
{
    const Lanes a = LoadLanes(p);
    const Lanes b = LoadLanes(p + 16);
    const Lanes c = LoadLanes(p + 32);
    return {Gather(a, b, c, 0), Gather(a, b, c, 1), Gather(a, b, c, 2)};
}

// 299 R + 587 G + 114 B + 499 for pixels given as (R, G) and (B, 1) pairs.
inline Lanes ScaledLuma(Lanes vRedGreen, Lanes vBlueOne)
{
    return Add32(MultiplyAdd16(vRedGreen, Set32(587 << 16 | 299)), MultiplyAdd16(vBlueOne, Set32(499 << 16 | 114)));
}

// Luma of pixels given as 16-bit lanes, and in pvWhole the lanes whose scaled
// sum is a multiple of 1000 (where the double rule must decide).
inline Lanes Luma16(Lanes vRed, Lanes vGreen, Lanes vBlue, Lanes* pvWhole)
{
    const Lanes vOne = Set16(1);
    const Lanes vLo = ScaledLuma(UnpackLow16(vRed, vGreen), UnpackLow16(vBlue, vOne));
    const Lanes vHi = ScaledLuma(UnpackHigh16(vRed, vGreen), UnpackHigh16(vBlue, vOne));
    // n < 2^18: n >> 3 fits a signed 16-bit lane, and n / 1000 = (n >> 3) / 125.
    const Lanes vEighth = PackSigned32(ShiftRight32<3>(vLo), ShiftRight32<3>(vHi));
    const Lanes vSeven = Set32(7);
    const Lanes vLow = PackSigned32(And(vLo, vSeven), And(vHi, vSeven));
    // floor(m / 125) for m < 2^15 as a multiply-high by ceil(2^22 / 125).
    const Lanes vLuma = ShiftRight16<6>(MultiplyHighUnsigned16(vEighth, Set16(static_cast<SHORT>(33555))));
    *pvWhole = And(Equal16(MultiplyLow16(vLuma, Set16(125)), vEighth), Equal16(vLow, Zero()));
    return vLuma;
}

inline Lanes DivideBy10000(Lanes vScaled)
{
    return TruncateFloat(MultiplyFloat(ToFloat(vScaled), 1.0e-4f));
}

// 5000 B - 1687 R - 3313 G + 1284999 and 5000 R - 4187 G - 813 B + 1284999
// over 10000, from (B, R), (R, G), (G, 0) and (B, 0) pairs.
inline void Chroma8(Lanes vBR, Lanes vRG, Lanes vG0, Lanes vB0, Lanes* pvU, Lanes* pvV)
{
    const Lanes vOffset = Set32(1284999);
    const Lanes vScaledU = Add32(Add32(MultiplyAdd16(vBR, Set32(static_cast<int>(0xF969u << 16 | 5000))),
                                       MultiplyAdd16(vG0, Set32(-3313 & 0xFFFF))),
                                 vOffset);
    const Lanes vScaledV = Add32(Add32(MultiplyAdd16(vRG, Set32(static_cast<int>((-4187 & 0xFFFF) << 16 | 5000))),
                                       MultiplyAdd16(vB0, Set32(-813 & 0xFFFF))),
                                 vOffset);
    *pvU = DivideBy10000(vScaledU);
    *pvV = DivideBy10000(vScaledV);
}

// The start of the step after the one at i (ulCount when done); a row that is
// not a whole number of steps ends with a step moved back to end at the row's
// end, writing some values again.
inline ULONG NextStep(ULONG i, ULONG ulCount)
{
    const ULONG ulNext = i + kStepPixels;
    return ulNext < ulCount && ulNext + kStepPixels > ulCount ? ulCount - kStepPixels : ulNext;
}

// Pixels the vector step cannot decide take the double rule.
inline void FixWholeLumas(const UCHAR* pucRow, UCHAR* pucY, ULONG ulWhole)
{
    while (ulWhole != 0) {
        const int k = __builtin_ctz(ulWhole);
        ulWhole &= ulWhole - 1;
        const UCHAR* p = pucRow + 3 * k;
        pucY[k] = LumaOfPixel(p[0], p[1], p[2]);
    }
}

// Rows shorter than one step.
void LumaRowShort(const UCHAR* pucRow, UCHAR* pucY, ULONG ulCount)
{
    for (ULONG i = 0; i < ulCount; ++i) {
        pucY[i] = LumaOfPixel(pucRow[3 * i], pucRow[3 * i + 1], pucRow[3 * i + 2]);
    }
}

void ChromaRowShort(const UCHAR* pucRow, UCHAR* pucU, UCHAR* pucV, ULONG ulCount)
{
    for (ULONG i = 0; i < ulCount / 2; ++i) {
        const LONG b = pucRow[6 * i], g = pucRow[6 * i + 1], r = pucRow[6 * i + 2];
        pucU[i] = static_cast<UCHAR>(static_cast<ULONG>(5000 * b - 1687 * r - 3313 * g + 1284999) / 10000);
        pucV[i] = static_cast<UCHAR>(static_cast<ULONG>(5000 * r - 4187 * g - 813 * b + 1284999) / 10000);
    }
}

} // namespace

void IH_SIMD_NAME(GreenRow)(const UCHAR* pucRow, UCHAR* pucGreen, ULONG ulCount)
{
    if (ulCount < kStepPixels) {
        for (ULONG i = 0; i < ulCount; ++i) {
            pucGreen[i] = pucRow[3 * i + 1];
        }
        return;
    }
    for (ULONG i = 0; i < ulCount; i = NextStep(i, ulCount)) {
        StoreBytes(pucGreen + i, LoadChannels(pucRow + 3 * i).vGreen);
    }
}

namespace {

inline void LumaStep(const tagChannels& s, const UCHAR* pucRow, UCHAR* pucY, ULONG i)
{
    const Lanes vZero = Zero();
    Lanes vWholeLo, vWholeHi;
    const Lanes vLumaLo = Luma16(UnpackLow8(s.vRed, vZero), UnpackLow8(s.vGreen, vZero), UnpackLow8(s.vBlue, vZero),
                                 &vWholeLo);
    const Lanes vLumaHi = Luma16(UnpackHigh8(s.vRed, vZero), UnpackHigh8(s.vGreen, vZero),
                                 UnpackHigh8(s.vBlue, vZero), &vWholeHi);
    StoreBytes(pucY + i, PackUnsigned16(vLumaLo, vLumaHi));
    const ULONG ulWhole = MoveMask8(PackSigned16(vWholeLo, vWholeHi));
    if (ulWhole != 0) {
        FixWholeLumas(pucRow + 3 * i, pucY + i, ulWhole);
    }
}

// Chroma of the step's even pixels.
inline void ChromaStep(const tagChannels& s, UCHAR* pucU, UCHAR* pucV, ULONG i)
{
    const Lanes vEven = Set16(0x00FF);
    const Lanes vZero = Zero();
    const Lanes vBlue = And(s.vBlue, vEven);
    const Lanes vGreen = And(s.vGreen, vEven);
    const Lanes vRed = And(s.vRed, vEven);
    Lanes vULo, vVLo, vUHi, vVHi;
    Chroma8(UnpackLow16(vBlue, vRed), UnpackLow16(vRed, vGreen), UnpackLow16(vGreen, vZero),
            UnpackLow16(vBlue, vZero), &vULo, &vVLo);
    Chroma8(UnpackHigh16(vBlue, vRed), UnpackHigh16(vRed, vGreen), UnpackHigh16(vGreen, vZero),
            UnpackHigh16(vBlue, vZero), &vUHi, &vVHi);
    StoreChroma(pucU + i / 2, pucV + i / 2, PackSigned32(vULo, vUHi), PackSigned32(vVLo, vVHi));
}

} // namespace

void IH_SIMD_NAME(LumaRow)(const UCHAR* pucRow, UCHAR* pucY, ULONG ulCount)
{
    if (ulCount < kStepPixels) {
        LumaRowShort(pucRow, pucY, ulCount);
        return;
    }
    for (ULONG i = 0; i < ulCount; i = NextStep(i, ulCount)) {
        LumaStep(LoadChannels(pucRow + 3 * i), pucRow, pucY, i);
    }
}

// A row that has chroma: luma and chroma from one gather of each step's channels.
void IH_SIMD_NAME(LumaChromaRow)(const UCHAR* pucRow, UCHAR* pucY, UCHAR* pucU, UCHAR* pucV, ULONG ulCount)
{
    if (ulCount < kStepPixels) {
        LumaRowShort(pucRow, pucY, ulCount);
        ChromaRowShort(pucRow, pucU, pucV, ulCount);
        return;
    }
    for (ULONG i = 0; i < ulCount; i = NextStep(i, ulCount)) {
        const tagChannels s = LoadChannels(pucRow + 3 * i);
        LumaStep(s, pucRow, pucY, i);
        ChromaStep(s, pucU, pucV, i);
    }
}
