// Unpacks the demosaic's 4B4G4R rows into ordinary BGR24 rows, optionally
// mirrored left-right and flipped top-bottom.
#pragma once

#include "base/PoolAllocator.h"

class CRearrange : public CPoolObject {
public:
    CRearrange();

    bool Open(ULONG ulWidth, ULONG ulHeight);
    bool Close();

    // Mirror and flip act only when their byte is exactly 1. Only whole groups
    // of 8 pixels are written.
    bool Process_4B4G4R(const UCHAR* pPacked, PUCHAR pImage, UCHAR ucMirror, UCHAR ucFlip);
    bool Process_4B4G4RReference(const UCHAR* pPacked, PUCHAR pImage, UCHAR ucMirror,
                                 UCHAR ucFlip);

private:
    bool Run(const UCHAR* pPacked, PUCHAR pImage, UCHAR ucMirror, UCHAR ucFlip, bool bReference);

    BOOLEAN m_bOpened;
    ULONG m_ulWidth;
    ULONG m_ulHeight;
};
