#include "platform/CpuFeatures.h"
#include "imageprocess/CInterpolation.h"

#include <cstring>

#include "imageprocess/CInterpolationKernels.h"

CInterpolation::CInterpolation()
    : m_bOpened(FALSE), m_ucSmoothing(0), m_ulPaddedWidth(0), m_ulPaddedHeight(0),
      m_usThreshold(40)
{
}

bool CInterpolation::Open(ULONG ulPaddedWidth, ULONG ulPaddedHeight, UCHAR ucSmoothing)
{
    m_ulPaddedWidth = ulPaddedWidth;
    m_ulPaddedHeight = ulPaddedHeight;
    m_ucSmoothing = ucSmoothing;
    m_bOpened = TRUE;
    return true;
}

bool CInterpolation::Close()
{
    m_bOpened = FALSE;
    return false;
}

bool CInterpolation::GeometryAcceptable(ULONG ulWidth, ULONG ulHeight)
{
    // Whole 8-pixel groups, whole 2-row Bayer cells, and a frame the planes can
    // hold without the size arithmetic wrapping.
    return ulWidth >= 8 && ulWidth % 8 == 0 && ulHeight >= 2 && ulHeight % 2 == 0 &&
           ulWidth <= 0x4000 && ulHeight <= 0x4000;
}

void CInterpolation::InterpolateGreen(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, ULONG ulWidth,
                                      ULONG ulHeight, UCHAR ucPhase, bool bReference)
{
    if constexpr (kAvx2Compiled) {
        if (!bReference && CpuHasAvx2()) {
            IpGreenPassAvx2(pPaddedBayer, pGreenPlane, ulWidth, ulHeight, ucPhase);
            return;
        }
    }
    if (!bReference && CpuHasSsse3()) {
        IpGreenPassSsse3(pPaddedBayer, pGreenPlane, ulWidth, ulHeight, ucPhase);
        return;
    }
    if (!bReference && CpuHasSse2()) {
        IpGreenPassSse2(pPaddedBayer, pGreenPlane, ulWidth, ulHeight, ucPhase);
        return;
    }
    IpGreenPassReference(pPaddedBayer, pGreenPlane, ulWidth, ulHeight, ucPhase);
}

void IpColorPass(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked, ULONG ulWidth,
                 ULONG ulHeight, UCHAR ucPhase, const tagIpColorKernel* psColor, bool bReference)
{
    if constexpr (kAvx2Compiled) {
        if (!bReference && CpuHasAvx2()) {
            IpColorPassAvx2(pPaddedBayer, pGreenPlane, pPacked, ulWidth, ulHeight, ucPhase, psColor);
            return;
        }
    }
    if (!bReference && CpuHasSse2()) {
        IpColorPassSse2(pPaddedBayer, pGreenPlane, pPacked, ulWidth, ulHeight, ucPhase, psColor);
        return;
    }
    IpColorPassReference(pPaddedBayer, pGreenPlane, pPacked, ulWidth, ulHeight, ucPhase, psColor);
}

bool IpColorPassToImage(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, const tagIpImageRows& sImage,
                        ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase, const tagIpColorKernel* psColor,
                        bool bReference)
{
    if (bReference || !CpuHasSsse3()) {
        return false;
    }
    if constexpr (kAvx2Compiled) {
        if (CpuHasAvx2()) {
            IpColorPassImageAvx2(pPaddedBayer, pGreenPlane, sImage, ulWidth, ulHeight, ucPhase, psColor);
            return true;
        }
    }
    IpColorPassImageSsse3(pPaddedBayer, pGreenPlane, sImage, ulWidth, ulHeight, ucPhase, psColor);
    return true;
}

// Vector (0 x, 1 y, 2 z) and byte that hold channel ch (0 B, 1 G, 2 R) of pixel p
// of a 16-pixel step.
static void PackedSource(ULONG p, ULONG ch, ULONG* source, ULONG* byte)
{
    static const UCHAR kEven[3][2] = {{0, 0}, {0, 8}, {1, 0}};
    static const UCHAR kOdd[3][2] = {{1, 8}, {2, 0}, {2, 8}};
    const UCHAR* at = (p & 1) != 0 ? kOdd[ch] : kEven[ch];
    *source = at[0];
    *byte = at[1] + (p >> 1);
}

void IpImageShuffleBytes(bool bMirror, char acMask[4][3][16])
{
    const ULONG kPixels = 16;
    for (ULONG out = 0; out < 4 * kPixels; ++out) {
        ULONG pixel = out < 3 * kPixels ? out / 3 : out - 3 * kPixels;
        ULONG channel = out < 3 * kPixels ? out % 3 : 1;
        ULONG source = 0;
        ULONG byte = 0;
        PackedSource(bMirror ? kPixels - 1 - pixel : pixel, channel, &source, &byte);
        for (ULONG s = 0; s < 3; ++s) {
            acMask[out / 16][s][out % 16] = static_cast<char>(s == source ? byte : 0x80);
        }
    }
}

