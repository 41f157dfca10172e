// Per-pixel effects: negative, black and white, tints, grey, solarise and sepia.
#include "effects/EffectKernels.h"
#include "platform/CpuFeatures.h"
#include "effects/SimdDispatch.h"
#include <emmintrin.h>
#include "effects/VideoEffects.h"

namespace {

// Largest n with n² ≤ numerator / denominator: floor of a scaled square root
// without floating point.
UCHAR FloorRootOfRatio(ULONG ulNumerator, ULONG ulDenominator)
{
    ULONG ulRoot = 0;
    while ((ulRoot + 1) * (ulRoot + 1) * ulDenominator <= ulNumerator) {
        ++ulRoot;
    }
    return static_cast<UCHAR>(ulRoot);
}

ULONG ToneIndex(ULONG ulLuma)
{
    return ulLuma <= 128 ? ulLuma : 255 - ulLuma;
}

// One pixel of a luma-only effect, written as B G R into pucOut.
VOID LumaEffectPixel(ULONG ulEffect, const UCHAR* pucIn, PUCHAR pucOut, const UCHAR* pucToneTable)
{
    const ULONG ulLuma = VeLuma(pucIn[0], pucIn[1], pucIn[2]);
    const UCHAR ucLuma = static_cast<UCHAR>(ulLuma);
    UCHAR aucOut[3] = {0, 0, 0};
    switch (ulEffect) {
    case VeEffectBlackWhite:
        aucOut[0] = aucOut[1] = aucOut[2] = ulLuma > 120 ? 255 : 0;
        break;
    case VeEffectGreenTone: aucOut[1] = ucLuma; break;
    case VeEffectGrey: aucOut[0] = aucOut[1] = aucOut[2] = ucLuma; break;
    case VeEffectBlueTone: aucOut[0] = ucLuma; break;
    case VeEffectRedTone: aucOut[2] = ucLuma; break;
    case VeEffectSolarise:
        for (int i = 0; i < 3; ++i) {
            aucOut[i] = ulLuma > 127 ? static_cast<UCHAR>(255 - pucIn[i]) : pucIn[i];
        }
        break;
    case VeEffectSepia:
        aucOut[0] = pucToneTable[VE_TONE_SEPIA_BLUE + ulLuma];
        aucOut[1] = ucLuma;
        aucOut[2] = pucToneTable[VE_TONE_SEPIA_RED + ulLuma];
        break;
    default: break;
    }
    pucOut[0] = aucOut[0];
    pucOut[1] = aucOut[1];
    pucOut[2] = aucOut[2];
}

} // namespace

VOID VeFillToneTables(PUCHAR pucToneTable)
{
    // first[i] = floor(20 sqrt(i / 128)) and second[i] = floor(30 sqrt(i / 128)),
    // with the camera's two tuned entries of the second table.
    for (ULONG i = 0; i <= 128; ++i) {
        pucToneTable[VE_TONE_FIRST + i] = FloorRootOfRatio(25 * i, 8);
        pucToneTable[VE_TONE_SECOND + i] = FloorRootOfRatio(225 * i, 32);
    }
    pucToneTable[VE_TONE_SECOND + 7] = 6;
    pucToneTable[VE_TONE_SECOND + 89] = 24;
    for (ULONG ulLuma = 0; ulLuma < 256; ++ulLuma) {
        const ULONG ulIndex = ToneIndex(ulLuma);
        const LONG lLuma = static_cast<LONG>(ulLuma);
        pucToneTable[VE_TONE_SEPIA_BLUE + ulLuma] = VeClampByte(lLuma - pucToneTable[VE_TONE_FIRST + ulIndex]);
        pucToneTable[VE_TONE_SEPIA_RED + ulLuma] = VeClampByte(lLuma + pucToneTable[VE_TONE_SECOND + ulIndex]);
    }
}

VOID VeNegativeReference(const UCHAR* pucSource, PUCHAR pucDestination, SIZE_T cbBytes)
{
    for (SIZE_T i = 0; i < cbBytes; ++i) {
        pucDestination[i] = static_cast<UCHAR>(255 - pucSource[i]);
    }
}

KORVAL_SSE2_BEGIN

namespace {

SIZE_T NegativeSse2(const UCHAR* pucSource, PUCHAR pucDestination, SIZE_T cbBytes)
{
    const __m128i ones = _mm_set1_epi8(-1);
    SIZE_T i = 0;
    for (; i + 16 <= cbBytes; i += 16) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucSource + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucDestination + i), _mm_xor_si128(in, ones));
    }
    return i;
}

} // namespace

KORVAL_SSE2_END

VOID VeNegative(const UCHAR* pucSource, PUCHAR pucDestination, SIZE_T cbBytes)
{
    const SIZE_T i = CpuHasSse2() ? NegativeSse2(pucSource, pucDestination, cbBytes) : 0;
    VeNegativeReference(pucSource + i, pucDestination + i, cbBytes - i);
}

VOID VeLumaEffectReference(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination,
                           ULONG ulPixels, const UCHAR* pucToneTable)
{
    for (ULONG i = 0; i < ulPixels; ++i) {
        LumaEffectPixel(ulEffect, pucSource + 3 * i, pucDestination + 3 * i, pucToneTable);
    }
}

VOID VeLumaEffect(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels,
                  const UCHAR* pucToneTable)
{
    const ULONG i = VeLumaEffectBlocks(ulEffect, pucSource, pucDestination, ulPixels, pucToneTable);
    VeLumaEffectReference(ulEffect, pucSource + 3 * i, pucDestination + 3 * i, ulPixels - i, pucToneTable);
}
