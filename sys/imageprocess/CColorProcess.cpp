#include "platform/CpuFeatures.h"
#include "imageprocess/CColorProcess.h"

#include "runtime/KernelMath.h"
#include <cstring>

#include "imageprocess/CInterpolation.h"
#include "imageprocess/CInterpolationKernels.h"

namespace {

// Gains at or above 4.0 do not fit the Q13 lanes; they are held at 511/128.
constexpr USHORT kLargestGainWord = 511;

// Hue degrees to radians with pi taken as 3.1416: the hue matrix is built with
// this rounded factor, and its Q13 coefficients depend on it.
constexpr double kDegreeToRadian = 3.1416 / 180.0;

const double kForward[9] = {0.299, 0.587, 0.114, -0.299, -0.587, 0.886, 0.701, -0.587, -0.114};
const double kInverse[9] = {1, 0, 1, 1, -0.194, -0.509, 1, 1, 0};

void SetIdentity(double* matrix)
{
    for (int i = 0; i < 9; ++i) {
        matrix[i] = (i % 4 == 0) ? 1.0 : 0.0;
    }
}

void Multiply(const double* left, const double* right, double* product)
{
    double result[9];
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            result[row * 3 + column] = left[row * 3] * right[column] +
                                       left[row * 3 + 1] * right[3 + column] +
                                       left[row * 3 + 2] * right[6 + column];
        }
    }
    memcpy(product, result, sizeof(result));
}

// Truncation toward zero, held inside the 16-bit range (and NaN to 0) so that
// extreme settings cannot make the conversion undefined.
SHORT ToQ13(double value)
{
    double scaled = KorvalTrunc(value * 8192.0);
    if (!(scaled > -32768.0)) {
        return scaled == scaled ? -32768 : 0;
    }
    return scaled > 32767.0 ? 32767 : static_cast<SHORT>(scaled);
}

} // namespace

CColorProcess::CColorProcess()
    : m_bOpened(FALSE), m_ucSmoothing(0), m_ulWidth(0), m_ulHeight(0), m_ulPaddedWidth(0),
      m_ulPaddedHeight(0), m_dFixedScale(8192.0), m_asGainQ13{0, 0, 0}, m_adMatrix{}, m_adComposite{},
      m_asCompositeQ13{}, m_ulCompositeBuilds(0)
{
    // Previous settings that no real settings equal, so the first ones count as a change.
    const USHORT previousMatrix[9] = {3000, 2000, 2000, 2000, 2000, 2000, 2000, 2000, 3000};
    memset(&m_sParameters, 0, sizeof(m_sParameters));
    m_sParameters.usHue = 999;
    m_sParameters.usSaturation = 999;
    memcpy(m_sParameters.usMatrix, previousMatrix, sizeof(previousMatrix));
    SetIdentity(m_adCcm);
    SetIdentity(m_adHs);
    memcpy(m_adFwd, kForward, sizeof(m_adFwd));
    memcpy(m_adInv, kInverse, sizeof(m_adInv));
    for (int i = 0; i < 9; ++i) {
        m_adMatrix[i] = m_adCcm[i];
    }
}

bool CColorProcess::Open(ULONG ulWidth, ULONG ulHeight, UCHAR ucSmoothing,
                         tagIpColorParameters sParameters)
{
    if (m_bOpened || !CInterpolation::GeometryAcceptable(ulWidth, ulHeight)) {
        return false;
    }
    m_ulWidth = ulWidth;
    m_ulHeight = ulHeight;
    m_ulPaddedWidth = ulWidth + 4;
    m_ulPaddedHeight = ulHeight + 4;
    // The first settings build every table, whatever the previous words said:
    // otherwise a user matrix equal to the constructor's marker words would
    // leave the identity in force.
    BuildGains(sParameters);
    BuildUserMatrix(sParameters);
    BuildHueSaturation(sParameters);
    BuildComposite();
    m_ucSmoothing = ucSmoothing;
    m_sParameters = sParameters;
    m_bOpened = TRUE;
    return true;
}

bool CColorProcess::Close()
{
    m_bOpened = FALSE;
    return true;
}

bool CColorProcess::GetParameters(tagIpColorParameters* psParameters) const
{
    if (psParameters == nullptr) {
        return false;
    }
    *psParameters = m_sParameters;
    return true;
}

