// VideoEffects: life cycle, set-up with the work-buffer layout, checks of the
// picture descriptors and the per-frame dispatcher.
#include "effects/VideoEffects.h"
#include "platform/KernelFloatingPoint.h"

#include <cstring>

#include "effects/EffectKernels.h"

namespace {

constexpr ULONG kMaxSide = 4096;      // larger pictures would overflow the work-size formula
constexpr ULONG kToneAreaSlack = 1276;
constexpr ULONG kPictureSlackPixels = 1024;
constexpr ULONG kSmallWorkSlack = 2048;

bool IsKnownFormat(ULONG ulFormat)
{
    return ulFormat == VE_FORMAT_BGR24 || ulFormat == VE_FORMAT_I420;
}

bool IsUsableSize(ULONG ulWidth, ULONG ulHeight)
{
    return ulWidth != 0 && ulHeight != 0 && ulWidth <= kMaxSide && ulHeight <= kMaxSide;
}

bool HasOwnI420Path(ULONG ulEffect)
{
    return ulEffect == VeEffectGreenTone || ulEffect == VeEffectBlueTone || ulEffect == VeEffectRedTone ||
           ulEffect == VeEffectSepia;
}

bool Overlaps(const UCHAR* pucFirst, const UCHAR* pucSecond, SIZE_T cbBytes)
{
    return pucFirst < pucSecond + cbBytes && pucSecond < pucFirst + cbBytes;
}

} // namespace

VideoEffects::VideoEffects()
{
    Reset();
}

VideoEffects::~VideoEffects() = default;

void* VideoEffects::operator new(size_t bytes) noexcept
{
    return bytes == sizeof(VideoEffects) ? CPoolObject::operator new(bytes) : nullptr;
}

void VideoEffects::operator delete(void* object) noexcept
{
    CPoolObject::operator delete(object);
}

ULONG VideoEffects::GetState() const { return m_ulState; }
ULONG VideoEffects::GetWorkBytes() const { return m_ulWorkBytes; }
PUCHAR VideoEffects::GetWork(ULONG ulIndex) const { return ulIndex < 6 ? m_pWork[ulIndex] : nullptr; }
PUCHAR VideoEffects::GetToneTable() const { return m_pToneTable; }

VOID VideoEffects::Reset()
{
    m_ulState = VE_STATE_CREATED;
    m_ulWidth = m_ulHeight = m_ulImageBytes = m_ulBitsPerPixel = m_ulFormat = 0;
    for (PUCHAR& pWork : m_pWork) {
        pWork = nullptr;
    }
    m_ulWorkBytes = 0;
    m_ulOverlayWidth = m_ulOverlayHeight = m_ulOverlayFormat = 0;
    m_ulMaskWidth = m_ulMaskHeight = m_ulMaskFormat = 0;
    m_pToneTable = nullptr;
    m_ulQuarterPixels = m_ulPixels = m_ulWidth8 = m_ulWidth4 = m_ulWidth2 = m_ulOverlayPixels = 0;
}

ULONG VideoEffects::Setup(const VE_IMAGE_DESCRIPTION* pOutput, const VE_IMAGE_DESCRIPTION* pOverlay,
                          const VE_IMAGE_DESCRIPTION* pMask, PVOID pWorkBuffer, PULONG pulWorkBytes)
{
    KorvalVerifyFloatingPointState("VideoEffects::Setup");
    if (pulWorkBytes == nullptr) {
        return VE_NULL_POINTER;
    }
    switch (m_ulState) {
    case VE_STATE_CREATED: return DescribeFirst(pOutput, pOverlay, pMask, pulWorkBytes);
    case VE_STATE_DESCRIBED: return LayOutWork(pWorkBuffer, *pulWorkBytes);
    default: return VE_ALREADY_READY;
    }
}

