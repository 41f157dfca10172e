// Compositing of the 352 × 288 overlay frame over the output picture through
// its mask. Overlay pixels are picked by fixed step patterns per output size
// (nearest neighbour); each output line is blended from a gathered overlay line.
#include "platform/CpuFeatures.h"
#include "platform/KernelFloatingPoint.h"
#include <emmintrin.h>
#include <immintrin.h>

#include <cstring>

#include "effects/EffectKernels.h"
#include "effects/VideoEffects.h"

namespace {

constexpr ULONG kOverlayWidth = 352;
constexpr ULONG kOverlayHeight = 288;

// Overlay index of output index i: i × multiplier / divisor, plus groupStep
// extra after every group outputs.
struct StepPattern {
    ULONG ulMultiplier;
    ULONG ulDivisor;
    ULONG ulGroup;
    ULONG ulGroupStep;
    ULONG Map(ULONG i) const { return i * ulMultiplier / ulDivisor + (ulGroup != 0 ? (i / ulGroup) * ulGroupStep : 0); }
};

struct OutputSize {
    ULONG ulWidth;
    ULONG ulHeight;
    StepPattern columns;
    StepPattern lines;
};

constexpr OutputSize kOutputSizes[] = {
    {352, 288, {1, 1, 0, 0}, {1, 1, 0, 0}},
    {176, 144, {2, 1, 0, 0}, {2, 1, 0, 0}},
    {320, 240, {1, 1, 10, 1}, {1, 1, 5, 1}},   // 10 per 11 columns, 5 per 6 lines
    {160, 120, {2, 1, 10, 2}, {2, 1, 5, 2}},   // 10 per 22, 5 per 12
    {640, 480, {1, 2, 20, 1}, {1, 2, 10, 1}},  // 20 per 11, 10 per 6
};

const OutputSize* FindOutputSize(ULONG ulWidth, ULONG ulHeight)
{
    for (const OutputSize& size : kOutputSizes) {
        if (size.ulWidth == ulWidth && size.ulHeight == ulHeight) {
            return &size;
        }
    }
    return nullptr;
}

// The mask column that weighs overlay chroma column c: each group of 4 chroma
// samples takes the first 4 of the 8 mask values beneath it.
inline ULONG ChromaMaskColumn(ULONG ulChromaColumn)
{
    return 8 * (ulChromaColumn / 4) + ulChromaColumn % 4;
}

// Gathers one line of BGR overlay pixels and their weights, one weight per byte.
// Each pixel is written as 4 bytes, the fourth overwritten by the next pixel, so
// both lines need one byte of room after the last pixel.
VOID GatherPixels(const UCHAR* pucOverlayLine, const UCHAR* pucMaskLine, const USHORT* pusColumns, ULONG ulCount,
                  PUCHAR pucPicture, PUCHAR pucWeight)
{
    for (ULONG x = 0; x < ulCount; ++x) {
        const UCHAR* pucFrom = pucOverlayLine + 3 * static_cast<SIZE_T>(pusColumns[x]);
        const ULONG ulPixel = pucFrom[0] | (static_cast<ULONG>(pucFrom[1]) << 8) | (static_cast<ULONG>(pucFrom[2]) << 16);
        const ULONG ulWeight = pucMaskLine[pusColumns[x]] * 0x010101u;
        memcpy(pucPicture + 3 * x, &ulPixel, sizeof(ulPixel));
        memcpy(pucWeight + 3 * x, &ulWeight, sizeof(ulWeight));
    }
}

// Gathers one line of overlay luma and its weights (same columns in both).
VOID GatherLuma(const UCHAR* pucOverlayLine, const UCHAR* pucMaskLine, const USHORT* pusColumns, ULONG ulCount,
                PUCHAR pucPicture, PUCHAR pucWeight)
{
    for (ULONG x = 0; x < ulCount; ++x) {
        const ULONG ulColumn = pusColumns[x];
        pucPicture[x] = pucOverlayLine[ulColumn];
        pucWeight[x] = pucMaskLine[ulColumn];
    }
}

// Gathers one line of both overlay chroma planes and their shared weights.
VOID GatherChroma(const UCHAR* pucLineU, const UCHAR* pucLineV, const UCHAR* pucMaskLine, const USHORT* pusColumns,
                  const USHORT* pusMaskColumns, ULONG ulCount, PUCHAR pucPictureU, PUCHAR pucPictureV, PUCHAR pucWeight)
{
    for (ULONG x = 0; x < ulCount; ++x) {
        const ULONG ulColumn = pusColumns[x];
        pucPictureU[x] = pucLineU[ulColumn];
        pucPictureV[x] = pucLineV[ulColumn];
        pucWeight[x] = pucMaskLine[pusMaskColumns[x]];
    }
}

// One I420 composite: the output, the overlay, and the column maps.
struct I420Blend {
    const StepPattern* pLines;
    PUSHORT pusColumns;
    PUSHORT pusChromaColumns;
    PUSHORT pusChromaMaskColumns;
    const UCHAR* pucOverlay;
    const UCHAR* pucMask;
    const UCHAR* pucSource;
    PUCHAR pucDestination;
    PUCHAR pucScratch;  // gathered lines
    ULONG ulWidth;
    ULONG ulHeight;
};

// Luma with the full-resolution mask; the overlay and the mask are stored bottom
// line first, I420 top line first.
VOID BlendI420Luma(const I420Blend& blend)
{
    PUCHAR pucPicture = blend.pucScratch;
    PUCHAR pucWeight = pucPicture + blend.ulWidth;
    ULONG ulGathered = kOverlayHeight;  // none yet
    for (ULONG y = 0; y < blend.ulHeight; ++y) {
        const ULONG ulLine = kOverlayHeight - 1 - blend.pLines->Map(y);
        if (ulLine != ulGathered) {
            GatherLuma(blend.pucOverlay + ulLine * kOverlayWidth, blend.pucMask + ulLine * kOverlayWidth,
                       blend.pusColumns, blend.ulWidth, pucPicture, pucWeight);
            ulGathered = ulLine;
        }
        const SIZE_T cbAt = static_cast<SIZE_T>(y) * blend.ulWidth;
        VeBlend(blend.pucSource + cbAt, pucPicture, pucWeight, blend.pucDestination + cbAt, blend.ulWidth);
    }
}

// Both chroma planes, with the weights of one mask line shared by U and V.
VOID BlendI420Chroma(const I420Blend& blend)
{
    constexpr ULONG ulChromaWidth = kOverlayWidth / 2;
    constexpr ULONG ulChromaHeight = kOverlayHeight / 2;
    const ULONG ulWidth = blend.ulWidth / 2;
    const ULONG ulRows = blend.ulHeight / 2;
    const UCHAR* pucOverlayU = blend.pucOverlay + kOverlayWidth * kOverlayHeight;
    const UCHAR* pucOverlayV = pucOverlayU + ulChromaWidth * ulChromaHeight;
    const SIZE_T cbLuma = static_cast<SIZE_T>(blend.ulWidth) * blend.ulHeight;
    const SIZE_T cbPlane = static_cast<SIZE_T>(ulWidth) * ulRows;
    PUCHAR pucPictureU = blend.pucScratch;
    PUCHAR pucPictureV = pucPictureU + ulWidth;
    PUCHAR pucWeight = pucPictureV + ulWidth;
    ULONG ulGathered = kOverlayHeight;  // none yet
    for (ULONG j = 0; j < ulRows; ++j) {
        const ULONG ulLine = blend.pLines->Map(j);
        if (ulLine != ulGathered) {
            // Chroma line j is weighed by the mask line beneath its first luma line.
            const UCHAR* pucMaskLine = blend.pucMask + (kOverlayHeight - 1 - 2 * ulLine) * kOverlayWidth;
            const SIZE_T cbOverlayLine = static_cast<SIZE_T>(ulChromaHeight - 1 - ulLine) * ulChromaWidth;
            GatherChroma(pucOverlayU + cbOverlayLine, pucOverlayV + cbOverlayLine, pucMaskLine, blend.pusChromaColumns,
                         blend.pusChromaMaskColumns, ulWidth, pucPictureU, pucPictureV, pucWeight);
            ulGathered = ulLine;
        }
        const SIZE_T cbAt = cbLuma + static_cast<SIZE_T>(j) * ulWidth;
        VeBlend(blend.pucSource + cbAt, pucPictureU, pucWeight, blend.pucDestination + cbAt, ulWidth);
        VeBlend(blend.pucSource + cbAt + cbPlane, pucPictureV, pucWeight, blend.pucDestination + cbAt + cbPlane, ulWidth);
    }
}

} // namespace

