// Picture helpers of the image pipeline: luma extraction, 3 x 3 smoothing,
// crops, 2x enlargement and reduction, the black border, the repeated edge and the BGR24/I420
// converters. They are protected members of CImageProcess (through this base);
// each hot loop keeps a plain *Reference twin that tests compare against.
#pragma once

#include "platform/Platform.h"

class CImageHelpers {
protected:
    static bool BGRtoY(const UCHAR* pucPicture, UCHAR* pucPlane, ULONG ulWidth, ULONG ulHeight);
    static void SmoothBuffer(const UCHAR* pucPlane, SHORT* psSmooth, ULONG ulWidth, ULONG ulHeight);
    static void SmoothExtBuffer(UCHAR* pucPlane, UCHAR* pucScratch, ULONG ulWidth, ULONG ulHeight);
    static bool CropBuffer(const UCHAR* pucPlane, UCHAR* pucCrop, ULONG ulWidth, ULONG ulHeight,
                           ULONG ulCropWidth, ULONG ulCropHeight);
    static bool CropColorBuffer(const UCHAR* pucPicture, UCHAR* pucCrop, ULONG ulWidth, ULONG ulHeight,
                                ULONG ulCropWidth, ULONG ulCropHeight);
    static bool ColorBufferBorder(UCHAR* pucPicture, ULONG ulWidth, ULONG ulHeight);
    static bool ColorBufferEdgeRepeat(UCHAR* pucPicture, ULONG ulWidth, ULONG ulHeight);
    static bool ScaleBuffer(const UCHAR* pucPicture, UCHAR* pucScaled, ULONG ulWidth, ULONG ulHeight);
    static bool SubSampleBuffer(const UCHAR* pucPicture, UCHAR* pucReduced, ULONG ulWidth, ULONG ulHeight);
    static bool BGR24toI420(const UCHAR* pucPicture, UCHAR* pucI420, ULONG ulWidth, ULONG ulHeight);
    static bool I420toBGR24(const UCHAR* pucI420, UCHAR* pucPicture, ULONG ulWidth, ULONG ulHeight);
    // Bands of rows of the last two, for a schedule that finishes a band while it is in the cache.
    static void EdgeRepeatRows(UCHAR* pucPicture, ULONG ulWidth, ULONG ulHeight, ULONG ulFirst, ULONG ulCount);
    static void BGR24toI420Rows(const UCHAR* pucPicture, UCHAR* pucI420, ULONG ulWidth, ULONG ulHeight,
                                ULONG ulFirst, ULONG ulCount);

    static void SmoothBufferReference(const UCHAR* pucPlane, SHORT* psSmooth, ULONG ulWidth, ULONG ulHeight);
    static void ScaleBufferReference(const UCHAR* pucPicture, UCHAR* pucScaled, ULONG ulWidth, ULONG ulHeight);
    static void SubSampleBufferReference(const UCHAR* pucPicture, UCHAR* pucReduced, ULONG ulWidth,
                                         ULONG ulHeight);
    static void BGR24toI420Reference(const UCHAR* pucPicture, UCHAR* pucI420, ULONG ulWidth, ULONG ulHeight);
};
