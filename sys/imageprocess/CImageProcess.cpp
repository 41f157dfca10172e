#include "imageprocess/CImageProcess.h"
#include "platform/KernelFloatingPoint.h"

#include "imageprocess/CAwb.h"
#include "imageprocess/CColorProcess.h"
#include "imageprocess/CGamma.h"
#include "imageprocess/CInterpolation.h"
#include "imageprocess/CInterpolationKernels.h"
#include "imageprocess/CRearrange.h"
#include "imageprocess/CSharpness.h"
#include "platform/CpuFeatures.h"

#include <cstring>
#include <emmintrin.h>

namespace {

// The crop that the VGA, QVGA and QQVGA outputs take from the sensor frame.
constexpr ULONG kCropWidth = 320;
constexpr ULONG kCropHeight = 240;
constexpr ULONG kCifWidth = 352;
constexpr ULONG kCifHeight = 288;
// ScaleBuffer reads one pixel past its source rows.
constexpr SIZE_T kPackedSlack = 16;

// The enlargement blends each row's last pixel with the next row's first (and,
// on the last rows, with what lies past the picture), a wrong-coloured right
// edge: the last column repeats the one before, the row's last frame pixel.
void RepeatLastColumn(PUCHAR pucPicture, ULONG ulWidth, ULONG ulHeight)
{
    const SIZE_T cbRow = 3 * static_cast<SIZE_T>(ulWidth);
    for (ULONG r = 0; r < ulHeight; ++r) {
        PUCHAR pucRow = pucPicture + r * cbRow;
        memcpy(pucRow + cbRow - 3, pucRow + cbRow - 6, 3);
    }
}

template <typename T>
void DeleteStage(T*& pStage)
{
    if (pStage != nullptr) {
        pStage->Close();
        delete pStage;
        pStage = nullptr;
    }
}

template <typename T>
void FreeBuffer(T*& pBuffer)
{
    KorvalFree(pBuffer);
    pBuffer = nullptr;
}

bool SameGains(const tagIpInput& sInput, const tagIpInput& sNext)
{
    for (int i = 0; i < 3; ++i) {
        if (sInput.ucGainIndex[i] != sNext.ucGainIndex[i] || sInput.usGain[i] != sNext.usGain[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

KORVAL_SSE2_BEGIN

namespace {

// The metering sum 16 pixels at a time: every byte is shifted by its
// channel's amount, then byte sums are taken with SAD.
ULONG MeterSumSse2(const UCHAR* p, ULONG ulWidth, ULONG ulHeight, ULONG ulGap)
{
    const __m128i vQuarterMask = _mm_set1_epi8(0x3F);
    const __m128i vHalfMask = _mm_set1_epi8(0x7F);
    __m128i avGreen[3];
    for (int k = 0; k < 3; ++k) {
        alignas(16) char acMask[16];
        for (int i = 0; i < 16; ++i) {
            acMask[i] = static_cast<char>((16 * k + i) % 3 == 1 ? -1 : 0);
        }
        avGreen[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(acMask));
    }
    __m128i vTotal = _mm_setzero_si128();
    ULONG ulSum = 0;
    for (ULONG r = 0; r < ulHeight; ++r) {
        ULONG c = 0;
        for (; c + 16 <= ulWidth; c += 16, p += 48) {
            for (int k = 0; k < 3; ++k) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
                const __m128i vQuarter = _mm_and_si128(_mm_srli_epi16(v, 2), vQuarterMask);
                const __m128i vHalf = _mm_and_si128(_mm_srli_epi16(v, 1), vHalfMask);
                const __m128i vWeighted =
                    _mm_or_si128(_mm_and_si128(avGreen[k], vHalf), _mm_andnot_si128(avGreen[k], vQuarter));
                vTotal = _mm_add_epi64(vTotal, _mm_sad_epu8(vWeighted, _mm_setzero_si128()));
            }
        }
        for (; c < ulWidth; ++c, p += 3) {
            ulSum += (p[0] >> 2) + (p[1] >> 1) + (p[2] >> 2);
        }
        p += ulGap;
    }
    return ulSum + static_cast<ULONG>(_mm_cvtsi128_si32(vTotal)) +
           static_cast<ULONG>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(vTotal, vTotal)));
}

} // namespace

KORVAL_SSE2_END

CImageProcess::CImageProcess()
    : m_bOpened(0), m_sIpPara{}, m_ucFormat(0), m_ucSizeCode(0), m_ucPhase(0), m_ulWidth(0), m_ulHeight(0),
      m_ulPixels(0), m_ulBytes(0), m_ulOutWidth(0), m_ulOutHeight(0), m_ulOutPixels(0), m_ulOutBytes(0),
      m_ulPaddedWidth(0), m_ulPaddedHeight(0), m_ulPaddedPixels(0), m_ulMeterWidth(0), m_ulMeterHeight(0),
      m_ulMeterPixels(0), m_ulMeterOffset(0), m_ulMeterGap(0), m_pDefect(nullptr), m_pAwb(nullptr),
      m_pInterpolation(nullptr), m_pRearrange(nullptr), m_pColorProcess(nullptr), m_pSharpness(nullptr),
      m_pGamma(nullptr), m_pPaddedBayer(nullptr), m_pGreenPlane(nullptr), m_pPackedBuffer(nullptr),
      m_pImageBuffer(nullptr), m_pOutputColorBuffer(nullptr), m_pSmoothPlane(nullptr)
{
}

CImageProcess::~CImageProcess()
{
    Release();
}

bool CImageProcess::SetOutputSize(UCHAR ucSizeCode)
{
    static const struct {
        ULONG ulWidth;
        ULONG ulHeight;
        PCSTR pszBanner;
    } s_asSizes[] = {
        {640, 480, "\t=== IP_OUTPUT_VGA ===\n"},  {352, 288, "\t=== IP_OUTPUT_CIF ===\n"},
        {320, 240, "\t=== IP_OUTPUT_QVGA ===\n"}, {176, 144, "\t=== IP_OUTPUT_QCIF ===\n"},
        {160, 120, "\t=== IP_OUTPUT_QQVGA ===\n"},
    };
    if (ucSizeCode >= sizeof(s_asSizes) / sizeof(s_asSizes[0])) {
        return false;
    }
    m_ulOutWidth = s_asSizes[ucSizeCode].ulWidth;
    m_ulOutHeight = s_asSizes[ucSizeCode].ulHeight;
    m_ulOutPixels = m_ulOutWidth * m_ulOutHeight;
    m_ulOutBytes = 3 * m_ulOutPixels;
    DbgPrint(s_asSizes[ucSizeCode].pszBanner);
    return true;
}

// The demosaic works on groups of 8 columns and row pairs; CIF and QCIF take
// the whole CIF frame, the other sizes its centre 320 x 240.
bool CImageProcess::GeometryAcceptable(ULONG ulWidth, ULONG ulHeight, UCHAR ucSizeCode) const
{
    if (ulWidth == 0 || ulWidth % 8 != 0 || ulHeight < 4 || ulHeight % 2 != 0 || ulWidth > 4096 ||
        ulHeight > 4096) {
        return false;
    }
    if (ucSizeCode == IP_OUTPUT_CIF || ucSizeCode == IP_OUTPUT_QCIF) {
        return ulWidth == kCifWidth && ulHeight == kCifHeight;
    }
    return ucSizeCode <= IP_OUTPUT_QQVGA && ulWidth >= kCropWidth && ulHeight >= kCropHeight;
}

bool CImageProcess::AllocateBuffers()
{
    m_pPaddedBayer = static_cast<PUCHAR>(KorvalAllocate(m_ulPaddedPixels));
    m_pGreenPlane = static_cast<PUCHAR>(KorvalAllocate(m_ulPaddedPixels));
    m_pPackedBuffer = static_cast<PUCHAR>(KorvalAllocate(m_ulBytes + kPackedSlack));
    m_pImageBuffer = static_cast<PUCHAR>(KorvalAllocate(m_ulBytes));
    m_pSmoothPlane = static_cast<SHORT*>(KorvalAllocate(2 * static_cast<SIZE_T>(m_ulPixels)));
    if (m_ucFormat == IP_FORMAT_I420) {
        m_pOutputColorBuffer = static_cast<PUCHAR>(KorvalAllocate(m_ulOutBytes));
        if (m_pOutputColorBuffer == nullptr) {
            return false;
        }
    }
    if (m_pPaddedBayer == nullptr || m_pGreenPlane == nullptr || m_pPackedBuffer == nullptr ||
        m_pImageBuffer == nullptr || m_pSmoothPlane == nullptr) {
        return false;
    }
    // The demosaic reads the 2-pixel frame, which no frame copy writes.
    memset(m_pPaddedBayer, 0, m_ulPaddedPixels);
    memset(m_pPackedBuffer, 0, m_ulBytes + kPackedSlack);
    return true;
}

bool CImageProcess::CreateStages()
{
    m_pDefect = new CDefect;
    m_pAwb = new CAwb;
    m_pInterpolation = new CInterpolation;
    m_pRearrange = new CRearrange;
    m_pColorProcess = new CColorProcess;
    m_pSharpness = new CSharpness;
    m_pGamma = new CGamma;
    return m_pDefect != nullptr && m_pAwb != nullptr && m_pInterpolation != nullptr && m_pRearrange != nullptr &&
           m_pColorProcess != nullptr && m_pSharpness != nullptr && m_pGamma != nullptr;
}

bool CImageProcess::OpenStages(UCHAR ucAwbMode)
{
    const tagIpParameters& p = m_sIpPara;
    const char* pszFailure = nullptr;
    if (!m_pDefect->Open(m_ulWidth, m_ulHeight, p.sDefect)) {
        pszFailure = " ERROR: m_pDefect->Open() Failed !\n";
    } else if (!m_pAwb->Open(m_ulWidth, m_ulHeight, m_ucPhase, ucAwbMode, p.sAwb)) {
        pszFailure = " ERROR: m_pAwb->Open() Failed !\n";
    } else if (!m_pInterpolation->Open(m_ulPaddedWidth, m_ulPaddedHeight, 0)) {
        pszFailure = " ERROR: m_pInterpolation->Open() Failed !\n";
    } else if (!m_pRearrange->Open(m_ulWidth, m_ulHeight)) {
        pszFailure = " ERROR: m_pRearrange->Open() Failed !\n";
    } else if (!m_pColorProcess->Open(m_ulWidth, m_ulHeight, 0, p.sColor)) {
        pszFailure = " ERROR: m_pColorProcess->Open() Failed !\n";
    } else if (!m_pSharpness->Open(m_ulWidth, m_ulHeight, p.usSharpness)) {
        pszFailure = " ERROR: m_pSharpness->Open() Failed !\n";
    } else if (!m_pGamma->Open(m_ulWidth, m_ulHeight, p.sGamma)) {
        pszFailure = " ERROR: m_pGamma->Open() Failed !\n";
    }
    if (pszFailure != nullptr) {
        DbgPrint(pszFailure);
        return false;
    }
    return true;
}

bool CImageProcess::Open(ULONG ulWidth, ULONG ulHeight, UCHAR ucBayerPhase, UCHAR ucFormat, UCHAR ucSizeCode,
                         UCHAR ucAwbMode, tagIpParameters sIpPara)
{
    KorvalVerifyFloatingPointState("CImageProcess::Open");
    if (m_bOpened) {
        DbgPrint("\tERROR: Try to ReOpen ImageProcess !\n");
        Release();
        return false;
    }
    if (!GeometryAcceptable(ulWidth, ulHeight, ucSizeCode)) {
        DbgPrint("\tERROR: Invalid Parameters in ImageProcess Open\n");
        return false;
    }
    m_sIpPara = sIpPara;
    m_ucPhase = ucBayerPhase;
    m_ucFormat = ucFormat;
    m_ucSizeCode = ucSizeCode;
    m_ulWidth = ulWidth;
    m_ulHeight = ulHeight;
    m_ulPixels = ulWidth * ulHeight;
    m_ulBytes = 3 * m_ulPixels;
    m_ulPaddedWidth = ulWidth + 4;
    m_ulPaddedHeight = ulHeight + 4;
    m_ulPaddedPixels = m_ulPaddedWidth * m_ulPaddedHeight;
    SetOutputSize(ucSizeCode);
    if (!AllocateBuffers() || !CreateStages() || !OpenStages(ucAwbMode)) {
        Release();
        return false;
    }
    SetParameters(sIpPara);
    m_bOpened = 1;
    return true;
}

void CImageProcess::Release()
{
    DeleteStage(m_pDefect);
    DeleteStage(m_pAwb);
    DeleteStage(m_pInterpolation);
    DeleteStage(m_pRearrange);
    DeleteStage(m_pColorProcess);
    DeleteStage(m_pSharpness);
    DeleteStage(m_pGamma);
    FreeBuffer(m_pPaddedBayer);
    FreeBuffer(m_pGreenPlane);
    FreeBuffer(m_pPackedBuffer);
    FreeBuffer(m_pImageBuffer);
    FreeBuffer(m_pOutputColorBuffer);
    FreeBuffer(m_pSmoothPlane);
    m_bOpened = 0;
}

bool CImageProcess::Close()
{
    if (!m_bOpened) {
        DbgPrint("ERROR: ImageProcess not yet Opened !\n");
        return false;
    }
    Release();
    return true;
}

bool CImageProcess::SetParameters(tagIpParameters sIpPara)
{
    KorvalVerifyFloatingPointState("CImageProcess::SetParameters");
    // Percentages above 100 would put the window outside the frame.
    const ULONG ulWidthPercent = sIpPara.ucMeterWidth > 100 ? 100 : sIpPara.ucMeterWidth;
    const ULONG ulHeightPercent = sIpPara.ucMeterHeight > 100 ? 100 : sIpPara.ucMeterHeight;
    m_ulMeterWidth = ulWidthPercent * m_ulWidth / 100;
    m_ulMeterHeight = ulHeightPercent * m_ulHeight / 100;
    m_ulMeterPixels = m_ulMeterWidth * m_ulMeterHeight;
    const ULONG ulRow = (m_ulHeight - m_ulMeterHeight) >> 1;
    const ULONG ulColumn = (m_ulWidth - m_ulMeterWidth) >> 1;
    m_ulMeterOffset = 3 * (ulRow * m_ulWidth + ulColumn);
    m_ulMeterGap = 3 * (m_ulWidth - m_ulMeterWidth);
    m_sIpPara = sIpPara;
    if (m_pDefect != nullptr) {
        m_pDefect->SetParameters(sIpPara.sDefect);
    }
    if (m_pAwb != nullptr) {
        m_pAwb->SetParameters(sIpPara.sAwb);
    }
    if (m_pColorProcess != nullptr) {
        m_pColorProcess->SetParameters(sIpPara.sColor);
    }
    if (m_pSharpness != nullptr) {
        m_pSharpness->SetParameters(sIpPara.usSharpness);
    }
    if (m_pGamma != nullptr) {
        m_pGamma->SetParameters(sIpPara.sGamma);
    }
    return true;
}

bool CImageProcess::GetParameters(tagIpParameters* psIpPara)
{
    if (psIpPara == nullptr) {
        DbgPrint(" ERROR: psIpPara == NULL\n");
        return false;
    }
    if (m_pDefect != nullptr) {
        m_pDefect->GetParameters(&m_sIpPara.sDefect);
    }
    if (m_pAwb != nullptr) {
        m_pAwb->GetParameters(&m_sIpPara.sAwb);
    }
    if (m_pColorProcess != nullptr) {
        m_pColorProcess->GetParameters(&m_sIpPara.sColor);
    }
    USHORT usSharpness = m_sIpPara.usSharpness;  // the packed field may be unaligned
    if (m_pSharpness != nullptr && m_pSharpness->GetParameters(&usSharpness)) {
        m_sIpPara.usSharpness = usSharpness;
    }
    if (m_pGamma != nullptr) {
        m_pGamma->GetParameters(&m_sIpPara.sGamma);
    }
    memcpy(psIpPara, &m_sIpPara, sizeof(*psIpPara));
    return true;
}

bool CImageProcess::Process(tagIpInput sIpInput, tagIpOutput* psIpOutput)
{
    KorvalVerifyFloatingPointState("CImageProcess::Process");
    bool bReady = true;
    if (!m_bOpened) {
        DbgPrint(" ERROR: ImageProcess not yet Opened !\n");
        bReady = false;
    }
    if (psIpOutput == nullptr) {
        DbgPrint(" ERROR: psIpOutput == NULL\n");
        bReady = false;
    }
    if (!bReady) {
        return false;
    }
    if (sIpInput.pBayer == nullptr || psIpOutput->pBuffer == nullptr) {
        DbgPrint(" ERROR: Buffer == NULL\n");
        return false;
    }
    psIpOutput->bChanged = 0;
    if (m_sIpPara.bEnable && !CorrectAndBalance(sIpInput, psIpOutput)) {
        return false;
    }
    for (ULONG r = 0; r < m_ulHeight; ++r) {
        memcpy(m_pPaddedBayer + (r + 2) * m_ulPaddedWidth + 2, sIpInput.pBayer + r * m_ulWidth, m_ulWidth);
    }
    // Where the colour pass writes the rows itself, the rearrangement is left out,
    // and the green plane that sharpening starts from comes with them.
    const bool bSharpen = m_sIpPara.bEnable && m_sIpPara.bSharpness;
    tagIpImageRows sRows{m_pImageBuffer, bSharpen ? m_pPackedBuffer : nullptr, m_sIpPara.bMirror, RowFlip(), FALSE};
    if (!Demosaic(sIpInput, &sRows) || (!sRows.bWritten && !Rearrange(sRows))) {
        return false;
    }
    if (m_sIpPara.bEnable && !Enhance(psIpOutput, sRows.bWritten)) {
        return false;
    }
    if (m_ucFormat != IP_FORMAT_BGR24 && m_ucFormat != IP_FORMAT_I420) {
        return false;
    }
    return WriteOutput(psIpOutput->pBuffer);
}

bool CImageProcess::CorrectAndBalance(const tagIpInput& sIpInput, tagIpOutput* psIpOutput)
{
    if (m_sIpPara.bDefect) {
        if (m_pDefect == nullptr) {
            DbgPrint(" ERROR: m_pDefect == NULL\n");
            return false;
        }
        if (!m_pDefect->Process(sIpInput.pBayer, sIpInput.ucFrameRate, sIpInput.ulExposure, &psIpOutput->sDefect)) {
            DbgPrint(" ERROR: m_pDefect->Process() Failed !\n");
            return false;
        }
    }
    tagIpInput& sNext = psIpOutput->sNextFrame;
    if (!m_sIpPara.bAwb) {
        psIpOutput->bChanged = 1;
        memcpy(sNext.ucGainIndex, sIpInput.ucGainIndex, sizeof(sNext.ucGainIndex));
        memcpy(sNext.usGain, sIpInput.usGain, sizeof(sNext.usGain));
        return true;
    }
    if (m_pAwb == nullptr) {
        DbgPrint(" ERROR: m_pAwb == NULL\n");
        return false;
    }
    if (!m_pAwb->Process(sIpInput.pBayer, sIpInput.ucGainIndex, sIpInput.usGain, sNext.ucGainIndex, sNext.usGain)) {
        DbgPrint(" ERROR: m_pAwb->Process() Failed !\n");
        return false;
    }
    if (!SameGains(sIpInput, sNext)) {
        psIpOutput->bChanged = 1;
    }
    return true;
}

bool CImageProcess::Demosaic(const tagIpInput& sIpInput, tagIpImageRows* psRows)
{
    if (m_sIpPara.bEnable && m_sIpPara.bColorProcess) {
        if (m_pColorProcess == nullptr) {
            DbgPrint(" ERROR: m_pColorProcess == NULL\n");
            return false;
        }
        tagIpColorParameters sColor;
        m_pColorProcess->GetParameters(&sColor);
        memcpy(sColor.usGain, sIpInput.usGain, sizeof(sColor.usGain));
        m_pColorProcess->SetParameters(sColor);
        if (m_ucPhase > 3) {
            return true;
        }
        if (!m_pColorProcess->Process(m_pPaddedBayer, m_pGreenPlane, m_pPackedBuffer, m_ucPhase, psRows)) {
            DbgPrint(" ERROR: m_pColorProcess->Process() Failed !\n");
            return false;
        }
        return true;
    }
    if (m_pInterpolation == nullptr) {
        DbgPrint(" ERROR: m_pInterpolation == NULL\n");
        return false;
    }
    if (m_ucPhase <= 3 &&
        !m_pInterpolation->Process(m_pPaddedBayer, m_pGreenPlane, m_pPackedBuffer, m_ucPhase, psRows)) {
        DbgPrint(" ERROR: Interpolation Failed !\n");
        return false;
    }
    if (m_pGamma != nullptr) {
        // The plain path has no contrast stretch: identity black point and brightness.
        tagIpGammaParameters sGamma;
        m_pGamma->GetParameters(&sGamma);
        sGamma.usBlackPoint = 0;
        sGamma.usBrightness = 255;
        m_pGamma->SetParameters(sGamma);
    }
    return true;
}

// I420 rows run top-down and BGR24 rows bottom-up, so I420 takes the opposite
// flip to show the picture the same way up.
UCHAR CImageProcess::RowFlip() const
{
    if (m_ucFormat == IP_FORMAT_I420) {
        return m_sIpPara.bFlip == 1 ? 0 : 1;
    }
    return m_sIpPara.bFlip;
}

bool CImageProcess::Rearrange(const tagIpImageRows& sRows)
{
    if (m_pRearrange == nullptr) {
        DbgPrint(" ERROR: m_pRearrange == NULL\n");
        return false;
    }
    if (!m_pRearrange->Process_4B4G4R(m_pPackedBuffer, sRows.pImage, sRows.ucMirror, sRows.ucFlip)) {
        DbgPrint(" ERROR: m_pRearrange->Process_4B4G4R() Failed !\n");
        return false;
    }
    return true;
}

bool CImageProcess::Enhance(tagIpOutput* psIpOutput, bool bGreenPlaneWritten)
{
    if (m_sIpPara.bSharpness && !Sharpen(bGreenPlaneWritten)) {
        return false;
    }
    if (m_ulMeterPixels != 0) {
        psIpOutput->ucMeanLuma = MeanLuma();
    }
    if (m_pGamma == nullptr) {
        DbgPrint(" ERROR: m_pGamma == NULL\n");
        return false;
    }
    return true;
}

// The tone tables map each byte alone, so they are applied where the output
// step copies the picture: to the crop that the cropped sizes keep, and band
// by band just before the CIF I420 conversion reads the rows.
bool CImageProcess::ApplyTone(PUCHAR pBytes, ULONG ulCount)
{
    if (!m_sIpPara.bEnable) {
        return true;
    }
    if (!m_pGamma->ProcessBytes(pBytes, ulCount, m_sIpPara.bGamma, m_sIpPara.bColorProcess)) {
        DbgPrint(" ERROR: m_pGamma->Process() Failed !\n");
        return false;
    }
    return true;
}

bool CImageProcess::Sharpen(bool bGreenPlaneWritten)
{
    if (m_pSharpness == nullptr) {
        return false;
    }
    if (!bGreenPlaneWritten) {
        BGRtoY(m_pImageBuffer, m_pPackedBuffer, m_ulWidth, m_ulHeight);
    }
    SmoothBuffer(m_pPackedBuffer, m_pSmoothPlane, m_ulWidth, m_ulHeight);
    if (!m_pSharpness->ProcessMMX(m_pSmoothPlane, m_pImageBuffer)) {
        DbgPrint(" ERROR: m_pSharpness->ProcessMMX() Failed !\n");
        return false;
    }
    return true;
}

// Sum of (B >> 2) + (G >> 1) + (R >> 2) over the metering window.
UCHAR CImageProcess::MeanLuma() const
{
    const UCHAR* p = m_pImageBuffer + m_ulMeterOffset;
    ULONG ulSum = 0;
    if (CpuHasSse2()) {
        ulSum = MeterSumSse2(p, m_ulMeterWidth, m_ulMeterHeight, m_ulMeterGap);
    } else {
        for (ULONG r = 0; r < m_ulMeterHeight; ++r, p += m_ulMeterGap) {
            for (ULONG c = 0; c < m_ulMeterWidth; ++c, p += 3) {
                ulSum += (p[0] >> 2) + (p[1] >> 1) + (p[2] >> 2);
            }
        }
    }
    return static_cast<UCHAR>(ulSum / m_ulMeterPixels);
}

// Bands of 16 rows (17 KB) stay in the first-level cache from the tone
// tables through the repeated edge to the conversion.
bool CImageProcess::WriteCifI420(PUCHAR pBuffer)
{
    constexpr ULONG kBandRows = 16;
    const ULONG cbRow = 3 * kCifWidth;
    for (ULONG ulFirst = 0; ulFirst < kCifHeight; ulFirst += kBandRows) {
        if (!ApplyTone(m_pImageBuffer + ulFirst * cbRow, kBandRows * cbRow)) {
            return false;
        }
        EdgeRepeatRows(m_pImageBuffer, kCifWidth, kCifHeight, ulFirst, kBandRows);
        BGR24toI420Rows(m_pImageBuffer, pBuffer, kCifWidth, kCifHeight, ulFirst, kBandRows);
    }
    return true;
}

bool CImageProcess::WriteOutput(PUCHAR pBuffer)
{
    const bool bI420 = m_ucFormat == IP_FORMAT_I420;
    PUCHAR pDestination = bI420 ? m_pOutputColorBuffer : pBuffer;
    const ULONG cbCrop = 3 * kCropWidth * kCropHeight;
    switch (m_ucSizeCode) {
    case IP_OUTPUT_VGA:
        CropColorBuffer(m_pImageBuffer, m_pPackedBuffer, m_ulWidth, m_ulHeight, kCropWidth, kCropHeight);
        if (!ApplyTone(m_pPackedBuffer, cbCrop)) {
            return false;
        }
        ScaleBuffer(m_pPackedBuffer, pDestination, kCropWidth, kCropHeight);
        RepeatLastColumn(pDestination, 2 * kCropWidth, 2 * kCropHeight);
        break;
    case IP_OUTPUT_CIF:
        // I420 converts the picture where it is, which the next frame rebuilds anyway.
        if (bI420) {
            return WriteCifI420(pBuffer);
        }
        if (!ApplyTone(m_pImageBuffer, m_ulBytes)) {
            return false;
        }
        memcpy(pDestination, m_pImageBuffer, 3 * kCifWidth * kCifHeight);
        ColorBufferEdgeRepeat(pDestination, kCifWidth, kCifHeight);
        break;
    case IP_OUTPUT_QVGA:
        CropColorBuffer(m_pImageBuffer, pDestination, m_ulWidth, m_ulHeight, kCropWidth, kCropHeight);
        if (!ApplyTone(pDestination, cbCrop)) {
            return false;
        }
        break;
    case IP_OUTPUT_QCIF:
        if (!ApplyTone(m_pImageBuffer, m_ulBytes)) {
            return false;
        }
        SubSampleBuffer(m_pImageBuffer, pDestination, m_ulWidth, m_ulHeight);
        ColorBufferEdgeRepeat(pDestination, kCifWidth / 2, kCifHeight / 2);
        break;
    default:
        CropColorBuffer(m_pImageBuffer, m_pPackedBuffer, m_ulWidth, m_ulHeight, kCropWidth, kCropHeight);
        if (!ApplyTone(m_pPackedBuffer, cbCrop)) {
            return false;
        }
        SubSampleBuffer(m_pPackedBuffer, pDestination, kCropWidth, kCropHeight);
        break;
    }
    if (bI420) {
        return BGR24toI420(pDestination, pBuffer, m_ulOutWidth, m_ulOutHeight);
    }
    return true;
}
