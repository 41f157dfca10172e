#include "imageprocess/CGamma.h"
#include "platform/CpuFeatures.h"

#include "runtime/KernelMath.h"
#include <cstring>

namespace {

constexpr USHORT kLargestBrightness = 510;

// Limits a table value to a byte. Done in double so that no setting can wrap
// a huge value into a small one; NaN becomes 0.
UCHAR LimitEntry(double value)
{
    if (!(value > 0.0)) {
        return 0;
    }
    return value > 255.0 ? 255 : static_cast<UCHAR>(value);
}

// Brightness above 510 is held at 510, so the offset stays within -255..255.
int BrightnessOffset(const tagIpGammaParameters& sParameters)
{
    USHORT brightness = sParameters.usBrightness > kLargestBrightness ? kLargestBrightness
                                                                     : sParameters.usBrightness;
    return static_cast<int>(brightness) - 255;
}

double StretchFactor(USHORT usBlackPoint)
{
    return usBlackPoint < 255 ? 255.0 / (255 - usBlackPoint) : 0.0;
}

} // namespace

CGamma::CGamma()
    : m_bOpened(FALSE), m_ulByteCount(0), m_aucLutCurve{}, m_aucLutContrast{}, m_aucLutBoth{},
      m_sParameters{}, m_ulTableBuilds(0), m_pusPairs(nullptr), m_pucPairsSource(nullptr), m_ulPairsBuild(0)
{
    // A ratio of 1.0 leaves a level unchanged where no curve segment writes it.
    for (double& ratio : m_adRatio) {
        ratio = 1.0;
    }
}

CGamma::~CGamma()
{
    Close();
}

bool CGamma::Open(ULONG ulWidth, ULONG ulHeight, tagIpGammaParameters sParameters)
{
    if (m_bOpened) {
        return false;
    }
    m_bOpened = TRUE;
    m_ulByteCount = 3 * ulWidth * ulHeight;
    if (!CpuHasAvx2()) {
        m_pusPairs = static_cast<USHORT*>(KorvalAllocate(kPairEntries * sizeof(USHORT)));
        m_pucPairsSource = nullptr;
    }
    SetParameters(sParameters);
    return true;
}

bool CGamma::Close()
{
    KorvalFree(m_pusPairs);
    m_pusPairs = nullptr;
    m_pucPairsSource = nullptr;
    m_ulByteCount = 0;
    m_bOpened = FALSE;
    return true;
}

bool CGamma::GetParameters(tagIpGammaParameters* psParameters) const
{
    if (psParameters == nullptr) {
        return false;
    }
    *psParameters = m_sParameters;
    return true;
}

bool CGamma::SetParameters(tagIpGammaParameters sParameters)
{
    const tagIpGammaParameters& old = m_sParameters;
    bool contrast = sParameters.usBlackPoint != old.usBlackPoint ||
                    sParameters.usBrightness != old.usBrightness;
    bool curve = memcmp(sParameters.asCurve, old.asCurve, sizeof(old.asCurve)) != 0;
    bool gamma = sParameters.usGamma != old.usGamma;
    if (contrast) {
        BuildContrast(sParameters);
    }
    if (curve) {
        BuildRatioTable(sParameters);
        BuildCurve(sParameters);
    } else if (gamma) {
        BuildCurve(sParameters);
    }
    if (contrast || curve || gamma) {
        BuildBoth(sParameters);
        ++m_ulTableBuilds;
    }
    m_sParameters = sParameters;
    return true;
}

