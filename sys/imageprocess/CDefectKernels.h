// Vector pre-filters of the defect scan.
#pragma once

#include "platform/CpuFeatures.h"
#include "platform/NtTypes.h"

struct tagDefectThresholds {
    UCHAR ucFlatBelow;  // neighbour steps must stay below this
    UCHAR ucHot;
    UCHAR ucCold;
};

// Bit i set when interior pixel p[i] (i = 0..15 or 0..31) needs the full rule:
// it is remembered (confidence above 0), or flat and standing out.
unsigned DefectActiveLanesSse2(const UCHAR* p, const UCHAR* pucConfidence, LONG_PTR lStride,
                               const tagDefectThresholds& sThresholds);
unsigned DefectActiveLanesAvx2(const UCHAR* p, const UCHAR* pucConfidence, LONG_PTR lStride,
                               const tagDefectThresholds& sThresholds);

// The cheaper first test, from the row alone: bit i set when p[i] is remembered
// or stands out from its left or right same-colour neighbour by the margin.
// A pixel outside this set can be neither hot nor cold, whatever its ring.
unsigned DefectCandidateLanesSse2(const UCHAR* p, const UCHAR* pucConfidence, const tagDefectThresholds& sThresholds);
unsigned DefectCandidateLanesAvx2(const UCHAR* p, const UCHAR* pucConfidence, const tagDefectThresholds& sThresholds);
