// The conversion sixteen pixels at a time with SSE2: chroma terms from byte
// tables, luma plus term with unsigned saturation (exactly the clamp to
// 0..255), and the three colour planes interleaved into 48 bytes of BGR.
// Each block of chroma terms serves the two luma rows that share it; pixels
// past the last whole block of 16 take the per-pixel path with the same tables.
#include "control/I420ToBgr.h"
#include "platform/KernelFloatingPoint.h"

#include "control/I420ToBgrKernels.h"
#include "platform/CpuFeatures.h"

#include <emmintrin.h>

namespace {

constexpr ULONG BLOCK_PIXELS = 16;
constexpr ULONG BLOCK_CHROMA = BLOCK_PIXELS / 2;
constexpr UCHAR NEUTRAL_CHROMA = 128;

struct tagI420Frame {
    const UCHAR* pY;
    const UCHAR* pU;
    const UCHAR* pV;
    ULONG ulWidth, ulHeight;
    ULONG ulChromaWidth, ulChromaHeight;
    PUCHAR pOut;
};

} // namespace

KORVAL_SSE2_BEGIN

namespace {

struct tagTermBlock {
    __m128i Blue, Green, Red; // eight 16-bit terms each
};
static_assert(sizeof(tagTermBlock) == 48);

tagTermBlock LoadTerms(const UCHAR* U, const UCHAR* V)
{
    alignas(16) SHORT blue[BLOCK_CHROMA];
    alignas(16) SHORT green[BLOCK_CHROMA];
    alignas(16) SHORT red[BLOCK_CHROMA];
    for (ULONG i = 0; i < BLOCK_CHROMA; ++i) {
        blue[i] = CHROMA_TABLES.sBlue[U[i]];
        green[i] = static_cast<SHORT>(CHROMA_TABLES.sGreenU[U[i]] - CHROMA_TABLES.sGreenV[V[i]]);
        red[i] = CHROMA_TABLES.sRed[V[i]];
    }
    return {_mm_load_si128(reinterpret_cast<const __m128i*>(blue)),
            _mm_load_si128(reinterpret_cast<const __m128i*>(green)),
            _mm_load_si128(reinterpret_cast<const __m128i*>(red))};
}

// Four pixels held as B G R 0 in 32-bit lanes become 12 bytes at the bottom.
__m128i PackFourPixels(__m128i Pixels)
{
    const __m128i firstOfLane = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i secondOfLane = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000), 0x0000FFFF,
                                               static_cast<int>(0xFF000000));
    const __m128i sixBytes = _mm_or_si128(_mm_and_si128(Pixels, firstOfLane),
                                          _mm_and_si128(_mm_srli_epi64(Pixels, 8), secondOfLane));
    const __m128i lowLane = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
    const __m128i highLane = _mm_set_epi32(0x0000FFFF, -1, 0, 0);
    return _mm_or_si128(_mm_and_si128(sixBytes, lowLane), _mm_srli_si128(_mm_and_si128(sixBytes, highLane), 2));
}

VOID StoreBgr16(PUCHAR Out, __m128i Blue, __m128i Green, __m128i Red)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i blueGreenLow = _mm_unpacklo_epi8(Blue, Green);
    const __m128i blueGreenHigh = _mm_unpackhi_epi8(Blue, Green);
    const __m128i redLow = _mm_unpacklo_epi8(Red, zero);
    const __m128i redHigh = _mm_unpackhi_epi8(Red, zero);
    const __m128i part0 = PackFourPixels(_mm_unpacklo_epi16(blueGreenLow, redLow));
    const __m128i part1 = PackFourPixels(_mm_unpackhi_epi16(blueGreenLow, redLow));
    const __m128i part2 = PackFourPixels(_mm_unpacklo_epi16(blueGreenHigh, redHigh));
    const __m128i part3 = PackFourPixels(_mm_unpackhi_epi16(blueGreenHigh, redHigh));
    auto* out = reinterpret_cast<__m128i*>(Out);
    _mm_storeu_si128(out, _mm_or_si128(part0, _mm_slli_si128(part1, 12)));
    _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(part1, 4), _mm_slli_si128(part2, 8)));
    _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(part2, 8), _mm_slli_si128(part3, 4)));
}

__m128i AddAndClamp(__m128i LumaLow, __m128i LumaHigh, __m128i Terms)
{
    // Each term serves the two pixels of its pair.
    const __m128i low = _mm_add_epi16(LumaLow, _mm_unpacklo_epi16(Terms, Terms));
    const __m128i high = _mm_add_epi16(LumaHigh, _mm_unpackhi_epi16(Terms, Terms));
    return _mm_packus_epi16(low, high);
}

