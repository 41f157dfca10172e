// Defect-pixel stage: finds same-colour outliers in flat neighbourhoods of the
// raw Bayer frame, remembers them in a confidence map across frames and
// replaces every remembered pixel by the mean of its same-colour neighbours.
#pragma once

#include "base/PoolAllocator.h"

#pragma pack(push, 1)
struct tagIpDefectParameters {
    UCHAR ucColdMargin;
    UCHAR ucHotMargin;
};
#pragma pack(pop)
static_assert(sizeof(tagIpDefectParameters) == 2, "tagIpDefectParameters is 2 bytes");

// Block of tagIpOutput reserved for the defect stage; nothing writes it.
struct tagIpDefectBlock {
    UCHAR aucReserved[8];
};
static_assert(sizeof(tagIpDefectBlock) == 8, "tagIpDefectBlock is 8 bytes");

class CDefect : public CPoolObject {
public:
    CDefect();
    ~CDefect();
    CDefect(const CDefect&) = delete;
    CDefect& operator=(const CDefect&) = delete;

    bool Open(ULONG ulWidth, ULONG ulHeight, tagIpDefectParameters sParameters);
    bool Close();
    bool SetParameters(tagIpDefectParameters sParameters);
    bool GetParameters(tagIpDefectParameters* psParameters) const;
    bool Process(UCHAR* pBayer, UCHAR ucFrameRate, ULONG ulExposure, tagIpDefectBlock* psDefectBlock);

    // Inspection for tests and the per-pixel scan that the fast scan must match.
    void UseReferenceScan(bool bReference) { m_bReferenceScan = bReference ? 1 : 0; }
    UCHAR GetKeepThreshold() const { return m_ucKeep; }
    UCHAR GetConfidenceCap() const { return m_ucCap; }
    ULONG GetNextScanRow() const { return m_ulNextScanRow; }
    UCHAR GetConfidence(ULONG ulRow, ULONG ulColumn) const;
    ULONG GetListedCount(ULONG ulRow) const;
    ULONG GetHotCount(ULONG ulRow) const;

private:
    void FreeArrays();
    bool AllocateArrays();
    ULONG RowsToScan(UCHAR ucFrameRate, ULONG ulExposure);
    void RemarkListed();
    void ScanRow(const UCHAR* pBayer, ULONG ulRow);
    void ScanRowFiltered(const UCHAR* pBayer, ULONG ulRow);
    ULONG ScanBlocks(const UCHAR* pBayer, ULONG ulRow, ULONG ulBlock);
    bool MayChange(const UCHAR* pucRow, const UCHAR* pucConfidence, ULONG ulColumn) const;
    void ScanPixel(const UCHAR* pBayer, ULONG ulRow, ULONG ulColumn);
    void CorrectListed(UCHAR* pBayer) const;
    UCHAR ClassOf(ULONG ulRow, ULONG ulColumn) const;

    tagIpDefectParameters m_sParameters;
    UCHAR m_bOpened;
    ULONG m_ulWidth;
    ULONG m_ulHeight;
    ULONG m_ulPixels;
    ULONG m_ulTwoRows;
    ULONG m_ulWidthLimit;
    ULONG m_ulHeightLimit;
    ULONG m_ulNextScanRow;
    ULONG* m_pulColdCount;
    ULONG* m_pulHotCount;
    ULONG* m_pulPositions;
    UCHAR* m_pucConfidence;
    UCHAR* m_pucClass;
    UCHAR m_ucFlatThreshold;
    UCHAR m_ucKeep;
    UCHAR m_ucCap;
    UCHAR m_ucDarkLimit;
    UCHAR m_ucBrightLimit;
    UCHAR m_bLongExposure;
    UCHAR m_ucLastFrameRate;
    ULONG m_ulLastExposure;
    UCHAR m_ucFreshScans;
    UCHAR m_bReferenceScan;
};
