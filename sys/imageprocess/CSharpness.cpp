#include "platform/CpuFeatures.h"
#include "imageprocess/CSharpness.h"
#include "imageprocess/CSharpnessKernels.h"

#include <emmintrin.h>

namespace {

constexpr int kLaplaceLimit = 80;

// Delta added to each channel for one Laplacian value, or 0 when cored.
inline int SharpenDelta(int lLaplace, int lThreshold, int lStrength, int lUpper, int lLower)
{
    const int lMagnitude = lLaplace < 0 ? -lLaplace : lLaplace;
    if (lMagnitude <= lThreshold) {
        return 0;
    }
    if (lLaplace > lUpper) {
        lLaplace = lUpper;
    } else if (lLaplace < lLower) {
        lLaplace = lLower;
    }
    return static_cast<SHORT>(lLaplace * lStrength) >> 4;
}

inline UCHAR AddClamped(UCHAR ucValue, int lDelta)
{
    const int lSum = ucValue + lDelta;
    return static_cast<UCHAR>(lSum < 0 ? 0 : (lSum > 255 ? 255 : lSum));
}

inline int SaturateShort(int lValue)
{
    return lValue > 32767 ? 32767 : (lValue < -32768 ? -32768 : lValue);
}

} // namespace

CSharpness::CSharpness()
    : m_usSharpness(0), m_bOpened(0), m_ulWidth(0), m_ulHeight(0),
      m_sUpperLimit(kLaplaceLimit), m_sLowerLimit(-kLaplaceLimit)
{
}

bool CSharpness::Open(ULONG ulWidth, ULONG ulHeight, USHORT usSharpness)
{
    if (m_bOpened) {
        return false;
    }
    m_ulWidth = ulWidth;
    m_ulHeight = ulHeight;
    m_usSharpness = usSharpness;
    m_bOpened = 1;
    return true;
}

bool CSharpness::Close()
{
    m_bOpened = 0;
    m_ulWidth = 0;
    m_ulHeight = 0;
    return true;
}

bool CSharpness::SetParameters(USHORT usSharpness)
{
    m_usSharpness = usSharpness;
    return true;
}

bool CSharpness::GetParameters(USHORT* pusSharpness) const
{
    if (pusSharpness == nullptr) {
        return false;
    }
    *pusSharpness = m_usSharpness;
    return true;
}

bool CSharpness::CanProcess(const SHORT* psSmooth, const UCHAR* pucPicture) const
{
    return m_bOpened && psSmooth != nullptr && pucPicture != nullptr;
}

bool CSharpness::ProcessReference(const SHORT* psSmooth, UCHAR* pucPicture) const
{
    if (!CanProcess(psSmooth, pucPicture)) {
        return false;
    }
    const int lThreshold = m_usSharpness & 0xFF;
    const int lStrength = m_usSharpness >> 8;
    if (lStrength == 0 || m_ulWidth < 5 || m_ulHeight < 3) {
        return true;
    }
    const LONG_PTR w = m_ulWidth;
    for (LONG_PTR r = 1; r + 1 < static_cast<LONG_PTR>(m_ulHeight); ++r) {
        for (LONG_PTR c = 2; c + 2 < w; ++c) {
            const SHORT* s = psSmooth + r * w + c;
            int lNeighbours = 0;
            for (LONG_PTR dr = -1; dr <= 1; ++dr) {
                for (LONG_PTR dc = -1; dc <= 1; ++dc) {
                    if (dr != 0 || dc != 0) {
                        lNeighbours = SaturateShort(lNeighbours + s[dr * w + dc]);
                    }
                }
            }
            const int lLaplace = SaturateShort(SaturateShort(8 * s[0]) - lNeighbours);
            const int lDelta = SharpenDelta(lLaplace, lThreshold, lStrength, m_sUpperLimit, m_sLowerLimit);
            UCHAR* pucPixel = pucPicture + 3 * (r * w + c);
            for (int k = 0; k < 3; ++k) {
                pucPixel[k] = AddClamped(pucPixel[k], lDelta);
            }
        }
    }
    return true;
}

bool CSharpness::ProcessMMX(const SHORT* psSmooth, UCHAR* pucPicture) const
{
    if (!CanProcess(psSmooth, pucPicture)) {
        return false;
    }
    if ((m_usSharpness >> 8) == 0 || m_ulWidth < 5 || m_ulHeight < 3) {
        return true;
    }
    for (ULONG ulRow = 1; ulRow + 1 < m_ulHeight; ++ulRow) {
        SharpenRow(psSmooth, pucPicture, ulRow);
    }
    return true;
}