void IpColorPassToImageOrPacked(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked,
                                tagIpImageRows* psImage, ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase,
                                const tagIpColorKernel* psColor, bool bReference)
{
    if (psImage != nullptr) {
        psImage->bWritten =
            IpColorPassToImage(pPaddedBayer, pGreenPlane, *psImage, ulWidth, ulHeight, ucPhase, psColor, bReference);
        if (psImage->bWritten) {
            return;
        }
    }
    IpColorPass(pPaddedBayer, pGreenPlane, pPacked, ulWidth, ulHeight, ucPhase, psColor, bReference);
}

void CInterpolation::FillGreenFrame(PUCHAR pGreenPlane, ULONG ulWidth, ULONG ulHeight)
{
    ULONG stride = ulWidth + 4;
    for (ULONG r = 2; r < ulHeight + 2; ++r) {
        PUCHAR row = pGreenPlane + r * stride;
        row[0] = row[2];
        row[1] = row[3];
        row[ulWidth + 2] = row[ulWidth];
        row[ulWidth + 3] = row[ulWidth + 1];
    }
    memcpy(pGreenPlane, pGreenPlane + 2 * stride, stride);
    memcpy(pGreenPlane + stride, pGreenPlane + 3 * stride, stride);
    memcpy(pGreenPlane + (ulHeight + 2) * stride, pGreenPlane + (ulHeight + 1) * stride, stride);
    memcpy(pGreenPlane + (ulHeight + 3) * stride, pGreenPlane + (ulHeight + 1) * stride, stride);
}

void CInterpolation::SmoothGreen(PUCHAR pGreenPlane, PUCHAR pScratch, ULONG ulWidth, ULONG ulHeight)
{
    ULONG stride = ulWidth + 4;
    for (ULONG r = 2; r < ulHeight + 2; ++r) {
        const UCHAR* up = pGreenPlane + (r - 1) * stride;
        const UCHAR* mid = up + stride;
        const UCHAR* down = mid + stride;
        PUCHAR out = pScratch + (r - 2) * ulWidth;
        for (ULONG c = 2; c < ulWidth + 2; ++c) {
            USHORT sum = static_cast<USHORT>(up[c - 1] + 2 * up[c] + up[c + 1] + 2 * mid[c - 1] +
                                             4 * mid[c] + 2 * mid[c + 1] + down[c - 1] +
                                             2 * down[c] + down[c + 1]);
            out[c - 2] = static_cast<UCHAR>(sum >> 4);
        }
    }
    memset(pGreenPlane, 0, static_cast<SIZE_T>(stride) * (ulHeight + 4));
    for (ULONG r = 2; r < ulHeight + 2; ++r) {
        memcpy(pGreenPlane + r * stride + 2, pScratch + (r - 2) * ulWidth, ulWidth);
    }
}

bool CInterpolation::Run(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, PUCHAR pPacked,
                         UCHAR ucPhase, tagIpImageRows* psImage, bool bReference)
{
    if (!m_bOpened || pPaddedBayer == nullptr || pGreenPlane == nullptr || pPacked == nullptr ||
        ucPhase >= IP_PHASE_COUNT || m_ulPaddedWidth < 4 || m_ulPaddedHeight < 4) {
        return false;
    }
    ULONG width = m_ulPaddedWidth - 4;
    ULONG height = m_ulPaddedHeight - 4;
    if (!GeometryAcceptable(width, height)) {
        return false;
    }
    InterpolateGreen(pPaddedBayer, pGreenPlane, width, height, ucPhase, bReference);
    FillGreenFrame(pGreenPlane, width, height);
    if (m_ucSmoothing == 1) {
        SmoothGreen(pGreenPlane, pPacked, width, height);
    }
    IpColorPassToImageOrPacked(pPaddedBayer, pGreenPlane, pPacked, psImage, width, height, ucPhase, nullptr,
                               bReference);
    return true;
}

bool CInterpolation::Process(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, PUCHAR pPacked,
                             UCHAR ucPhase, tagIpImageRows* psImage)
{
    return Run(pPaddedBayer, pGreenPlane, pPacked, ucPhase, psImage, false);
}

bool CInterpolation::ProcessReference(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane,
                                      PUCHAR pPacked, UCHAR ucPhase)
{
    return Run(pPaddedBayer, pGreenPlane, pPacked, ucPhase, nullptr, true);
}
