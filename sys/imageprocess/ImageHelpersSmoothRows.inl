// The 1 2 1 / 2 4 2 / 1 2 1 smoother on one 16-bit lane a column, written once
// for every vector width. Included by ImageHelpersSmooth.cpp (SSE2) and
// ImageHelpersSmoothAvx2.cpp after the lane operations of platform/SimdLanes.inl
// and a Widen (one lane's worth of bytes from q as 16-bit lanes), with
// IH_SIMD_NAME giving the suffix of the entry point.

namespace {

constexpr ULONG kSmoothColumns = sizeof(Lanes) / sizeof(SHORT);

inline Lanes RowSum(const UCHAR* p)
{
    const Lanes vMid = Widen(p);
    return Add16(Add16(Widen(p - 1), Widen(p + 1)), Add16(vMid, vMid));
}

} // namespace

ULONG IH_SIMD_NAME(SmoothRow)(const UCHAR* pucRow, SHORT* psRow, ULONG ulWidth, ULONG c)
{
    for (; c + kSmoothColumns + 1 <= ulWidth; c += kSmoothColumns) {
        const Lanes vMid = RowSum(pucRow + c);
        Lanes vSum = Add16(RowSum(pucRow - ulWidth + c), RowSum(pucRow + ulWidth + c));
        vSum = Add16(vSum, Add16(vMid, vMid));
        StoreBytes(reinterpret_cast<UCHAR*>(psRow + c), ShiftRight16<4>(vSum));
    }
    return c;
}