VOID VeBlendReference(const UCHAR* pucSource, const UCHAR* pucPicture, const UCHAR* pucWeight,
                      PUCHAR pucDestination, ULONG ulBytes)
{
    for (ULONG i = 0; i < ulBytes; ++i) {
        const LONG lSource = pucSource[i];
        const LONG lValue = (256 * lSource + (pucPicture[i] - lSource) * (pucWeight[i] + 1)) / 256;
        pucDestination[i] = VeClampByte(lValue);
    }
}

namespace {

// 32 bytes per step where the processor has AVX2; returns the bytes done.
__attribute__((target("avx2"))) ULONG BlendAvx2(const UCHAR* pucSource, const UCHAR* pucPicture,
                                                const UCHAR* pucWeight, PUCHAR pucDestination, ULONG ulBytes)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i full = _mm256_set1_epi16(255);
    const __m256i one = _mm256_set1_epi16(1);
    ULONG i = 0;
    for (; i + 32 <= ulBytes; i += 32) {
        const __m256i source = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pucSource + i));
        const __m256i picture = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pucPicture + i));
        const __m256i weight = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pucWeight + i));
        // Unpacking and packing both work per 128-bit half, so the byte order is kept.
        const __m256i low = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(source, zero), _mm256_sub_epi16(full, _mm256_unpacklo_epi8(weight, zero))),
                             _mm256_mullo_epi16(_mm256_unpacklo_epi8(picture, zero), _mm256_add_epi16(_mm256_unpacklo_epi8(weight, zero), one))),
            8);
        const __m256i high = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(source, zero), _mm256_sub_epi16(full, _mm256_unpackhi_epi8(weight, zero))),
                             _mm256_mullo_epi16(_mm256_unpackhi_epi8(picture, zero), _mm256_add_epi16(_mm256_unpackhi_epi8(weight, zero), one))),
            8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pucDestination + i), _mm256_packus_epi16(low, high));
    }
    return i;
}