bool CColorProcess::SetParameters(tagIpColorParameters sParameters)
{
    const tagIpColorParameters& old = m_sParameters;
    if (memcmp(sParameters.usGain, old.usGain, sizeof(old.usGain)) != 0) {
        BuildGains(sParameters);
    }
    bool matrixChanged = memcmp(sParameters.usMatrix, old.usMatrix, sizeof(old.usMatrix)) != 0;
    bool hueChanged = sParameters.usHue != old.usHue || sParameters.usSaturation != old.usSaturation;
    if (matrixChanged) {
        BuildUserMatrix(sParameters);
    }
    if (hueChanged) {
        BuildHueSaturation(sParameters);
    }
    if (matrixChanged || hueChanged) {
        BuildComposite();
    }
    m_sParameters = sParameters;
    return true;
}

void CColorProcess::BuildGains(const tagIpColorParameters& sParameters)
{
    for (int i = 0; i < 3; ++i) {
        USHORT word = sParameters.usGain[i] > kLargestGainWord ? kLargestGainWord : sParameters.usGain[i];
        m_asGainQ13[i] = static_cast<SHORT>(KorvalTrunc(word / 128.0 * m_dFixedScale));
    }
}

void CColorProcess::BuildUserMatrix(const tagIpColorParameters& sParameters)
{
    for (int i = 0; i < 9; ++i) {
        m_adMatrix[i] = (sParameters.usMatrix[i] - 2000.0) * 0.001;
        m_adCcm[i] = m_adMatrix[i];
    }
}

void CColorProcess::BuildHueSaturation(const tagIpColorParameters& sParameters)
{
    double angle = sParameters.usHue * kDegreeToRadian;
    double saturation = sParameters.usSaturation * 0.01;
    double c = saturation * KorvalCos(angle);
    double s = saturation * KorvalSin(angle);
    const double hs[9] = {1, 0, 0, 0, c, s, 0, -s, c};
    memcpy(m_adHs, hs, sizeof(hs));
}

void CColorProcess::BuildComposite()
{
    double product[9];
    Multiply(m_adInv, m_adHs, product);
    Multiply(product, m_adFwd, product);
    Multiply(product, m_adCcm, m_adComposite);
    for (int i = 0; i < 9; ++i) {
        m_asCompositeQ13[i] = ToQ13(m_adComposite[i]);
    }
    ++m_ulCompositeBuilds;
}

bool CColorProcess::Run(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, PUCHAR pPacked,
                        UCHAR ucPhase, tagIpImageRows* psImage, bool bReference)
{
    if (!m_bOpened || pPaddedBayer == nullptr || pGreenPlane == nullptr || pPacked == nullptr ||
        ucPhase >= IP_PHASE_COUNT) {
        return false;
    }
    CInterpolation::InterpolateGreen(pPaddedBayer, pGreenPlane, m_ulWidth, m_ulHeight, ucPhase,
                                     bReference);
    CInterpolation::FillGreenFrame(pGreenPlane, m_ulWidth, m_ulHeight);
    if (m_ucSmoothing == 1) {
        CInterpolation::SmoothGreen(pGreenPlane, pPacked, m_ulWidth, m_ulHeight);
    }
    tagIpColorKernel kernel;
    memcpy(kernel.asGain, m_asGainQ13, sizeof(kernel.asGain));
    memcpy(kernel.asCoefficient, m_asCompositeQ13, sizeof(kernel.asCoefficient));
    IpColorPassToImageOrPacked(pPaddedBayer, pGreenPlane, pPacked, psImage, m_ulWidth, m_ulHeight, ucPhase,
                               &kernel, bReference);
    return true;
}

bool CColorProcess::Process(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, PUCHAR pPacked,
                            UCHAR ucPhase, tagIpImageRows* psImage)
{
    return Run(pPaddedBayer, pGreenPlane, pPacked, ucPhase, psImage, false);
}

bool CColorProcess::ProcessReference(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane,
                                     PUCHAR pPacked, UCHAR ucPhase)
{
    return Run(pPaddedBayer, pGreenPlane, pPacked, ucPhase, nullptr, true);
}
