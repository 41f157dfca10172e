#include "platform/CpuFeatures.h"
#include "imageprocess/CDefect.h"
#include "imageprocess/CDefectKernels.h"

#include <cstring>
#include <emmintrin.h>

namespace {

constexpr UCHAR kFlatThreshold = 25;
constexpr ULONG kLongExposure = 10240;
constexpr UCHAR kFreshScansAfterOpen = 20;
constexpr UCHAR kFreshScansAfterLongExposure = 15;
// Sizes beyond this would overflow the 32-bit position arithmetic.
constexpr ULONG kMaxSide = 16384;

// Same-colour neighbours, two pixels away, in ring order.
enum : int { kUpLeft, kUp, kUpRight, kRight, kDownRight, kDown, kDownLeft, kLeft, kRingSize };
constexpr int kRingRow[kRingSize] = {-2, -2, -2, 0, 2, 2, 2, 0};
constexpr int kRingColumn[kRingSize] = {-2, 0, 2, 2, 2, 0, -2, -2};

// Bit k set when ring neighbour k exists, per position class 1..9.
constexpr UCHAR AvailableNeighbours(int lClass)
{
    const bool bUp = lClass > 3;
    const bool bDown = lClass < 7;
    const bool bLeft = (lClass - 1) % 3 != 0;
    const bool bRight = (lClass - 1) % 3 != 2;
    return static_cast<UCHAR>((bUp && bLeft) << kUpLeft | bUp << kUp | (bUp && bRight) << kUpRight |
                              bRight << kRight | (bDown && bRight) << kDownRight | bDown << kDown |
                              (bDown && bLeft) << kDownLeft | bLeft << kLeft);
}

} // namespace

KORVAL_SSE2_BEGIN

namespace {
#define KORVAL_SIMD_BITS 128
#include "platform/SimdLanes.inl"
} // namespace

#define DEFECT_SIMD_NAME(name) name##Sse2
#include "imageprocess/CDefectLanes.inl"
#undef DEFECT_SIMD_NAME

KORVAL_SSE2_END

namespace {

// Lanes of one block of 32 (AVX2) or 16 (SSE2) pixels.
unsigned ActiveLanes(ULONG ulBlock, const UCHAR* p, const UCHAR* pucConfidence, LONG_PTR lStride,
                     const tagDefectThresholds& sThresholds)
{
    if constexpr (kAvx2Compiled) {
        if (ulBlock == 32) {
            return DefectActiveLanesAvx2(p, pucConfidence, lStride, sThresholds);
        }
    }
    return DefectActiveLanesSse2(p, pucConfidence, lStride, sThresholds);
}

unsigned CandidateLanes(ULONG ulBlock, const UCHAR* p, const UCHAR* pucConfidence,
                        const tagDefectThresholds& sThresholds)
{
    if constexpr (kAvx2Compiled) {
        if (ulBlock == 32) {
            return DefectCandidateLanesAvx2(p, pucConfidence, sThresholds);
        }
    }
    return DefectCandidateLanesSse2(p, pucConfidence, sThresholds);
}

} // namespace

CDefect::CDefect()
    : m_sParameters{}, m_bOpened(0), m_ulWidth(0), m_ulHeight(0), m_ulPixels(0), m_ulTwoRows(0),
      m_ulWidthLimit(0), m_ulHeightLimit(0), m_ulNextScanRow(0), m_pulColdCount(nullptr),
      m_pulHotCount(nullptr), m_pulPositions(nullptr), m_pucConfidence(nullptr), m_pucClass(nullptr),
      m_ucFlatThreshold(kFlatThreshold), m_ucKeep(2), m_ucCap(8), m_ucDarkLimit(70), m_ucBrightLimit(230),
      m_bLongExposure(0), m_ucLastFrameRate(0), m_ulLastExposure(0), m_ucFreshScans(0), m_bReferenceScan(0)
{
}

CDefect::~CDefect()
{
    FreeArrays();
}

void CDefect::FreeArrays()
{
    KorvalFree(m_pulColdCount);
    KorvalFree(m_pulHotCount);
    KorvalFree(m_pulPositions);
    KorvalFree(m_pucConfidence);
    KorvalFree(m_pucClass);
    m_pulColdCount = nullptr;
    m_pulHotCount = nullptr;
    m_pulPositions = nullptr;
    m_pucConfidence = nullptr;
    m_pucClass = nullptr;
}