void CGamma::BuildRatioTable(const tagIpGammaParameters& sParameters)
{
    const tagIpCurvePoint* point = sParameters.asCurve;
    if (point[0].ucX != 0) {
        for (int i = 0; i < point[0].ucX; ++i) {
            m_adRatio[i] = static_cast<double>(point[0].ucY) / point[0].ucX;
        }
    }
    for (int k = 1; k < 5; ++k) {
        int x0 = point[k - 1].ucX, y0 = point[k - 1].ucY;
        int x1 = point[k].ucX, y1 = point[k].ucY;
        if (x1 == 0 || x1 == x0) {
            continue;
        }
        double slope = static_cast<double>(y1 - y0) / (x1 - x0);
        for (int i = x0; i < x1; ++i) {
            m_adRatio[i] = i == 0 ? slope : ((i - x0) * slope + y0) / i;
        }
    }
    int x5 = point[4].ucX, y5 = point[4].ucY;
    if (x5 != 255) {
        double slope = static_cast<double>(255 - y5) / (255 - x5);
        for (int i = x5; i < 256; ++i) {
            // Level 0 (only reached when x5 is 0) takes the slope, as the segments do.
            m_adRatio[i] = i == 0 ? slope : (static_cast<double>(i - x5) * (255 - y5) / (255 - x5) + y5) / i;
        }
    }
}

void CGamma::BuildContrast(const tagIpGammaParameters& sParameters)
{
    int blackPoint = sParameters.usBlackPoint;
    double stretch = StretchFactor(sParameters.usBlackPoint);
    int offset = BrightnessOffset(sParameters);
    for (int i = 0; i < 256; ++i) {
        double value = i > blackPoint ? KorvalTrunc((i - blackPoint) * stretch) + offset : offset;
        m_aucLutContrast[i] = LimitEntry(value);
    }
}

void CGamma::BuildCurve(const tagIpGammaParameters& sParameters)
{
    double gamma = sParameters.usGamma * 0.01;
    for (int i = 0; i < 256; ++i) {
        double value = KorvalTrunc(KorvalPow(i * (1.0 / 255), gamma) * m_adRatio[i] * 255.0);
        m_aucLutCurve[i] = LimitEntry(value);
    }
}

void CGamma::BuildBoth(const tagIpGammaParameters& sParameters)
{
    double gamma = sParameters.usGamma * 0.01;
    int blackPoint = sParameters.usBlackPoint;
    double stretch = StretchFactor(sParameters.usBlackPoint);
    int offset = BrightnessOffset(sParameters);
    for (int i = 0; i < 256; ++i) {
        if (i <= blackPoint) {
            m_aucLutBoth[i] = LimitEntry(offset);
            continue;
        }
        double x = (i - blackPoint) * stretch;
        int level = static_cast<int>(KorvalTrunc(x)) % 256;
        double mapped = KorvalTrunc(KorvalPow(x * (1.0 / 255), gamma) * m_adRatio[level] * 255.0);
        m_aucLutBoth[i] = LimitEntry(offset + mapped);
    }
}

const UCHAR* CGamma::SelectTable(UCHAR ucGamma, UCHAR ucContrast) const
{
    if (ucGamma != 0 && ucContrast != 0) {
        return m_aucLutBoth;
    }
    if (ucGamma != 0) {
        return m_aucLutCurve;
    }
    return ucContrast != 0 ? m_aucLutContrast : nullptr;
}

bool CGamma::Process(PUCHAR pBuffer, UCHAR ucGamma, UCHAR ucContrast)
{
    return ProcessBytes(pBuffer, m_ulByteCount, ucGamma, ucContrast);
}

bool CGamma::ProcessBytes(PUCHAR pBytes, ULONG ulCount, UCHAR ucGamma, UCHAR ucContrast)
{
    if (!m_bOpened || pBytes == nullptr) {
        return false;
    }
    const UCHAR* table = SelectTable(ucGamma, ucContrast);
    if (table == nullptr) {
        return true;
    }
    const USHORT* pairs = CpuHasAvx2() ? nullptr : PairsFor(table);
    if (pairs != nullptr) {
        MapBytesPairs(pBytes, ulCount, pairs);
    } else {
        MapBytes(pBytes, ulCount, table);
    }
    return true;
}

