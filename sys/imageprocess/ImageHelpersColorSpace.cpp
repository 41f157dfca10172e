// BGR24 to I420 for the delivered I420 frames. The rules are written in double
// precision with truncation; the fast path computes the same numbers in integers.
// One of three BGR/I420 conversions in the driver, each with its own arithmetic
// because its output is compared byte for byte: this one makes the stream's I420
// frames (decimal coefficients, chroma from one pixel of each 2 x 2 block); the
// effects convert with 15-bit fixed point and block means for their round trip,
// and the still file goes back to BGR with its own integer divisions.
#include "platform/CpuFeatures.h"
#include "imageprocess/ImageHelpers.h"
#include "imageprocess/ImageHelpersKernels.h"

namespace {

inline int Clamp255(int lValue)
{
    return lValue < 0 ? 0 : (lValue > 255 ? 255 : lValue);
}

inline UCHAR LumaDouble(double b, double g, double r)
{
    return static_cast<UCHAR>(static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b + 0.499));
}

inline UCHAR ChromaUDouble(double b, double g, double r)
{
    return static_cast<UCHAR>(static_cast<int>(0.5 * b - 0.1687 * r - 0.3313 * g + 128.4999));
}

inline UCHAR ChromaVDouble(double b, double g, double r)
{
    return static_cast<UCHAR>(static_cast<int>(0.5 * r - 0.4187 * g - 0.0813 * b + 128.4999));
}

// The double sum differs from the exact quotient only where the exact value is
// a whole number (it may then land just below it): those rare pixels take the
// double formula itself.
inline UCHAR LumaExact(ULONG b, ULONG g, ULONG r)
{
    const ULONG ulScaled = 299 * r + 587 * g + 114 * b + 499;
    const ULONG ulQuotient = ulScaled / 1000;
    if (ulQuotient * 1000 == ulScaled) {
        return LumaDouble(b, g, r);
    }
    return static_cast<UCHAR>(ulQuotient);
}

// For U and V the integer quotients equal the double formulas for every input.
inline UCHAR ChromaUExact(LONG b, LONG g, LONG r)
{
    return static_cast<UCHAR>(static_cast<ULONG>(5000 * b - 1687 * r - 3313 * g + 1284999) / 10000);
}

inline UCHAR ChromaVExact(LONG b, LONG g, LONG r)
{
    return static_cast<UCHAR>(static_cast<ULONG>(5000 * r - 4187 * g - 813 * b + 1284999) / 10000);
}

// The widest kernels this processor runs: AVX2, or SSSE3 on the SSE2 path.
bool VectorRows()
{
    return CpuHasAvx2() || CpuHasSsse3();
}

void LumaRow(const UCHAR* pucRow, UCHAR* pucY, ULONG ulCount)
{
    if constexpr (kAvx2Compiled) {
        if (CpuHasAvx2()) {
            LumaRowAvx2(pucRow, pucY, ulCount);
            return;
        }
    }
    LumaRowSsse3(pucRow, pucY, ulCount);
}

void LumaChromaRow(const UCHAR* pucRow, UCHAR* pucY, UCHAR* pucU, UCHAR* pucV, ULONG ulCount)
{
    if constexpr (kAvx2Compiled) {
        if (CpuHasAvx2()) {
            LumaChromaRowAvx2(pucRow, pucY, pucU, pucV, ulCount);
            return;
        }
    }
    LumaChromaRowSsse3(pucRow, pucY, pucU, pucV, ulCount);
}

} // namespace

UCHAR LumaOfPixel(ULONG ulBlue, ULONG ulGreen, ULONG ulRed)
{
    return LumaExact(ulBlue, ulGreen, ulRed);
}

void CImageHelpers::BGR24toI420Reference(const UCHAR* pucPicture, UCHAR* pucI420, ULONG ulWidth, ULONG ulHeight)
{
    const SIZE_T cPixels = static_cast<SIZE_T>(ulWidth) * ulHeight;
    UCHAR* pucU = pucI420 + cPixels;
    UCHAR* pucV = pucU + cPixels / 4;
    for (SIZE_T r = 0; r < ulHeight; ++r) {
        for (SIZE_T c = 0; c < ulWidth; ++c) {
            const UCHAR* p = pucPicture + 3 * (r * ulWidth + c);
            pucI420[r * ulWidth + c] = LumaDouble(p[0], p[1], p[2]);
            if ((r & 1) == 1 && (c & 1) == 0 && c / 2 < ulWidth / 2) {
                const SIZE_T i = (r / 2) * (ulWidth / 2) + c / 2;
                pucU[i] = ChromaUDouble(p[0], p[1], p[2]);
                pucV[i] = ChromaVDouble(p[0], p[1], p[2]);
            }
        }
    }
}

