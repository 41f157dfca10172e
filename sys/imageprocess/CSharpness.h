// Sharpening stage: adds a cored, limited Laplacian of the smoothed luma plane
// to every colour channel of a BGR24 picture.
#pragma once

#include "base/PoolAllocator.h"

class CSharpness : public CPoolObject {
public:
    CSharpness();

    bool Open(ULONG ulWidth, ULONG ulHeight, USHORT usSharpness);
    bool Close();
    bool SetParameters(USHORT usSharpness);
    bool GetParameters(USHORT* pusSharpness) const;

    // psSmooth: width x height smoothed luma (SmoothBuffer); pucPicture: BGR24.
    // Runs the SSE2 rows (AVX2 where the processor has it), not MMX: the name
    // is the stage's published operation, which callers and logs use.
    bool ProcessMMX(const SHORT* psSmooth, UCHAR* pucPicture) const;
    // Plain per-pixel version of the same arithmetic, kept for comparison.
    bool ProcessReference(const SHORT* psSmooth, UCHAR* pucPicture) const;

private:
    bool CanProcess(const SHORT* psSmooth, const UCHAR* pucPicture) const;
    void SharpenRow(const SHORT* psSmooth, UCHAR* pucPicture, ULONG ulRow) const;

    USHORT m_usSharpness;  // low byte: coring threshold, high byte: strength
    UCHAR m_bOpened;
    ULONG m_ulWidth;
    ULONG m_ulHeight;
    SHORT m_sUpperLimit;
    SHORT m_sLowerLimit;
};
