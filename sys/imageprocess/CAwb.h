// Automatic white balance: on one call in four, a grey-world estimate over the
// near-grey samples of a coarse grid of the raw Bayer frame moves the red and
// blue digital gains part of the way towards equal R, G and B sums.
#pragma once

#include "base/PoolAllocator.h"
#include "imageprocess/IpStageParameters.h"

class CAwb : public CPoolObject {
public:
    CAwb();

    bool Open(ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase, UCHAR ucMode,
              tagIpAwbParameters sParameters);
    bool Close();
    bool SetParameters(tagIpAwbParameters sParameters);
    bool GetParameters(tagIpAwbParameters* psParameters) const;

    // Reads the raw frame (width x height) and the current sensor gain indices
    // and digital gains (R, G, B); writes the next frame's indices and gains
    // (the next-frame block of the pipeline's output) through the two pointers.
    bool Process(const UCHAR* pBayer, const UCHAR aucGainIndex[3], const USHORT ausGain[3],
                 PUCHAR pucNextGainIndex, PUSHORT pusNextGain);
    // The same with the plain per-block measurement that the fast one is held to.
    bool ProcessReference(const UCHAR* pBayer, const UCHAR aucGainIndex[3], const USHORT ausGain[3],
                          PUCHAR pucNextGainIndex, PUSHORT pusNextGain);

private:
    bool Run(const UCHAR* pBayer, const UCHAR aucGainIndex[3], const USHORT ausGain[3],
             PUCHAR pucNextGainIndex, PUSHORT pusNextGain, bool bReference);
    void Measure(const UCHAR* pBayer, const UCHAR aucGainIndex[3], const USHORT ausGain[3],
                 PUSHORT pusNextGain, bool bReference) const;
    double Limit(double dGain) const;
    double Steps(double dRatio) const;
    double StepsTowards(double dRatio, double dBalance) const;

    tagIpAwbParameters m_sParameters;
    BOOLEAN m_bOpened;
    UCHAR m_ucMode;
    UCHAR m_ucPhase;
    ULONG m_ulWidth;
    ULONG m_ulHeight;
    ULONG m_ulBlocksPerRow;
    ULONG m_ulBlockRows;
    ULONG m_ulBlockRowStep;
    UCHAR m_ucIndexDivisor;
    UCHAR m_ucFrameCounter;
    UCHAR m_ucPeriod;
    double m_dSpeed;
    double m_dMaxGain;
    double m_dMinGain;
};
