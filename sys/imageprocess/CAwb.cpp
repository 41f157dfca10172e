#include "platform/CpuFeatures.h"
#include "imageprocess/CAwb.h"

#include "runtime/KernelMath.h"
#include <cstring>

#include "imageprocess/CAwbKernels.h"
#include "imageprocess/CInterpolationKernels.h"

namespace {

// Row and column of the B, G and R samples in each block's top-left cell.
struct tagSampleSites {
    UCHAR ucBlueRow, ucBlueColumn, ucGreenRow, ucGreenColumn, ucRedRow, ucRedColumn;
};

const tagSampleSites kSites[4] = {
    {0, 0, 0, 1, 1, 1},  // B G / G R
    {0, 1, 0, 0, 1, 0},  // G B / R G
    {1, 0, 1, 1, 0, 1},  // G R / B G
    {1, 1, 1, 0, 0, 0},  // R G / G B
};

constexpr double kEnoughGrey = 3000.0;

} // namespace

CAwb::CAwb()
    : m_sParameters{}, m_bOpened(FALSE), m_ucMode(0), m_ucPhase(0), m_ulWidth(0), m_ulHeight(0),
      m_ulBlocksPerRow(0), m_ulBlockRows(0), m_ulBlockRowStep(0), m_ucIndexDivisor(8),
      m_ucFrameCounter(0), m_ucPeriod(3), m_dSpeed(0.0), m_dMaxGain(0.0), m_dMinGain(0.0)
{
}

bool CAwb::Open(ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase, UCHAR ucMode,
                tagIpAwbParameters sParameters)
{
    if (m_bOpened) {
        return false;
    }
    m_ulWidth = ulWidth;
    m_ulHeight = ulHeight;
    m_ucPhase = ucPhase;
    m_ucMode = ucMode;
    m_ulBlocksPerRow = ulWidth / 4;
    m_ulBlockRows = ulHeight / 4;
    m_ulBlockRowStep = 3 * ulWidth;
    m_ucIndexDivisor = 8;
    m_ucPeriod = 3;
    m_ucFrameCounter = m_ucPeriod;
    SetParameters(sParameters);
    m_bOpened = TRUE;
    return true;
}

bool CAwb::Close()
{
    m_bOpened = FALSE;
    m_ulWidth = 0;
    m_ulHeight = 0;
    return true;
}

bool CAwb::SetParameters(tagIpAwbParameters sParameters)
{
    m_sParameters = sParameters;
    m_dSpeed = sParameters.ucSpeed * 0.01;
    m_dMaxGain = sParameters.usMaxGain / 128.0;
    m_dMinGain = sParameters.usMinGain / 128.0;
    return true;
}

bool CAwb::GetParameters(tagIpAwbParameters* psParameters) const
{
    if (psParameters == nullptr) {
        return false;
    }
    *psParameters = m_sParameters;
    return true;
}

bool CAwb::Process(const UCHAR* pBayer, const UCHAR aucGainIndex[3], const USHORT ausGain[3],
                   PUCHAR pucNextGainIndex, PUSHORT pusNextGain)
{
    return Run(pBayer, aucGainIndex, ausGain, pucNextGainIndex, pusNextGain, false);
}

bool CAwb::ProcessReference(const UCHAR* pBayer, const UCHAR aucGainIndex[3], const USHORT ausGain[3],
                            PUCHAR pucNextGainIndex, PUSHORT pusNextGain)
{
    return Run(pBayer, aucGainIndex, ausGain, pucNextGainIndex, pusNextGain, true);
}

bool CAwb::Run(const UCHAR* pBayer, const UCHAR aucGainIndex[3], const USHORT ausGain[3],
               PUCHAR pucNextGainIndex, PUSHORT pusNextGain, bool bReference)
{
    if (!m_bOpened || pBayer == nullptr || aucGainIndex == nullptr || ausGain == nullptr ||
        pucNextGainIndex == nullptr || pusNextGain == nullptr) {
        return false;
    }
    memcpy(pucNextGainIndex, aucGainIndex, 3);
    memcpy(pusNextGain, ausGain, 3 * sizeof(USHORT));
    if (m_ucFrameCounter < m_ucPeriod) {
        ++m_ucFrameCounter;
        return true;
    }
    m_ucFrameCounter = 0;
    if (m_ucPhase > 3) {
        return false;
    }
    Measure(pBayer, aucGainIndex, ausGain, pusNextGain, bReference);
    pucNextGainIndex[0] = 0;
    pucNextGainIndex[1] = 0;
    pucNextGainIndex[2] = 0;
    return true;
}