ULONG VideoEffects::DescribeFirst(const VE_IMAGE_DESCRIPTION* pOutput, const VE_IMAGE_DESCRIPTION* pOverlay,
                                  const VE_IMAGE_DESCRIPTION* pMask, PULONG pulWorkBytes)
{
    if (pOutput == nullptr || pOverlay == nullptr || pMask == nullptr) {
        return VE_NULL_POINTER;
    }
    if (!IsKnownFormat(pOutput->ulFormat) || !IsKnownFormat(pOverlay->ulFormat) ||
        !IsUsableSize(pOutput->ulWidth, pOutput->ulHeight) || !IsUsableSize(pOverlay->ulWidth, pOverlay->ulHeight) ||
        pMask->ulWidth > kMaxSide || pMask->ulHeight > kMaxSide) {
        return VE_UNSUPPORTED_FORMAT;
    }
    // I420 chroma covers 2 × 2 blocks: both sides must be even.
    if (pOutput->ulFormat == VE_FORMAT_I420 && (pOutput->ulWidth % 2 != 0 || pOutput->ulHeight % 2 != 0)) {
        return VE_UNSUPPORTED_FORMAT;
    }
    m_ulWidth = pOutput->ulWidth;
    m_ulHeight = pOutput->ulHeight;
    m_ulImageBytes = pOutput->ulBytes;
    m_ulBitsPerPixel = pOutput->ulBitsPerPixel;
    m_ulFormat = pOutput->ulFormat;
    m_ulOverlayWidth = pOverlay->ulWidth;
    m_ulOverlayHeight = pOverlay->ulHeight;
    m_ulOverlayFormat = pOverlay->ulFormat;
    m_ulMaskWidth = pMask->ulWidth;
    m_ulMaskHeight = pMask->ulHeight;
    m_ulMaskFormat = pMask->ulFormat;
    m_ulPixels = m_ulWidth * m_ulHeight;
    m_ulQuarterPixels = m_ulPixels / 4;
    m_ulWidth8 = m_ulWidth / 8;
    m_ulWidth4 = m_ulWidth / 4;
    m_ulWidth2 = m_ulWidth / 2;
    m_ulOverlayPixels = m_ulOverlayWidth * m_ulOverlayHeight;
    m_ulWorkBytes = m_ulWidth * 5 + 17660 + (m_ulPixels * 3 + m_ulOverlayPixels) * 4;
    m_ulState = VE_STATE_DESCRIBED;
    *pulWorkBytes = m_ulWorkBytes;
    return VE_SUCCESS;
}

ULONG VideoEffects::LayOutWork(PVOID pWorkBuffer, ULONG ulBytes)
{
    // A buffer smaller than the size reported would be overrun by the scratch pictures.
    if (pWorkBuffer == nullptr || ulBytes < m_ulWorkBytes) {
        return VE_NULL_POINTER;
    }
    PUCHAR pucWork = static_cast<PUCHAR>(pWorkBuffer);
    const SIZE_T cbPicture = static_cast<SIZE_T>(m_ulPixels + kPictureSlackPixels) * 3;
    const SIZE_T cbSmall = kSmallWorkSlack + static_cast<SIZE_T>(m_ulOverlayPixels) * 2;
    m_pToneTable = pucWork;
    m_pWork[0] = pucWork + m_ulWidth * 5 + kToneAreaSlack;
    m_pWork[1] = m_pWork[0] + cbPicture;
    m_pWork[2] = m_pWork[1] + cbPicture;
    m_pWork[3] = m_pWork[2] + cbSmall;
    m_pWork[4] = m_pWork[3] + cbPicture;
    m_pWork[5] = m_pWork[4] + cbPicture;
    VeFillToneTables(m_pToneTable);
    m_ulState = VE_STATE_READY;
    return VE_SUCCESS;
}

ULONG VideoEffects::PictureBytes() const
{
    if (m_ulFormat == VE_FORMAT_I420) {
        return m_ulPixels + 2 * (m_ulWidth2 * (m_ulHeight / 2));
    }
    return m_ulPixels * 3;
}

ULONG VideoEffects::CheckPictures(PVE_PICTURE pSource, PVE_PICTURE pDestination) const
{
    return CheckPictures(pSource, pDestination, PictureBytes(), PictureBytes());
}

