// The defect scan's pre-filters, written once for every vector width: which
// pixels are flat and stand out, or are already remembered, and so need the
// full rule. Included by CDefect.cpp (SSE2) and CDefectAvx2.cpp after the lane
// operations of platform/SimdLanes.inl, with DEFECT_SIMD_NAME giving the
// suffix of the entry points.

namespace {

// Every lane's bit of a byte mask.
constexpr unsigned kAllLanes = sizeof(Lanes) == 32 ? 0xFFFFFFFFu : (1u << sizeof(Lanes)) - 1;

inline Lanes AbsoluteDifference8(Lanes a, Lanes b)
{
    return Or(SubtractSaturatedUnsigned8(a, b), SubtractSaturatedUnsigned8(b, a));
}

inline Lanes Threshold(UCHAR ucValue) { return Set8(static_cast<char>(ucValue)); }

} // namespace

unsigned DEFECT_SIMD_NAME(DefectActiveLanes)(const UCHAR* p, const UCHAR* pucConfidence, LONG_PTR lStride,
                                             const tagDefectThresholds& sThresholds)
{
    // Same-colour neighbours two pixels away, in ring order from the upper left.
    const LONG_PTR alOffset[8] = {-2 * lStride - 2, -2 * lStride, -2 * lStride + 2, 2,
                                  2 * lStride + 2,  2 * lStride,  2 * lStride - 2,  -2};
    const Lanes x = LoadBytes(p);
    Lanes vPrevious = LoadBytes(p + alOffset[7]);
    Lanes vRough = Zero();
    Lanes vAbove = Set8(-1);
    Lanes vBelow = Set8(-1);
    for (int k = 0; k < 8; ++k) {
        const Lanes n = LoadBytes(p + alOffset[k]);
        vRough = MaxUnsigned8(vRough, AbsoluteDifference8(vPrevious, n));
        vAbove = MinUnsigned8(vAbove, SubtractSaturatedUnsigned8(x, n));
        vBelow = MinUnsigned8(vBelow, SubtractSaturatedUnsigned8(n, x));
        vPrevious = n;
    }
    const Lanes vZero = Zero();
    const Lanes vAll = Set8(-1);
    const Lanes vFlat =
        Equal8(SubtractSaturatedUnsigned8(vRough, Threshold(static_cast<UCHAR>(sThresholds.ucFlatBelow - 1))), vZero);
    const Lanes vHot = SubtractSaturatedUnsigned8(vAbove, Threshold(sThresholds.ucHot));
    const Lanes vCold = SubtractSaturatedUnsigned8(vBelow, Threshold(sThresholds.ucCold));
    const Lanes vStandsOut = Xor(Equal8(Or(vHot, vCold), vZero), vAll);
    const Lanes vMarked = Xor(Equal8(LoadBytes(pucConfidence), vZero), vAll);
    return static_cast<unsigned>(MoveMask8(Or(vMarked, And(vFlat, vStandsOut))));
}

unsigned DEFECT_SIMD_NAME(DefectCandidateLanes)(const UCHAR* p, const UCHAR* pucConfidence,
                                                const tagDefectThresholds& sThresholds)
{
    const Lanes x = LoadBytes(p);
    const Lanes vLeft = LoadBytes(p - 2);
    const Lanes vRight = LoadBytes(p + 2);
    const Lanes vHot = SubtractSaturatedUnsigned8(SubtractSaturatedUnsigned8(x, MaxUnsigned8(vLeft, vRight)),
                                                  Threshold(sThresholds.ucHot));
    const Lanes vCold = SubtractSaturatedUnsigned8(SubtractSaturatedUnsigned8(MinUnsigned8(vLeft, vRight), x),
                                                   Threshold(sThresholds.ucCold));
    const Lanes vAny = Or(Or(vHot, vCold), LoadBytes(pucConfidence));
    return kAllLanes & ~static_cast<unsigned>(MoveMask8(Equal8(vAny, Zero())));
}