void CAwb::Measure(const UCHAR* pBayer, const UCHAR aucGainIndex[3], const USHORT ausGain[3],
                   PUSHORT pusNextGain, bool bReference) const
{
    double gainR = ausGain[0] / 128.0;
    double gainG = ausGain[1] / 128.0;
    double gainB = ausGain[2] / 128.0;
    double factorR = 1.0 + static_cast<double>(aucGainIndex[0]) / m_ucIndexDivisor;
    double factorG = 1.0 + static_cast<double>(aucGainIndex[1]) / m_ucIndexDivisor;
    double factorB = 1.0 + static_cast<double>(aucGainIndex[2]) / m_ucIndexDivisor;
    double relR = factorR * gainR / (factorG * gainG);
    double relB = factorB * gainB / (factorG * gainG);

    const tagSampleSites& site = kSites[m_ucPhase];
    const tagIpAwbParameters& limits = m_sParameters;
    tagAwbSampling sampling{m_ulWidth, m_ulBlockRows, m_ulBlocksPerRow,
                            site.ucRedRow * m_ulWidth + site.ucRedColumn,
                            site.ucGreenRow * m_ulWidth + site.ucGreenColumn,
                            site.ucBlueRow * m_ulWidth + site.ucBlueColumn,
                            factorG * 10.0 / (factorR * 8.0), factorG * 11.0 / (factorB * 8.0),
                            {gainR, gainG, gainB}, static_cast<double>(limits.ucUpperLuma),
                            static_cast<double>(limits.ucLowerLuma), static_cast<double>(limits.ucULimit),
                            static_cast<double>(limits.ucVLimit), static_cast<double>(limits.ucUVLimit)};
    double sums[3] = {0.0, 0.0, 0.0};
    bool bSummed = false;
    if constexpr (kAvx2Compiled) {
        if (!bReference && CpuHasAvx2() && AwbSumsExactInAnyOrder(sampling)) {
            AwbSumGreyAvx2(pBayer, sampling, sums);
            bSummed = true;
        }
    }
    if (!bSummed && !bReference && CpuHasSse2() && AwbSumsExactInAnyOrder(sampling)) {
        AwbSumGreySse2(pBayer, sampling, sums);
        bSummed = true;
    }
    if (!bSummed) {
        AwbSumGreyReference(pBayer, sampling, sums);
    }
    double stepsR = Steps(relR);
    double stepsB = Steps(relB);
    if (sums[1] > kEnoughGrey && sums[0] != 0.0 && sums[2] != 0.0) {
        stepsR = StepsTowards(relR, sums[1] * relR / sums[0]);
        stepsB = StepsTowards(relB, sums[1] * relB / sums[2]);
    }
    pusNextGain[0] = static_cast<USHORT>(stepsR);
    pusNextGain[1] = 128;
    pusNextGain[2] = static_cast<USHORT>(stepsB);
}

// A ratio as a gain word: limited, then truncated to whole 1/128 steps.
double CAwb::Steps(double dRatio) const
{
    return KorvalTrunc(Limit(dRatio) * 128.0);
}

// The gain word after moving the speed's share of the way from dRatio to the
// balance. Truncation alone stalls a rising gain once the share is less than
// one step (up to four steps short at speed 20), so white balance would never
// reach grey; then the gain takes the one step it lacks and settles within a
// step of the balance. A falling gain needs no help: truncation moves it down.
double CAwb::StepsTowards(double dRatio, double dBalance) const
{
    double moved = Steps(dRatio + (dBalance - dRatio) * m_dSpeed);
    double current = KorvalTrunc(dRatio * 128.0);
    if (m_dSpeed > 0.0 && moved <= current && Steps(dBalance) > current) {
        return current + 1.0;
    }
    return moved;
}

// Above the maximum becomes the maximum, otherwise below the minimum becomes
// the minimum; a ratio that is not a number (a green gain of 0) counts as below.
double CAwb::Limit(double dGain) const
{
    if (dGain > m_dMaxGain) {
        return m_dMaxGain;
    }
    if (!(dGain >= m_dMinGain)) {
        return m_dMinGain;
    }
    return dGain;
}
