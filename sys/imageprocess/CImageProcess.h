// The image pipeline: one raw Bayer frame in, one BGR24 or I420 frame out at
// one of five output sizes. Owns its seven stages and working buffers, all
// allocated at Open; Process allocates nothing.
#pragma once

#include "base/PoolAllocator.h"
#include "imageprocess/CDefect.h"
#include "imageprocess/ImageHelpers.h"
#include "imageprocess/IpStageParameters.h"

class CAwb;
class CColorProcess;
class CGamma;
class CInterpolation;
class CRearrange;
struct tagIpImageRows;
class CSharpness;

#pragma pack(push, 1)
typedef struct tagIpParameters {
    UCHAR bEnable;        // 0 runs only demosaic, rearrangement and output conversion
    UCHAR bDefect;
    UCHAR bAwb;
    UCHAR bColorProcess;  // colour demosaic with gains and matrix; contrast tables
    UCHAR bSharpness;
    UCHAR bGamma;
    UCHAR bMirror;
    UCHAR bFlip;
    UCHAR ucMeterWidth;   // centred metering window, percent of the frame
    UCHAR ucMeterHeight;
    tagIpDefectParameters sDefect;
    tagIpAwbParameters sAwb;
    tagIpColorParameters sColor;
    USHORT usSharpness;   // low byte: coring threshold, high byte: strength
    tagIpGammaParameters sGamma;
} IpParameters, *PIpParameters;
#pragma pack(pop)
static_assert(sizeof(tagIpParameters) == 68, "tagIpParameters is 68 bytes");

typedef struct tagIpInput {
    PUCHAR pBayer;          // width x height raw frame; corrected in place
    UCHAR ucFrameRate;
    ULONG ulExposure;
    UCHAR ucGainIndex[3];   // R, G, B sensor gain indices
    USHORT usGain[3];       // R, G, B digital gains, 128 = 1.0
} IpInput, *PIpInput;

typedef struct tagIpOutput {
    UCHAR bChanged;         // the next-frame white balance differs from the input
    UCHAR ucMeanLuma;       // mean brightness of the metering window
    PUCHAR pBuffer;         // the caller's output frame
    tagIpDefectBlock sDefect;
    tagIpInput sNextFrame;  // white balance writes ucGainIndex and usGain
} IpOutput, *PIpOutput;

enum : UCHAR { IP_FORMAT_BGR24 = 0, IP_FORMAT_I420 = 1 };
enum : UCHAR { IP_OUTPUT_VGA = 0, IP_OUTPUT_CIF = 1, IP_OUTPUT_QVGA = 2, IP_OUTPUT_QCIF = 3, IP_OUTPUT_QQVGA = 4 };

class KORVAL_EXPORT CImageProcess : public CPoolObject, protected CImageHelpers {
public:
    CImageProcess();
    ~CImageProcess();
    CImageProcess(const CImageProcess&) = delete;
    CImageProcess& operator=(const CImageProcess&) = delete;

    bool Open(ULONG ulWidth, ULONG ulHeight, UCHAR ucBayerPhase, UCHAR ucFormat, UCHAR ucSizeCode,
              UCHAR ucAwbMode, tagIpParameters sIpPara);
    bool Close();
    bool SetParameters(tagIpParameters sIpPara);
    bool GetParameters(tagIpParameters* psIpPara);
    bool Process(tagIpInput sIpInput, tagIpOutput* psIpOutput);

    ULONG OutputWidth() const { return m_ulOutWidth; }
    ULONG OutputHeight() const { return m_ulOutHeight; }

private:
    bool SetOutputSize(UCHAR ucSizeCode);
    bool GeometryAcceptable(ULONG ulWidth, ULONG ulHeight, UCHAR ucSizeCode) const;
    bool AllocateBuffers();
    bool CreateStages();
    bool OpenStages(UCHAR ucAwbMode);
    void Release();
    bool CorrectAndBalance(const tagIpInput& sIpInput, tagIpOutput* psIpOutput);
    bool Demosaic(const tagIpInput& sIpInput, tagIpImageRows* psRows);
    UCHAR RowFlip() const;
    bool Rearrange(const tagIpImageRows& sRows);
    bool Enhance(tagIpOutput* psIpOutput, bool bGreenPlaneWritten);
    bool Sharpen(bool bGreenPlaneWritten);
    UCHAR MeanLuma() const;
    bool ApplyTone(PUCHAR pBytes, ULONG ulCount);
    bool WriteCifI420(PUCHAR pBuffer);
    bool WriteOutput(PUCHAR pBuffer);

    UCHAR m_bOpened;
    tagIpParameters m_sIpPara;
    UCHAR m_ucFormat;
    UCHAR m_ucSizeCode;
    UCHAR m_ucPhase;
    ULONG m_ulWidth;
    ULONG m_ulHeight;
    ULONG m_ulPixels;
    ULONG m_ulBytes;
    ULONG m_ulOutWidth;
    ULONG m_ulOutHeight;
    ULONG m_ulOutPixels;
    ULONG m_ulOutBytes;
    ULONG m_ulPaddedWidth;
    ULONG m_ulPaddedHeight;
    ULONG m_ulPaddedPixels;
    ULONG m_ulMeterWidth;
    ULONG m_ulMeterHeight;
    ULONG m_ulMeterPixels;
    ULONG m_ulMeterOffset;
    ULONG m_ulMeterGap;
    CDefect* m_pDefect;
    CAwb* m_pAwb;
    CInterpolation* m_pInterpolation;
    CRearrange* m_pRearrange;
    CColorProcess* m_pColorProcess;
    CSharpness* m_pSharpness;
    CGamma* m_pGamma;
    PUCHAR m_pPaddedBayer;
    PUCHAR m_pGreenPlane;
    PUCHAR m_pPackedBuffer;
    PUCHAR m_pImageBuffer;
    PUCHAR m_pOutputColorBuffer;
    SHORT* m_pSmoothPlane;
};
