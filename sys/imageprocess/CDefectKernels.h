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