VOID ConvertBlock(const UCHAR* Luma, const tagTermBlock& Terms, PUCHAR Out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Luma));
    const __m128i lumaLow = _mm_unpacklo_epi8(luma, zero);
    const __m128i lumaHigh = _mm_unpackhi_epi8(luma, zero);
    StoreBgr16(Out, AddAndClamp(lumaLow, lumaHigh, Terms.Blue), AddAndClamp(lumaLow, lumaHigh, Terms.Green),
               AddAndClamp(lumaLow, lumaHigh, Terms.Red));
}

} // namespace

KORVAL_SSE2_END

namespace {

VOID ConvertPixel(UCHAR Luma, UCHAR U, UCHAR V, PUCHAR Out)
{
    Out[0] = ClampToByte(Luma + CHROMA_TABLES.sBlue[U]);
    Out[1] = ClampToByte(Luma + CHROMA_TABLES.sGreenU[U] - CHROMA_TABLES.sGreenV[V]);
    Out[2] = ClampToByte(Luma + CHROMA_TABLES.sRed[V]);
}

PUCHAR OutputRow(const tagI420Frame& Frame, ULONG Y)
{
    return Frame.pOut + SIZE_T{Frame.ulHeight - 1 - Y} * 3 * Frame.ulWidth;
}

VOID ConvertPixels(const tagI420Frame& Frame, ULONG Y, ULONG FromX)
{
    const UCHAR* luma = Frame.pY + SIZE_T{Y} * Frame.ulWidth;
    PUCHAR out = OutputRow(Frame, Y);
    const bool grey = Frame.ulChromaWidth == 0 || Frame.ulChromaHeight == 0;
    const SIZE_T chromaRow = grey ? 0 : SIZE_T{ChromaIndex(Y, Frame.ulChromaHeight)} * Frame.ulChromaWidth;
    for (ULONG x = FromX; x < Frame.ulWidth; ++x) {
        const SIZE_T at = grey ? 0 : chromaRow + ChromaIndex(x, Frame.ulChromaWidth);
        ConvertPixel(luma[x], grey ? NEUTRAL_CHROMA : Frame.pU[at], grey ? NEUTRAL_CHROMA : Frame.pV[at],
                     out + SIZE_T{3} * x);
    }
}

} // namespace

KORVAL_SSE2_BEGIN

namespace {

// The whole blocks of rows Y and Y + 1 (when it exists); returns the first
// column not done.
ULONG ConvertBlocksSse2(const tagI420Frame& Frame, ULONG Y)
{
    const bool pair = Y + 1 < Frame.ulHeight;
    ULONG x = 0;
    if (Frame.ulChromaWidth != 0 && Frame.ulChromaHeight != 0) {
        const SIZE_T chromaRow = SIZE_T{ChromaIndex(Y, Frame.ulChromaHeight)} * Frame.ulChromaWidth;
        const UCHAR* luma = Frame.pY + SIZE_T{Y} * Frame.ulWidth;
        PUCHAR out = OutputRow(Frame, Y);
        for (; x + BLOCK_PIXELS <= 2 * Frame.ulChromaWidth; x += BLOCK_PIXELS) {
            const tagTermBlock terms = LoadTerms(Frame.pU + chromaRow + x / 2, Frame.pV + chromaRow + x / 2);
            ConvertBlock(luma + x, terms, out + SIZE_T{3} * x);
            if (pair) {
                ConvertBlock(luma + Frame.ulWidth + x, terms, out - SIZE_T{3} * Frame.ulWidth + SIZE_T{3} * x);
            }
        }
    }
    return x;
}

} // namespace

KORVAL_SSE2_END

namespace {

// Rows Y and Y + 1 (when it exists) share one chroma row.
VOID ConvertRowPair(const tagI420Frame& Frame, ULONG Y)
{
    const bool pair = Y + 1 < Frame.ulHeight;
    const ULONG x = CpuHasSse2() ? ConvertBlocksSse2(Frame, Y) : 0;
    ConvertPixels(Frame, Y, x);
    if (pair) {
        ConvertPixels(Frame, Y + 1, x);
    }
}

} // namespace

bool I420ToBgrBottomUp(const UCHAR* Source, PUCHAR Destination, ULONG Width, ULONG Height)
{
    KorvalVerifyFloatingPointState("I420ToBgrBottomUp");
    if (Source == nullptr || Destination == nullptr) {
        return false;
    }
    const SIZE_T lumaBytes = SIZE_T{Width} * Height;
    const SIZE_T chromaBytes = SIZE_T{Width / 2} * (Height / 2);
    const tagI420Frame frame = {Source,     Source + lumaBytes, Source + lumaBytes + chromaBytes, Width, Height,
                                Width / 2, Height / 2,         Destination};
    for (ULONG y = 0; y < Height; y += 2) {
        ConvertRowPair(frame, y);
    }
    return true;
}