bool HasAvx2()
{
    return CpuHasAvx2();
}

} // namespace

KORVAL_SSE2_BEGIN

namespace {

// 256 s + (p − s)(a + 1) = s (255 − a) + p (a + 1) ≤ 65280: exact in unsigned 16-bit lanes.
ULONG BlendSse2(const UCHAR* pucSource, const UCHAR* pucPicture, const UCHAR* pucWeight, PUCHAR pucDestination,
                ULONG i, ULONG ulBytes)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(255);
    const __m128i one = _mm_set1_epi16(1);
    for (; i + 16 <= ulBytes; i += 16) {
        const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucSource + i));
        const __m128i picture = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucPicture + i));
        const __m128i weight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pucWeight + i));
        __m128i halves[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i s = h == 0 ? _mm_unpacklo_epi8(source, zero) : _mm_unpackhi_epi8(source, zero);
            const __m128i p = h == 0 ? _mm_unpacklo_epi8(picture, zero) : _mm_unpackhi_epi8(picture, zero);
            const __m128i a = h == 0 ? _mm_unpacklo_epi8(weight, zero) : _mm_unpackhi_epi8(weight, zero);
            const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(s, _mm_sub_epi16(full, a)),
                                              _mm_mullo_epi16(p, _mm_add_epi16(a, one)));
            halves[h] = _mm_srli_epi16(sum, 8);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pucDestination + i), _mm_packus_epi16(halves[0], halves[1]));
    }
    return i;
}

} // namespace

KORVAL_SSE2_END

VOID VeBlend(const UCHAR* pucSource, const UCHAR* pucPicture, const UCHAR* pucWeight, PUCHAR pucDestination,
             ULONG ulBytes)
{
    ULONG i = 0;
    if constexpr (kAvx2Compiled) {
        i = HasAvx2() ? BlendAvx2(pucSource, pucPicture, pucWeight, pucDestination, ulBytes) : 0;
    }
    if (CpuHasSse2()) {
        i = BlendSse2(pucSource, pucPicture, pucWeight, pucDestination, i, ulBytes);
    }
    VeBlendReference(pucSource + i, pucPicture + i, pucWeight + i, pucDestination + i, ulBytes - i);
}

ULONG VideoEffects::Composite(PVE_PICTURE pOverlay, PVE_PICTURE pMask, PVE_PICTURE pSource, PVE_PICTURE pDestination)
{
    KorvalVerifyFloatingPointState("VideoEffects::Composite");
    if (pOverlay == nullptr || pMask == nullptr || pOverlay->pData == nullptr || pMask->pData == nullptr) {
        return VE_NULL_POINTER;
    }
    if (pOverlay->ulFlags != 0 || pMask->ulFlags != 0) {
        return VE_FLAGS_NOT_ZERO;
    }
    ULONG ulResult = CheckPictures(pSource, pDestination);
    if (ulResult != VE_SUCCESS) {
        return ulResult;
    }
    // Only the camera-size overlay of the stream's own format can be laid over one
    // of the stream's output sizes; anything else leaves the destination alone
    // and fails, so that the caller delivers its source rather than a
    // destination that was never written.
    if (m_ulOverlayWidth != kOverlayWidth || m_ulOverlayHeight != kOverlayHeight || m_ulOverlayFormat != m_ulFormat ||
        m_ulMaskWidth != kOverlayWidth || m_ulMaskHeight != kOverlayHeight ||
        FindOutputSize(m_ulWidth, m_ulHeight) == nullptr) {
        return VE_UNSUPPORTED_FORMAT;
    }
    const ULONG ulOverlayPixels = kOverlayWidth * kOverlayHeight;
    const ULONG ulOverlayBytes = m_ulFormat == VE_FORMAT_I420 ? ulOverlayPixels * 3 / 2 : ulOverlayPixels * 3;
    if (pOverlay->ulLength < ulOverlayBytes || pMask->ulLength < ulOverlayPixels) {
        return VE_NULL_POINTER;
    }
    if (m_ulFormat == VE_FORMAT_I420) {
        ulResult = CompositeI420(pOverlay->pData, pMask->pData, pSource->pData, pDestination->pData);
    } else {
        ulResult = CompositeBgr(pOverlay->pData, pMask->pData, pSource->pData, pDestination->pData);
    }
    pOverlay->ulFlags = pMask->ulFlags = pSource->ulFlags = pDestination->ulFlags = 0;
    return ulResult;
}