bool CImageHelpers::BGR24toI420(const UCHAR* pucPicture, UCHAR* pucI420, ULONG ulWidth, ULONG ulHeight)
{
    if (pucPicture == nullptr || pucI420 == nullptr) {
        DbgPrint(" ERROR: Buffer == NULL\n");
        return false;
    }
    BGR24toI420Rows(pucPicture, pucI420, ulWidth, ulHeight, 0, ulHeight);
    return true;
}

// Rows ulFirst .. ulFirst + ulCount - 1 of the picture; ulFirst is even, so
// each odd row finds its chroma row's pair in the same call.
void CImageHelpers::BGR24toI420Rows(const UCHAR* pucPicture, UCHAR* pucI420, ULONG ulWidth, ULONG ulHeight,
                                    ULONG ulFirst, ULONG ulCount)
{
    const SIZE_T cPixels = static_cast<SIZE_T>(ulWidth) * ulHeight;
    UCHAR* pucY = pucI420;
    UCHAR* pucU = pucI420 + cPixels;
    UCHAR* pucV = pucU + cPixels / 4;
    const SIZE_T cChromaWidth = ulWidth / 2;
    const ULONG ulVectorPixels = VectorRows() ? (ulWidth & ~15u) : 0;
    for (SIZE_T r = ulFirst; r < static_cast<SIZE_T>(ulFirst) + ulCount; ++r) {
        const UCHAR* pucRow = pucPicture + 3 * r * ulWidth;
        UCHAR* pucLuma = pucY + r * ulWidth;
        const SIZE_T iChroma = (r / 2) * cChromaWidth;
        if (ulVectorPixels != 0) {
            // Odd rows have chroma too: one gather of the channels serves both.
            (r & 1) == 0 ? LumaRow(pucRow, pucLuma, ulVectorPixels)
                         : LumaChromaRow(pucRow, pucLuma, pucU + iChroma, pucV + iChroma, ulVectorPixels);
        }
        for (SIZE_T c = ulVectorPixels; c < ulWidth; ++c) {
            const UCHAR* p = pucRow + 3 * c;
            pucLuma[c] = LumaExact(p[0], p[1], p[2]);
        }
        if ((r & 1) == 0) {
            continue;
        }
        for (SIZE_T c = ulVectorPixels / 2; c < cChromaWidth; ++c) {
            const UCHAR* p = pucRow + 6 * c;
            pucU[iChroma + c] = ChromaUExact(p[0], p[1], p[2]);
            pucV[iChroma + c] = ChromaVExact(p[0], p[1], p[2]);
        }
    }
}

bool CImageHelpers::I420toBGR24(const UCHAR* pucI420, UCHAR* pucPicture, ULONG ulWidth, ULONG ulHeight)
{
    if (pucI420 == nullptr || pucPicture == nullptr) {
        DbgPrint(" ERROR: Buffer == NULL\n");
        return false;
    }
    const SIZE_T cPixels = static_cast<SIZE_T>(ulWidth) * ulHeight;
    const UCHAR* pucU = pucI420 + cPixels;
    const UCHAR* pucV = pucU + cPixels / 4;
    for (SIZE_T r = 0; r < ulHeight; ++r) {
        UCHAR* pucRow = pucPicture + 3 * (ulHeight - 1 - r) * ulWidth;
        for (SIZE_T c = 0; c < ulWidth; ++c) {
            const SIZE_T iChroma = (r / 2) * (ulWidth / 2) + c / 2;
            const double y = pucI420[r * ulWidth + c];
            const double u = static_cast<int>(pucU[iChroma]) - 128;
            const double v = static_cast<int>(pucV[iChroma]) - 128;
            pucRow[3 * c] = static_cast<UCHAR>(Clamp255(static_cast<int>(y + 1.772 * u + 0.5)));
            pucRow[3 * c + 1] = static_cast<UCHAR>(Clamp255(static_cast<int>(y - 0.3441 * u - 0.7141 * v + 0.5)));
            pucRow[3 * c + 2] = static_cast<UCHAR>(Clamp255(static_cast<int>(y + 1.402 * v + 0.5)));
        }
    }
    return true;
}