bool CDefect::AllocateArrays()
{
    const SIZE_T cbCounts = m_ulHeight * sizeof(ULONG);
    m_pulColdCount = static_cast<ULONG*>(KorvalAllocate(cbCounts));
    m_pulHotCount = static_cast<ULONG*>(KorvalAllocate(cbCounts));
    m_pulPositions = static_cast<ULONG*>(KorvalAllocate(m_ulPixels * sizeof(ULONG)));
    m_pucConfidence = static_cast<UCHAR*>(KorvalAllocate(m_ulPixels));
    m_pucClass = static_cast<UCHAR*>(KorvalAllocate(m_ulPixels));
    if (m_pulColdCount == nullptr || m_pulHotCount == nullptr || m_pulPositions == nullptr ||
        m_pucConfidence == nullptr || m_pucClass == nullptr) {
        FreeArrays();
        return false;
    }
    memset(m_pulColdCount, 0, cbCounts);
    memset(m_pulHotCount, 0, cbCounts);
    memset(m_pulPositions, 0, m_ulPixels * sizeof(ULONG));
    memset(m_pucConfidence, 0, m_ulPixels);
    memset(m_pucClass, 0, m_ulPixels);
    return true;
}

bool CDefect::Open(ULONG ulWidth, ULONG ulHeight, tagIpDefectParameters sParameters)
{
    if (m_bOpened) {
        FreeArrays();
        m_bOpened = 0;
        return false;
    }
    // The position classes need two columns and two rows on each side.
    if (ulWidth < 4 || ulHeight < 4 || ulWidth > kMaxSide || ulHeight > kMaxSide) {
        return false;
    }
    m_ulWidth = ulWidth;
    m_ulHeight = ulHeight;
    m_ulPixels = ulWidth * ulHeight;
    m_ulTwoRows = 2 * ulWidth;
    m_ulWidthLimit = ulWidth - 2;
    m_ulHeightLimit = ulHeight - 2;
    m_sParameters = sParameters;
    m_ucLastFrameRate = 0;
    m_bLongExposure = 0;
    m_ulNextScanRow = 0;
    m_ulLastExposure = 0;
    m_ucFreshScans = kFreshScansAfterOpen;
    if (!AllocateArrays()) {
        return false;
    }
    m_bOpened = 1;
    return true;
}

bool CDefect::Close()
{
    m_bOpened = 0;
    m_ulNextScanRow = 0;
    m_ucFreshScans = 0;
    m_ucLastFrameRate = 0;
    m_ulLastExposure = 0;
    m_bLongExposure = 0;
    FreeArrays();
    return true;
}

bool CDefect::SetParameters(tagIpDefectParameters sParameters)
{
    m_sParameters = sParameters;
    return true;
}

bool CDefect::GetParameters(tagIpDefectParameters* psParameters) const
{
    if (psParameters == nullptr) {
        return false;
    }
    *psParameters = m_sParameters;
    return true;
}

UCHAR CDefect::GetConfidence(ULONG ulRow, ULONG ulColumn) const
{
    if (!m_bOpened || ulRow >= m_ulHeight || ulColumn >= m_ulWidth) {
        return 0;
    }
    return m_pucConfidence[ulRow * m_ulWidth + ulColumn];
}

ULONG CDefect::GetListedCount(ULONG ulRow) const
{
    return (m_bOpened && ulRow < m_ulHeight) ? m_pulHotCount[ulRow] + m_pulColdCount[ulRow] : 0;
}

ULONG CDefect::GetHotCount(ULONG ulRow) const
{
    return (m_bOpened && ulRow < m_ulHeight) ? m_pulHotCount[ulRow] : 0;
}

UCHAR CDefect::ClassOf(ULONG ulRow, ULONG ulColumn) const
{
    const int lRowBand = ulRow < 2 ? 0 : (ulRow < m_ulHeightLimit ? 1 : 2);
    const int lColumnBand = ulColumn <= 1 ? 0 : (ulColumn < m_ulWidthLimit ? 1 : 2);
    return static_cast<UCHAR>(1 + 3 * lRowBand + lColumnBand);
}

bool CDefect::Process(UCHAR* pBayer, UCHAR ucFrameRate, ULONG ulExposure, tagIpDefectBlock* psDefectBlock)
{
    if (!m_bOpened || pBayer == nullptr || psDefectBlock == nullptr) {
        return false;
    }
    const ULONG ulRows = RowsToScan(ucFrameRate, ulExposure);
    for (ULONG i = 0; i < ulRows; ++i) {
        const ULONG ulRow = (m_ulNextScanRow + i) % m_ulHeight;
        if (m_bReferenceScan) {
            ScanRow(pBayer, ulRow);
        } else {
            ScanRowFiltered(pBayer, ulRow);
        }
    }
    m_ulNextScanRow = (m_ulNextScanRow + ulRows) % m_ulHeight;
    CorrectListed(pBayer);
    return true;
}