// Rebuilt only when another table is chosen or the settings changed the tables.
const USHORT* CGamma::PairsFor(const UCHAR* pucTable)
{
    if (m_pusPairs != nullptr && (m_pucPairsSource != pucTable || m_ulPairsBuild != m_ulTableBuilds)) {
        BuildPairTable(pucTable, m_pusPairs);
        m_pucPairsSource = pucTable;
        m_ulPairsBuild = m_ulTableBuilds;
    }
    return m_pusPairs;
}

bool CGamma::ProcessReference(PUCHAR pBuffer, UCHAR ucGamma, UCHAR ucContrast)
{
    if (!m_bOpened || pBuffer == nullptr) {
        return false;
    }
    const UCHAR* table = SelectTable(ucGamma, ucContrast);
    if (table != nullptr) {
        MapBytesReference(pBuffer, m_ulByteCount, table);
    }
    return true;
}

void CGamma::MapBytes(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable)
{
    if constexpr (kAvx2Compiled) {
        if (CpuHasAvx512Vbmi()) {
            GammaMapBytesAvx512Vbmi(pBuffer, ulCount, pucTable);
            return;
        }
        if (CpuHasAvx2()) {
            GammaMapBytesAvx2(pBuffer, ulCount, pucTable);
            return;
        }
    }
    MapBytesWords(pBuffer, ulCount, pucTable);
}

// Eight bytes per step in a 64-bit word: one load and one store per eight
// look-ups instead of one each (the SSE2 and plain paths).
void CGamma::MapBytesWords(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable)
{
    ULONG i = 0;
    for (; i + 8 <= ulCount; i += 8) {
        ULONGLONG ullIn;
        memcpy(&ullIn, pBuffer + i, sizeof(ullIn));
        ULONGLONG ullOut = 0;
        for (int k = 0; k < 8; ++k) {
            ullOut |= static_cast<ULONGLONG>(pucTable[(ullIn >> (8 * k)) & 0xFF]) << (8 * k);
        }
        memcpy(pBuffer + i, &ullOut, sizeof(ullOut));
    }
    MapBytesReference(pBuffer + i, ulCount - i, pucTable);
}

void CGamma::MapBytesReference(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable)
{
    for (ULONG i = 0; i < ulCount; ++i) {
        pBuffer[i] = pucTable[pBuffer[i]];
    }
}

void CGamma::BuildPairTable(const UCHAR* pucTable, USHORT* pusPairs)
{
    for (ULONG ulHigh = 0; ulHigh < 256; ++ulHigh) {
        const USHORT usHigh = static_cast<USHORT>(pucTable[ulHigh] << 8);
        USHORT* pusRow = pusPairs + (ulHigh << 8);
        for (ULONG ulLow = 0; ulLow < 256; ++ulLow) {
            pusRow[ulLow] = static_cast<USHORT>(usHigh | pucTable[ulLow]);
        }
    }
}

// Four bytes from one 32-bit load, two look-ups and one store, sixteen bytes
// a step of the loop: the 128 KB table stays in the second-level cache, and
// 32-bit words fit the 32-bit build's registers. A 16-bit load and store per
// pair takes fewer instructions but twice the stores, and measured slower.
void CGamma::MapBytesPairs(PUCHAR pBuffer, ULONG ulCount, const USHORT* pusPairs)
{
    constexpr ULONG kStep = 16;
    PUCHAR p = pBuffer;
    const PUCHAR pStepsEnd = pBuffer + (ulCount - ulCount % kStep);
    const PUCHAR pEnd = pBuffer + ulCount;
    for (; p != pStepsEnd; p += kStep) {
        for (ULONG k = 0; k < kStep; k += 4) {
            ULONG ulBytes;
            memcpy(&ulBytes, p + k, sizeof(ulBytes));
            ulBytes = pusPairs[ulBytes & 0xFFFF] | static_cast<ULONG>(pusPairs[ulBytes >> 16]) << 16;
            memcpy(p + k, &ulBytes, sizeof(ulBytes));
        }
    }
    for (; p != pEnd; ++p) {
        *p = static_cast<UCHAR>(pusPairs[*p]);
    }
}
