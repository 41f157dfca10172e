// The plain demosaic: edge-directed green interpolation into the padded green
// plane, then red and blue by colour differences against green, written to the
// packed 4B4G4R layout (groups of 8 pixels: even B, G, R then odd B, G, R).
#pragma once

#include "base/PoolAllocator.h"

// Bayer phase of the top-left 2 x 2 cell.
enum {
    IP_PHASE_BGGR = 0,  // B G / G R
    IP_PHASE_GBRG = 1,  // G B / R G
    IP_PHASE_GRBG = 2,  // G R / B G
    IP_PHASE_RGGB = 3,  // R G / G B
    IP_PHASE_COUNT = 4
};

struct tagIpImageRows;

class CInterpolation : public CPoolObject {
public:
    CInterpolation();

    // Padded sizes: the image plus a 2-pixel frame on every side.
    bool Open(ULONG ulPaddedWidth, ULONG ulPaddedHeight, UCHAR ucSmoothing);
    bool Close();  // always false; callers ignore it

    // One variant per Bayer phase (0..3); a phase above 3 is refused (false) and
    // nothing is written, so the caller decides what a missing variant means.
    // The image width (padded width - 4) must be a positive multiple of 8 and the
    // image height even; other geometries are refused.
    // With psImage, the BGR24 rows are written directly where this processor's
    // colour pass can (psImage->bWritten), and the packed groups otherwise.
    bool Process(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, PUCHAR pPacked, UCHAR ucPhase,
                 tagIpImageRows* psImage = nullptr);
    // The same result from the plain per-pixel code that the fast code is held to.
    bool ProcessReference(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, PUCHAR pPacked,
                          UCHAR ucPhase);

    // Steps shared with the colour-processing demosaic (image sizes, not padded).
    static bool GeometryAcceptable(ULONG ulWidth, ULONG ulHeight);
    static void InterpolateGreen(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, ULONG ulWidth,
                                 ULONG ulHeight, UCHAR ucPhase, bool bReference);
    static void FillGreenFrame(PUCHAR pGreenPlane, ULONG ulWidth, ULONG ulHeight);
    static void SmoothGreen(PUCHAR pGreenPlane, PUCHAR pScratch, ULONG ulWidth, ULONG ulHeight);

    USHORT Threshold() const { return m_usThreshold; }

private:
    bool Run(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, PUCHAR pPacked, UCHAR ucPhase,
             tagIpImageRows* psImage, bool bReference);

    BOOLEAN m_bOpened;
    UCHAR m_ucSmoothing;
    ULONG m_ulPaddedWidth;
    ULONG m_ulPaddedHeight;
    USHORT m_usThreshold;  // kept for the interface; the demosaic uses the constant 40
};