// Frame-rate and exposure rules: keep threshold, confidence cap, and how many
// rows this call scans.
ULONG CDefect::RowsToScan(UCHAR ucFrameRate, ULONG ulExposure)
{
    ULONG ulRows;
    if (ucFrameRate != m_ucLastFrameRate) {
        m_ucKeep = static_cast<UCHAR>(ucFrameRate <= 10 ? 2 : 120 / ucFrameRate);
        m_ucCap = static_cast<UCHAR>(4 * m_ucKeep);
        m_ucLastFrameRate = ucFrameRate;
        ulRows = m_ulHeight;
    } else {
        ulRows = ucFrameRate > 10 ? m_ulHeight : ucFrameRate * m_ulHeight / 60;
    }
    if (ulExposure != m_ulLastExposure) {
        m_ulLastExposure = ulExposure;
        m_ucFreshScans = 1;
    }
    if (ulExposure <= kLongExposure) {
        if (m_bLongExposure) {
            RemarkListed();
            m_ucFreshScans = kFreshScansAfterLongExposure;
        }
        m_bLongExposure = 0;
    } else {
        m_bLongExposure = 1;
    }
    if (m_ucFreshScans != 0) {
        ulRows = m_ulHeight;
        --m_ucFreshScans;
    }
    m_ucFlatThreshold = kFlatThreshold;
    return ulRows;
}

void CDefect::RemarkListed()
{
    for (ULONG r = 0; r < m_ulHeight; ++r) {
        const ULONG* pulList = m_pulPositions + r * m_ulWidth;
        const ULONG cListed = m_pulHotCount[r] + m_pulColdCount[r];
        for (ULONG i = 0; i < cListed; ++i) {
            m_pucConfidence[pulList[i]] = m_ucKeep;
        }
    }
}

void CDefect::ScanRow(const UCHAR* pBayer, ULONG ulRow)
{
    m_pulHotCount[ulRow] = 0;
    m_pulColdCount[ulRow] = 0;
    for (ULONG c = 0; c < m_ulWidth; ++c) {
        ScanPixel(pBayer, ulRow, c);
    }
}

// A pixel that is not remembered and stands out from neither side of one
// horizontal neighbour can be neither hot nor cold: the full rule leaves it alone.
bool CDefect::MayChange(const UCHAR* pucRow, const UCHAR* pucConfidence, ULONG ulColumn) const
{
    if (pucConfidence[ulColumn] != 0) {
        return true;
    }
    const int x = pucRow[ulColumn];
    const int n = ulColumn >= 2 ? pucRow[ulColumn - 2] : pucRow[ulColumn + 2];
    return x > n + m_sParameters.ucHotMargin || x + m_sParameters.ucColdMargin < n;
}

// Columns 2 .. width - 3 in blocks of 16 or 32: the row-only test drops the
// pixels that cannot stand out; in interior rows the ring test thins the rest.
// What remains takes the full rule in column order, so the lists come out as
// in ScanRow. The last block is moved left to end at the last such column;
// lanes already scanned by the block before it are masked off.
ULONG CDefect::ScanBlocks(const UCHAR* pBayer, ULONG ulRow, ULONG ulBlock)
{
    const LONG_PTR w = m_ulWidth;
    const UCHAR* pucRow = pBayer + ulRow * w;
    const UCHAR* pucConfidence = m_pucConfidence + ulRow * w;
    const tagDefectThresholds sThresholds = {m_ucFlatThreshold, m_sParameters.ucHotMargin,
                                             m_sParameters.ucColdMargin};
    const bool bInterior = ulRow >= 2 && ulRow < m_ulHeightLimit;
    ULONG c = 2;
    while (c < m_ulWidthLimit && m_ulWidthLimit >= 2 + ulBlock) {
        const ULONG ulStart = c + ulBlock <= m_ulWidthLimit ? c : m_ulWidthLimit - ulBlock;
        unsigned uActive = CandidateLanes(ulBlock, pucRow + ulStart, pucConfidence + ulStart, sThresholds);
        uActive &= ~0u << (c - ulStart);
        if (uActive != 0 && bInterior) {
            uActive &= ActiveLanes(ulBlock, pucRow + ulStart, pucConfidence + ulStart, w, sThresholds);
        }
        while (uActive != 0) {
            const int k = __builtin_ctz(uActive);
            uActive &= uActive - 1;
            ScanPixel(pBayer, ulRow, ulStart + k);
        }
        c = ulStart + ulBlock;
    }
    return c;
}

// The same state as ScanRow, with the pixels that cannot change skipped.
void CDefect::ScanRowFiltered(const UCHAR* pBayer, ULONG ulRow)
{
    m_pulHotCount[ulRow] = 0;
    m_pulColdCount[ulRow] = 0;
    const UCHAR* pucRow = pBayer + ulRow * m_ulWidth;
    const UCHAR* pucConfidence = m_pucConfidence + ulRow * m_ulWidth;
    const ULONG ulBlock = CpuHasAvx2() ? 32 : CpuHasSse2() ? 16 : 0;
    ULONG c = 0;
    for (; c < 2; ++c) {
        if (MayChange(pucRow, pucConfidence, c)) {
            ScanPixel(pBayer, ulRow, c);
        }
    }
    if (ulBlock != 0) {
        c = ScanBlocks(pBayer, ulRow, ulBlock);
    }
    for (; c < m_ulWidth; ++c) {
        if (MayChange(pucRow, pucConfidence, c)) {
            ScanPixel(pBayer, ulRow, c);
        }
    }
}

