// The Sobel sketch, one kernel text compiled once per vector width. The
// including file defines VE_SKETCH_NAMESPACE, VE_SKETCH_VECTOR (the vector
// type), VE_SKETCH_WORDS(op), VE_SKETCH_BYTES(op) and VE_SKETCH_WHOLE(op)
// (the instruction set's intrinsic of `op` on 16-bit words, on bytes, on the
// whole register) and VeAbs16 (absolute words): exact word arithmetic in
// every set, so every width gives the same bytes. AVX2 unpacks and packs per
// 128-bit lane, so the words of a lane stay in it as with SSE2.

namespace VE_SKETCH_NAMESPACE {

using VeVector = VE_SKETCH_VECTOR;

inline VeVector LoadWords(const UCHAR* pucAt, bool bHigh)
{
    const VeVector bytes = VE_SKETCH_WHOLE(loadu)(reinterpret_cast<const VeVector*>(pucAt));
    const VeVector zero = VE_SKETCH_WHOLE(setzero)();
    return bHigh ? VE_SKETCH_BYTES(unpackhi)(bytes, zero) : VE_SKETCH_BYTES(unpacklo)(bytes, zero);
}

inline VeVector Add(VeVector a, VeVector b) { return VE_SKETCH_WORDS(add)(a, b); }
inline VeVector Twice(VeVector a) { return VE_SKETCH_WORDS(slli)(a, 1); }

// The sketch values (words) of the bytes at pucAt: the low or the high half of
// each 128-bit lane.
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
    const VeVector gx = VE_SKETCH_WORDS(sub)(Add(Add(upRight, downRight), Twice(right)),
                                             Add(Add(upLeft, downLeft), Twice(left)));
    const VeVector gy = VE_SKETCH_WORDS(sub)(Add(Add(downLeft, downRight), Twice(down)),
                                             Add(Add(upLeft, upRight), Twice(up)));
    const VeVector edge = VE_SKETCH_WORDS(srl)(Add(VeAbs16(gx), VeAbs16(gy)), shift);
    const VeVector white = VE_SKETCH_WORDS(set1)(255);
    return VE_SKETCH_WORDS(sub)(white, VE_SKETCH_WORDS(min)(edge, white));
}

// Bytes [lFrom, lTo) a vector at a time; returns the first byte not done.
inline LONG_PTR SketchBlocks(const UCHAR* pucSource, PUCHAR pucDestination, LONG_PTR lStride, LONG_PTR lFrom,
                             LONG_PTR lTo, ULONG ulShift)
{
    constexpr LONG_PTR kBlockBytes = sizeof(VeVector);
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(ulShift));
    LONG_PTR i = lFrom;
    for (; i + kBlockBytes <= lTo; i += kBlockBytes) {
        const VeVector low = SketchWords(pucSource + i, static_cast<SIZE_T>(lStride), false, shift);
        const VeVector high = SketchWords(pucSource + i, static_cast<SIZE_T>(lStride), true, shift);
        VE_SKETCH_WHOLE(storeu)(reinterpret_cast<VeVector*>(pucDestination + i), VE_SKETCH_WORDS(packus)(low, high));
    }
    return i;
}

} // namespace VE_SKETCH_NAMESPACE

#undef VE_SKETCH_NAMESPACE
#undef VE_SKETCH_VECTOR
#undef VE_SKETCH_WORDS
#undef VE_SKETCH_BYTES
#undef VE_SKETCH_WHOLE
