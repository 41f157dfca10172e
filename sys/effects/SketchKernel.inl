// The Sobel sketch, one kernel text compiled once per vector width. The
// including file defines, in namespace VE_SKETCH_NAMESPACE, the vector type
// VeVector, SKETCH_BLOCK_BYTES (bytes per vector) and the operations on 16-bit
// words below (VeLoad, VeStore, VeZero, VeUnpackLow/High, VeAdd16, VeSub16,
// VeDouble16, VeShiftRight16, VeAbs16, VeMin16, VeSet16, VePackUnsigned):
// exact word arithmetic in every set, so every width gives the same bytes.

namespace VE_SKETCH_NAMESPACE {

inline VeVector LoadWords(const UCHAR* pucAt, bool bHigh)
{
    const VeVector bytes = VeLoad(pucAt);
    return bHigh ? VeUnpackHigh(bytes, VeZero()) : VeUnpackLow(bytes, VeZero());
}

// The sketch values (words) of the bytes at pucAt: half a vector of bytes,
// the low or the high one of each 128-bit lane.
inline VeVector SketchWords(const UCHAR* pucAt, SIZE_T cbStride, bool bHigh, __m128i shift)
{
    const VeVector upLeft = LoadWords(pucAt - cbStride - 3, bHigh);
    const VeVector up = LoadWords(pucAt - cbStride, bHigh);
    const VeVector upRight = LoadWords(pucAt - cbStride + 3, bHigh);
    const VeVector left = LoadWords(pucAt - 3, bHigh);
    const VeVector right = LoadWords(pucAt + 3, bHigh);
    const VeVector downLeft = LoadWords(pucAt + cbStride - 3, bHigh);
    const VeVector down = LoadWords(pucAt + cbStride, bHigh);
    const VeVector downRight = LoadWords(pucAt + cbStride + 3, bHigh);
    const VeVector gx = VeSub16(VeAdd16(VeAdd16(upRight, downRight), VeDouble16(right)),
                                VeAdd16(VeAdd16(upLeft, downLeft), VeDouble16(left)));
    const VeVector gy = VeSub16(VeAdd16(VeAdd16(downLeft, downRight), VeDouble16(down)),
                                VeAdd16(VeAdd16(upLeft, upRight), VeDouble16(up)));
    const VeVector edge = VeShiftRight16(VeAdd16(VeAbs16(gx), VeAbs16(gy)), shift);
    return VeSub16(VeSet16(255), VeMin16(edge, VeSet16(255)));
}

// Bytes [lFrom, lTo) a vector at a time; returns the first byte not done.
inline LONG_PTR SketchBlocks(const UCHAR* pucSource, PUCHAR pucDestination, LONG_PTR lStride, LONG_PTR lFrom,
                             LONG_PTR lTo, ULONG ulShift)
{
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(ulShift));
    LONG_PTR i = lFrom;
    for (; i + SKETCH_BLOCK_BYTES <= lTo; i += SKETCH_BLOCK_BYTES) {
        const VeVector low = SketchWords(pucSource + i, static_cast<SIZE_T>(lStride), false, shift);
        const VeVector high = SketchWords(pucSource + i, static_cast<SIZE_T>(lStride), true, shift);
        VeStore(pucDestination + i, VePackUnsigned(low, high));
    }
    return i;
}

} // namespace VE_SKETCH_NAMESPACE