ULONG VideoEffects::CheckPictures(PVE_PICTURE pSource, PVE_PICTURE pDestination, ULONG ulSourceBytes,
                                  ULONG ulDestinationBytes) const
{
    if (pSource == nullptr || pDestination == nullptr || pSource->pData == nullptr || pDestination->pData == nullptr) {
        return VE_NULL_POINTER;
    }
    if (pSource->ulFlags != 0 || pDestination->ulFlags != 0) {
        return VE_FLAGS_NOT_ZERO;
    }
    if (m_ulState != VE_STATE_READY) {
        return VE_WRONG_STATE;
    }
    if (pSource->ulLength < ulSourceBytes || pDestination->ulLength < ulDestinationBytes) {
        return VE_NULL_POINTER;
    }
    return VE_SUCCESS;
}

ULONG VideoEffects::RunEffect(ULONG ulEffect, PVE_PICTURE pSource, PVE_PICTURE pDestination)
{
    KorvalVerifyFloatingPointState("VideoEffects::RunEffect");
    const ULONG ulResult = CheckPictures(pSource, pDestination);
    if (ulResult != VE_SUCCESS) {
        return ulResult;
    }
    const UCHAR* pucSource = pSource->pData;
    if (Overlaps(pucSource, pDestination->pData, PictureBytes())) {
        // Effects read neighbours: an in-place call works from a copy.
        memcpy(m_pWork[0], pucSource, PictureBytes());
        pucSource = m_pWork[0];
    }
    if (m_ulFormat == VE_FORMAT_BGR24) {
        RunBgrEffect(ulEffect, pucSource, pDestination->pData, m_pWork[3], m_pWork[4]);
    } else {
        RunI420Effect(ulEffect, pucSource, pDestination->pData);
    }
    pSource->ulFlags = 0;
    pDestination->ulFlags = 0;
    return VE_SUCCESS;
}

VOID VideoEffects::RunI420Effect(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination)
{
    if (HasOwnI420Path(ulEffect)) {
        VeLumaEffectI420(ulEffect, pucSource, pucDestination, m_ulWidth, m_ulHeight, m_pToneTable);
        return;
    }
    // The others run on an upright-equivalent BGR copy: bottom-up like the RGB stream.
    PUCHAR pucBgr = m_pWork[0] == pucSource ? m_pWork[1] : m_pWork[0];
    PUCHAR pucResult = m_pWork[0] == pucSource ? m_pWork[0] : m_pWork[1];
    VeI420ToBgr(pucSource, pucBgr, m_ulWidth, m_ulHeight, TRUE);
    if (ulEffect == VeEffectGreySketch) {
        // A grey pixel's luma is its own level and its chroma is neutral, so the
        // colour sketch's luma is the grey sketch's: the grey pass is not needed.
        VeSketch(pucBgr, pucResult, m_ulWidth, m_ulHeight, 0);
        VeBgrToI420(pucResult, pucDestination, m_ulWidth, m_ulHeight, TRUE);
        memset(pucDestination + m_ulPixels, 128, PictureBytes() - m_ulPixels);
        return;
    }
    RunBgrEffect(ulEffect, pucBgr, pucResult, m_pWork[3], m_pWork[4]);
    VeBgrToI420(pucResult, pucDestination, m_ulWidth, m_ulHeight, TRUE);
}