void CDefect::ScanPixel(const UCHAR* pBayer, ULONG ulRow, ULONG ulColumn)
{
    const ULONG ulIndex = ulRow * m_ulWidth + ulColumn;
    const UCHAR ucClass = ClassOf(ulRow, ulColumn);
    const UCHAR ucAvailable = AvailableNeighbours(ucClass);
    const int x = pBayer[ulIndex];
    int n[kRingSize] = {};
    for (int k = 0; k < kRingSize; ++k) {
        if (ucAvailable & (1u << k)) {
            n[k] = pBayer[static_cast<LONG_PTR>(ulIndex) + kRingRow[k] * static_cast<LONG_PTR>(m_ulWidth) +
                          kRingColumn[k]];
        }
    }
    UCHAR& ucConfidence = m_pucConfidence[ulIndex];
    bool bHot = true;
    bool bCold = true;
    for (int k = 0; k < kRingSize; ++k) {
        if (ucAvailable & (1u << k)) {
            bHot = bHot && x > n[k] + m_sParameters.ucHotMargin;
            bCold = bCold && x + m_sParameters.ucColdMargin < n[k];
        }
    }
    if (!bHot && !bCold && ucConfidence == 0) {
        return;  // neither stands out nor remembered: nothing changes
    }
    bool bFlat = true;
    bool bMidTones = true;
    for (int k = 0; k < kRingSize; ++k) {
        if ((ucAvailable & (1u << k)) == 0) {
            continue;
        }
        const int next = (k + 1) % kRingSize;
        if ((ucAvailable & (1u << next)) != 0) {
            const int lStep = n[k] - n[next];
            bFlat = bFlat && (lStep < 0 ? -lStep : lStep) < m_ucFlatThreshold;
        }
        bMidTones = bMidTones && n[k] > m_ucDarkLimit && n[k] < m_ucBrightLimit;
    }
    ULONG* pulList = m_pulPositions + ulRow * m_ulWidth;
    if (bFlat && (bHot || bCold)) {
        if (ucConfidence < m_ucCap) {
            ++ucConfidence;
        }
        m_pucClass[ulIndex] = ucClass;
        pulList[m_pulHotCount[ulRow] + m_pulColdCount[ulRow]] = ulIndex;
        ++(bHot ? m_pulHotCount : m_pulColdCount)[ulRow];
        return;
    }
    if (ucConfidence == 0) {
        return;
    }
    if (bFlat && bMidTones) {
        --ucConfidence;
    }
    if (ucConfidence >= m_ucKeep) {
        // The right-hand neighbour, or the left one at the right edge, so
        // that the read stays inside the row.
        const int lSide = ulColumn + 2 < m_ulWidth ? pBayer[ulIndex + 2] : pBayer[ulIndex - 2];
        pulList[m_pulHotCount[ulRow] + m_pulColdCount[ulRow]] = ulIndex;
        ++(x > lSide ? m_pulHotCount : m_pulColdCount)[ulRow];
    }
}

void CDefect::CorrectListed(UCHAR* pBayer) const
{
    const ULONG w = m_ulWidth;
    for (ULONG r = 0; r < m_ulHeight; ++r) {
        const ULONG* pulList = m_pulPositions + r * w;
        const ULONG cListed = m_pulHotCount[r] + m_pulColdCount[r];
        for (ULONG i = 0; i < cListed; ++i) {
            UCHAR* p = pBayer + pulList[i];
            switch (m_pucClass[pulList[i]]) {
            case 1: *p = static_cast<UCHAR>((p[m_ulTwoRows] + p[2]) >> 1); break;
            case 2:
            case 8: *p = static_cast<UCHAR>((p[-2] + p[2]) >> 1); break;
            case 3: *p = static_cast<UCHAR>((p[m_ulTwoRows] + p[-2]) >> 1); break;
            case 4:
            case 6: *p = static_cast<UCHAR>((*(p - m_ulTwoRows) + p[m_ulTwoRows]) >> 1); break;
            case 5: *p = static_cast<UCHAR>((*(p - m_ulTwoRows) + p[m_ulTwoRows] + p[-2] + p[2]) >> 2); break;
            case 7: *p = static_cast<UCHAR>((*(p - m_ulTwoRows) + p[2]) >> 1); break;
            case 9: *p = static_cast<UCHAR>((*(p - m_ulTwoRows) + p[-2]) >> 1); break;
            default: break;
            }
        }
    }
}
