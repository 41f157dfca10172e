// The colour-processing demosaic: the plain demosaic's green and colour-
// difference passes fused with per-channel digital gains and one composite
// colour matrix (hue/saturation and the user matrix in a luma/colour-difference
// space), all in 16-bit fixed point.
#pragma once

#include "base/PoolAllocator.h"
#include "imageprocess/IpStageParameters.h"

struct tagIpImageRows;

class CColorProcess : public CPoolObject {
public:
    CColorProcess();

    // Image sizes (not padded): width a positive multiple of 8, height even.
    bool Open(ULONG ulWidth, ULONG ulHeight, UCHAR ucSmoothing, tagIpColorParameters sParameters);
    bool Close();
    bool SetParameters(tagIpColorParameters sParameters);
    bool GetParameters(tagIpColorParameters* psParameters) const;

    // Geometry A is phase 0 (B at the top left), geometry B phase 1; phases 2
    // and 3 are those two with red and blue exchanged. A phase above 3 is refused.
    // With psImage, the BGR24 rows are written directly where this processor's
    // colour pass can (psImage->bWritten), and the packed groups otherwise.
    bool Process(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, PUCHAR pPacked, UCHAR ucPhase = 0,
                 tagIpImageRows* psImage = nullptr);
    bool ProcessReference(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, PUCHAR pPacked,
                          UCHAR ucPhase = 0);

    // Fixed-point state for tests and tools: Q13 gains (R, G, B), Q13 composite
    // coefficients c0..c8, and how many times the composite has been built.
    const SHORT* GainWords() const { return m_asGainQ13; }
    const SHORT* CompositeCoefficients() const { return m_asCompositeQ13; }
    const double* CompositeMatrix() const { return m_adComposite; }
    ULONG CompositeBuilds() const { return m_ulCompositeBuilds; }

private:
    bool Run(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, PUCHAR pPacked, UCHAR ucPhase,
             tagIpImageRows* psImage, bool bReference);
    void BuildGains(const tagIpColorParameters& sParameters);
    void BuildUserMatrix(const tagIpColorParameters& sParameters);
    void BuildHueSaturation(const tagIpColorParameters& sParameters);
    void BuildComposite();

    tagIpColorParameters m_sParameters;
    BOOLEAN m_bOpened;
    UCHAR m_ucSmoothing;
    ULONG m_ulWidth;
    ULONG m_ulHeight;
    ULONG m_ulPaddedWidth;
    ULONG m_ulPaddedHeight;
    double m_dFixedScale;
    SHORT m_asGainQ13[3];
    double m_adMatrix[9];
    double m_adCcm[9];
    double m_adHs[9];
    double m_adFwd[9];
    double m_adInv[9];
    double m_adComposite[9];
    SHORT m_asCompositeQ13[9];
    ULONG m_ulCompositeBuilds;
};