KORVAL_SSE2_BEGIN

namespace {

inline __m128i load(const SHORT* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Eight pixels per step from column c: the Laplacian, coring, limits and
// strength run on 16-bit lanes; only the pixels that survive coring are
// written. Returns the first column not done.
LONG_PTR SharpenRowSse2(const SHORT* psMid, UCHAR* pucRow, LONG_PTR w, LONG_PTR c, USHORT usSharpness, SHORT sUpper,
                        SHORT sLower)
{
    const SHORT* psUp = psMid - w;
    const SHORT* psDown = psMid + w;
    const __m128i vThreshold = _mm_set1_epi16(static_cast<SHORT>(usSharpness & 0xFF));
    const __m128i vStrength = _mm_set1_epi16(static_cast<SHORT>(usSharpness >> 8));
    const __m128i vUpper = _mm_set1_epi16(sUpper);
    const __m128i vLower = _mm_set1_epi16(sLower);
    for (; c + 8 <= w - 2; c += 8) {
        __m128i vSum = _mm_adds_epi16(_mm_adds_epi16(load(psUp + c - 1), load(psUp + c)), load(psUp + c + 1));
        vSum = _mm_adds_epi16(vSum, _mm_adds_epi16(load(psMid + c - 1), load(psMid + c + 1)));
        vSum = _mm_adds_epi16(vSum, _mm_adds_epi16(_mm_adds_epi16(load(psDown + c - 1), load(psDown + c)),
                                                   load(psDown + c + 1)));
        const __m128i vCentre = load(psMid + c);
        __m128i vEight = _mm_adds_epi16(vCentre, vCentre);
        vEight = _mm_adds_epi16(vEight, vEight);
        vEight = _mm_adds_epi16(vEight, vEight);
        __m128i vLaplace = _mm_subs_epi16(vEight, vSum);
        const __m128i vNegative = _mm_srai_epi16(vLaplace, 15);
        const __m128i vMagnitude = _mm_sub_epi16(_mm_xor_si128(vLaplace, vNegative), vNegative);
        const __m128i vKeep = _mm_cmpgt_epi16(vMagnitude, vThreshold);
        if (_mm_movemask_epi8(vKeep) == 0) {
            continue;
        }
        vLaplace = _mm_max_epi16(_mm_min_epi16(vLaplace, vUpper), vLower);
        const __m128i vDelta = _mm_and_si128(_mm_srai_epi16(_mm_mullo_epi16(vLaplace, vStrength), 4), vKeep);
        AddToPixels(pucRow + 3 * c, vDelta);
    }
    return c;
}

} // namespace

KORVAL_SSE2_END

// The widest vector path first, then one pixel at a time.
void CSharpness::SharpenRow(const SHORT* psSmooth, UCHAR* pucPicture, ULONG ulRow) const
{
    const LONG_PTR w = m_ulWidth;
    const SHORT* psMid = psSmooth + ulRow * w;
    const SHORT* psUp = psMid - w;
    const SHORT* psDown = psMid + w;
    UCHAR* pucRow = pucPicture + 3 * ulRow * w;
    LONG_PTR c = 2;
    if constexpr (kAvx2Compiled) {
        if (CpuHasAvx2()) {
            c = SharpenRowAvx2(psMid, pucRow, w, m_usSharpness, m_sUpperLimit, m_sLowerLimit);
        }
    }
    if (CpuHasSse2()) {
        c = SharpenRowSse2(psMid, pucRow, w, c, m_usSharpness, m_sUpperLimit, m_sLowerLimit);
    }
    const int lThreshold = m_usSharpness & 0xFF;
    const int lStrength = m_usSharpness >> 8;
    for (; c + 2 < w; ++c) {
        const int lSum = psUp[c - 1] + psUp[c] + psUp[c + 1] + psMid[c - 1] + psMid[c + 1] + psDown[c - 1] +
                         psDown[c] + psDown[c + 1];
        const int lLaplace = SaturateShort(SaturateShort(8 * psMid[c]) - SaturateShort(lSum));
        const int lDelta = SharpenDelta(lLaplace, lThreshold, lStrength, m_sUpperLimit, m_sLowerLimit);
        if (lDelta == 0) {
            continue; // cored: the pixel stays as it is
        }
        UCHAR* pucPixel = pucRow + 3 * c;
        for (int k = 0; k < 3; ++k) {
            pucPixel[k] = AddClamped(pucPixel[k], lDelta);
        }
    }
}
