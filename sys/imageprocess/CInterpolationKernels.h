// Inner passes of both demosaics, shared by CInterpolation and CColorProcess:
// the plain per-pixel reference and the SSE2 and AVX2 versions that must match it.
#pragma once

#include "platform/CpuFeatures.h"
#include "platform/NtTypes.h"

// Gains and composite matrix of the colour-processing demosaic, in Q13.
typedef struct tagIpColorKernel {
    SHORT asGain[3];         // R, G, B
    SHORT asCoefficient[9];  // output R from (R, G, B), then G, then B
} IpColorKernel;
static_assert(sizeof(tagIpColorKernel) == 24);

// Sizes below are image sizes; the planes are padded by 2 on every side.
void IpGreenPassReference(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, ULONG ulWidth,
                          ULONG ulHeight, UCHAR ucPhase);
void IpGreenPassSse2(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, ULONG ulWidth,
                     ULONG ulHeight, UCHAR ucPhase);
void IpGreenPassSsse3(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, ULONG ulWidth,
                      ULONG ulHeight, UCHAR ucPhase);
void IpGreenPassAvx2(const UCHAR* pPaddedBayer, PUCHAR pGreenPlane, ULONG ulWidth,
                     ULONG ulHeight, UCHAR ucPhase);

// Red and blue by colour differences, packed 4B4G4R. With psColor null the
// values are limited to 0..255 (plain demosaic); otherwise gains and matrix apply.
void IpColorPassReference(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked,
                          ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase,
                          const tagIpColorKernel* psColor);
void IpColorPassSse2(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked,
                     ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase, const tagIpColorKernel* psColor);
void IpColorPassAvx2(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked,
                     ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase, const tagIpColorKernel* psColor);

// The colour pass this processor runs best (bReference: the plain one).
void IpColorPass(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked, ULONG ulWidth,
                 ULONG ulHeight, UCHAR ucPhase, const tagIpColorKernel* psColor, bool bReference);

// BGR24 rows (3 x width bytes each) that the colour pass may write directly:
// mirrored left-right and flipped top-bottom when the byte is exactly 1, as the
// rearrangement of the packed groups does.
typedef struct tagIpImageRows {
    PUCHAR pImage;
    PUCHAR pGreen;  // null, or the rows' green channel as a plane (width bytes a row)
    UCHAR ucMirror;
    UCHAR ucFlip;
    BOOLEAN bWritten;  // set by the demosaic stages: the rows, not the packed groups, were written
} IpImageRows;

// The colour pass straight into BGR24 rows, where this processor has such a
// pass (SSSE3 or AVX2): the bytes of the colour pass followed by the
// rearrangement, without the packed picture in between. Returns false, having
// written nothing, where it has not.
bool IpColorPassToImage(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, const tagIpImageRows& sImage,
                        ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase, const tagIpColorKernel* psColor,
                        bool bReference);
void IpColorPassImageSsse3(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, const tagIpImageRows& sImage, ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase,
                           const tagIpColorKernel* psColor);
void IpColorPassImageAvx2(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, const tagIpImageRows& sImage,
                          ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase, const tagIpColorKernel* psColor);
// The byte-shuffle masks that turn a 16-pixel step's three packed vectors, x =
// (even B, even G), y = (even R, odd B) and z = (odd G, odd R), into its 48
// BGR24 bytes, in order or mirrored: output vector k is the or of source s
// shuffled by acMask[k][s]; the green plane's 16 bytes are the or of x shuffled
// by acMask[3][0] and z shuffled by acMask[3][2]. 0x80 clears a byte.
void IpImageShuffleBytes(bool bMirror, char acMask[4][3][16]);

// The rows of psImage where IpColorPassToImage can write them (psImage->bWritten),
// the packed groups otherwise, or with psImage null.
void IpColorPassToImageOrPacked(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked,
                                tagIpImageRows* psImage, ULONG ulWidth, ULONG ulHeight, UCHAR ucPhase,
                                const tagIpColorKernel* psColor, bool bReference);

// Writes 8-pixel group ulGroup of one image row, 4B4G4R packed, at pGroup.
void IpColorPassGroupReference(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, ULONG ulWidth,
                               ULONG ulRow, ULONG ulGroup, UCHAR ucPhase, const tagIpColorKernel* psColor,
                               PUCHAR pGroup);
// Processes a span of 8-pixel groups [ulFirstGroup, ulEndGroup) of one image row.
void IpColorPassRowReference(const UCHAR* pPaddedBayer, const UCHAR* pGreenPlane, PUCHAR pPacked,
                             ULONG ulWidth, ULONG ulRow, ULONG ulFirstGroup, ULONG ulEndGroup,
                             UCHAR ucPhase, const tagIpColorKernel* psColor);
// The gain step of one sample (0..510) with a Q13 gain: 1/64 units, 0..16383.
int IpGainStep(int iValue, SHORT sGainQ13);
UCHAR IpGreenAt(const UCHAR* pPaddedBayer, ULONG ulPaddedWidth, ULONG ulPaddedRow,
                ULONG ulPaddedColumn);


// Site layout of a phase: the column parity of the non-green sites in even
// rows, and the row parity of the rows that hold blue.
inline ULONG IpNonGreenParity(UCHAR ucPhase, ULONG ulRow)
{
    ULONG shift = (ucPhase == 1 || ucPhase == 2) ? 1 : 0;
    return (ulRow + shift) & 1;
}
inline bool IpIsBlueRow(UCHAR ucPhase, ULONG ulRow)
{
    return (ulRow & 1) == ((ucPhase >= 2) ? 1u : 0u);
}