VOID VideoEffects::RunBgrEffect(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, PUCHAR pucScratchA,
                                PUCHAR pucScratchB)
{
    switch (ulEffect) {
    case VeEffectNegative: VeNegative(pucSource, pucDestination, static_cast<SIZE_T>(m_ulPixels) * 3); break;
    case VeEffectRelief: VeRelief(pucSource, pucDestination, m_ulWidth, m_ulHeight); break;
    case VeEffectColorSketch: VeSketch(pucSource, pucDestination, m_ulWidth, m_ulHeight, 0); break;
    case VeEffectMosaic: VeMosaic(pucSource, pucDestination, m_ulWidth, m_ulHeight, pucScratchA); break;
    case VeEffectStreaks: VeStreaks(pucSource, pucDestination, m_ulWidth, m_ulHeight); break;
    case VeEffectOilPaint:
        VeOilPaint(pucSource, pucDestination, m_ulWidth, m_ulHeight, pucScratchA, pucScratchB);
        break;
    case VeEffectGreySketch:
        VeSketch(pucSource, pucDestination, m_ulWidth, m_ulHeight, 0);
        VeLumaEffect(VeEffectGrey, pucDestination, pucDestination, m_ulPixels, m_pToneTable);
        break;
    case VeEffectFrostedGlass:
        VeFrostedGlass(pucSource, pucDestination, m_ulWidth, m_ulHeight, pucScratchA, pucScratchB);
        break;
    default: VeLumaEffect(ulEffect, pucSource, pucDestination, m_ulPixels, m_pToneTable); break;
    }
}

ULONG VideoEffects::Negative(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectNegative, pSource, pDestination); }
ULONG VideoEffects::BlackWhite(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectBlackWhite, pSource, pDestination); }
ULONG VideoEffects::GreenTone(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectGreenTone, pSource, pDestination); }
ULONG VideoEffects::Grey(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectGrey, pSource, pDestination); }
ULONG VideoEffects::BlueTone(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectBlueTone, pSource, pDestination); }
ULONG VideoEffects::RedTone(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectRedTone, pSource, pDestination); }
ULONG VideoEffects::Relief(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectRelief, pSource, pDestination); }
ULONG VideoEffects::ColorSketch(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectColorSketch, pSource, pDestination); }
ULONG VideoEffects::Mosaic(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectMosaic, pSource, pDestination); }
ULONG VideoEffects::Streaks(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectStreaks, pSource, pDestination); }
ULONG VideoEffects::Solarise(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectSolarise, pSource, pDestination); }
ULONG VideoEffects::Sepia(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectSepia, pSource, pDestination); }
ULONG VideoEffects::OilPaint(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectOilPaint, pSource, pDestination); }
ULONG VideoEffects::GreySketch(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectGreySketch, pSource, pDestination); }
ULONG VideoEffects::FrostedGlass(PVE_PICTURE pSource, PVE_PICTURE pDestination) { return RunEffect(VeEffectFrostedGlass, pSource, pDestination); }

BOOLEAN VideoEffects::ProcessEffect(PVOID pSource, ULONG ulSourceLength, PVOID pDestination,
                                    ULONG ulDestinationLength, ULONG ulEffect, PVOID pDeviceContext)
{
    KorvalVerifyFloatingPointState("VideoEffects::ProcessEffect");
    (void)pDeviceContext;
    using Operation = ULONG (VideoEffects::*)(PVE_PICTURE, PVE_PICTURE);
    static constexpr Operation kOperations[] = {
        &VideoEffects::Negative,    &VideoEffects::BlackWhite, &VideoEffects::GreenTone,   &VideoEffects::Grey,
        &VideoEffects::BlueTone,    &VideoEffects::RedTone,    &VideoEffects::Relief,      &VideoEffects::ColorSketch,
        &VideoEffects::Mosaic,      &VideoEffects::Streaks,    &VideoEffects::Solarise,    &VideoEffects::Sepia,
        &VideoEffects::OilPaint,    &VideoEffects::GreySketch, &VideoEffects::FrostedGlass};
    if (ulEffect < VeEffectNegative || ulEffect > VeEffectFrostedGlass) {
        return FALSE;
    }
    VE_PICTURE source = {sizeof(VE_PICTURE), static_cast<PUCHAR>(pSource), ulSourceLength, 0};
    VE_PICTURE destination = {sizeof(VE_PICTURE), static_cast<PUCHAR>(pDestination), ulDestinationLength, 0};
    return (this->*kOperations[ulEffect - 1])(&source, &destination) == VE_SUCCESS;
}