ULONG VideoEffects::CompositeBgr(const UCHAR* pucOverlay, const UCHAR* pucMask, const UCHAR* pucSource,
                                 PUCHAR pucDestination)
{
    const OutputSize& size = *FindOutputSize(m_ulWidth, m_ulHeight);
    PUSHORT pusColumns = reinterpret_cast<PUSHORT>(m_pToneTable + VE_TONE_COLUMN_MAPS);
    for (ULONG x = 0; x < m_ulWidth; ++x) {
        pusColumns[x] = static_cast<USHORT>(size.columns.Map(x));
    }
    const SIZE_T cbStride = static_cast<SIZE_T>(m_ulWidth) * 3;
    PUCHAR pucPicture = m_pWork[2];
    PUCHAR pucWeight = m_pWork[2] + cbStride + 16;
    ULONG ulGathered = kOverlayHeight;  // none yet
    for (ULONG y = 0; y < m_ulHeight; ++y) {
        // Bitmap files and RGB frames both store the bottom line first.
        const ULONG ulLine = size.lines.Map(y);
        if (ulLine != ulGathered) {
            GatherPixels(pucOverlay + static_cast<SIZE_T>(ulLine) * kOverlayWidth * 3, pucMask + ulLine * kOverlayWidth,
                         pusColumns, m_ulWidth, pucPicture, pucWeight);
            ulGathered = ulLine;
        }
        VeBlend(pucSource + y * cbStride, pucPicture, pucWeight, pucDestination + y * cbStride,
                static_cast<ULONG>(cbStride));
    }
    return VE_SUCCESS;
}

ULONG VideoEffects::CompositeI420(const UCHAR* pucOverlay, const UCHAR* pucMask, const UCHAR* pucSource,
                                  PUCHAR pucDestination)
{
    const OutputSize& size = *FindOutputSize(m_ulWidth, m_ulHeight);
    I420Blend blend = {};
    blend.pusColumns = reinterpret_cast<PUSHORT>(m_pToneTable + VE_TONE_COLUMN_MAPS);
    blend.pusChromaColumns = blend.pusColumns + m_ulWidth;
    blend.pusChromaMaskColumns = blend.pusChromaColumns + m_ulWidth2;
    for (ULONG x = 0; x < m_ulWidth; ++x) {
        blend.pusColumns[x] = static_cast<USHORT>(size.columns.Map(x));
    }
    for (ULONG c = 0; c < m_ulWidth2; ++c) {
        blend.pusChromaColumns[c] = static_cast<USHORT>(size.columns.Map(c));
        blend.pusChromaMaskColumns[c] = static_cast<USHORT>(ChromaMaskColumn(blend.pusChromaColumns[c]));
    }
    blend.pLines = &size.lines;
    blend.pucOverlay = pucOverlay;
    blend.pucMask = pucMask;
    blend.pucSource = pucSource;
    blend.pucDestination = pucDestination;
    blend.pucScratch = m_pWork[2];
    blend.ulWidth = m_ulWidth;
    blend.ulHeight = m_ulHeight;
    BlendI420Luma(blend);
    BlendI420Chroma(blend);
    return VE_SUCCESS;
}

ULONG VideoEffects::ConvertBgrToI420(PVE_PICTURE pSource, PVE_PICTURE pDestination)
{
    KorvalVerifyFloatingPointState("VideoEffects::ConvertBgrToI420");
    const ULONG ulPixels = m_ulOverlayWidth * m_ulOverlayHeight;
    const ULONG ulI420Bytes = ulPixels + 2 * ((m_ulOverlayWidth / 2) * (m_ulOverlayHeight / 2));
    const ULONG ulResult = CheckPictures(pSource, pDestination, ulPixels * 3, ulI420Bytes);
    if (ulResult != VE_SUCCESS) {
        return ulResult;
    }
    VeBgrToI420(pSource->pData, pDestination->pData, m_ulOverlayWidth, m_ulOverlayHeight, FALSE);
    pSource->ulFlags = pDestination->ulFlags = 0;
    return VE_SUCCESS;
}
