// VideoEffects: the fifteen special effects on the finished output picture
// (BGR24 bottom-up or I420 top-down) and the compositor of the overlay frames.
// One object per stream; its scratch pictures live in one work buffer that the
// caller allocates after the first set-up call, so no operation allocates.
#pragma once

#include "base/PoolAllocator.h"
#include "platform/Platform.h"

// One image description of the set-up call.
typedef struct tagVeImageDescription {
    ULONG ulSize;          // sizeof(tagVeImageDescription)
    ULONG ulWidth;
    ULONG ulHeight;
    ULONG ulBitsPerPixel;
    ULONG ulFormat;        // VE_FORMAT_BGR24 or VE_FORMAT_I420
    ULONG ulBytes;
} VE_IMAGE_DESCRIPTION, *PVE_IMAGE_DESCRIPTION;
static_assert(sizeof(tagVeImageDescription) == 24);

// One picture handed to an operation.
typedef struct tagVePicture {
    ULONG ulSize;          // sizeof(tagVePicture): 16 on 32-bit Windows
    PUCHAR pData;
    ULONG ulLength;        // bytes available at pData
    ULONG ulFlags;         // 0 on input; set to 0 on output
} VE_PICTURE, *PVE_PICTURE;

constexpr ULONG VE_FORMAT_BGR24 = 0;
constexpr ULONG VE_FORMAT_I420 = 1;

// Result codes of every operation.
constexpr ULONG VE_SUCCESS = 0;
constexpr ULONG VE_NULL_POINTER = 1;       // also a buffer shorter than its picture
constexpr ULONG VE_FLAGS_NOT_ZERO = 4;
constexpr ULONG VE_ALREADY_READY = 5;
constexpr ULONG VE_WRONG_STATE = 6;
constexpr ULONG VE_UNSUPPORTED_FORMAT = 7;

constexpr ULONG VE_STATE_CREATED = 0;
constexpr ULONG VE_STATE_DESCRIBED = 1;
constexpr ULONG VE_STATE_READY = 2;

// Effect numbers of the dispatcher.
enum VE_EFFECT : ULONG {
    VeEffectNone = 0,
    VeEffectNegative = 1,
    VeEffectBlackWhite = 2,
    VeEffectGreenTone = 3,
    VeEffectGrey = 4,
    VeEffectBlueTone = 5,
    VeEffectRedTone = 6,
    VeEffectRelief = 7,
    VeEffectColorSketch = 8,
    VeEffectMosaic = 9,
    VeEffectStreaks = 10,
    VeEffectSolarise = 11,
    VeEffectSepia = 12,
    VeEffectOilPaint = 13,
    VeEffectGreySketch = 14,
    VeEffectFrostedGlass = 15,
};

// Byte offsets inside the tone-table area at the start of the work buffer.
constexpr ULONG VE_TONE_FIRST = 0;          // 129 entries
constexpr ULONG VE_TONE_SECOND = 129;       // 129 entries
constexpr ULONG VE_TONE_SEPIA_BLUE = 272;   // 256 entries: sepia blue by luma
constexpr ULONG VE_TONE_SEPIA_RED = 528;    // 256 entries: sepia red by luma
constexpr ULONG VE_TONE_COLUMN_MAPS = 1024; // compositor column maps (3 × 2 bytes per column)

class VideoEffects : public CPoolObject {
public:
    VideoEffects();
    virtual ~VideoEffects();

    // Only objects of exactly this class come from the pool.
    static void* operator new(size_t bytes) noexcept;
    static void operator delete(void* object) noexcept;

    // First call (created): takes the three descriptions and reports the work-buffer
    // size in *pulWorkBytes. Second call (described): takes the work buffer, whose
    // size the caller passes in *pulWorkBytes, and makes the object ready.
    ULONG Setup(const VE_IMAGE_DESCRIPTION* pOutput, const VE_IMAGE_DESCRIPTION* pOverlay,
                const VE_IMAGE_DESCRIPTION* pMask, PVOID pWorkBuffer, PULONG pulWorkBytes);
    VOID Reset();

    // Per-frame entry: effect 1..15 from source into destination; true on success.
    BOOLEAN ProcessEffect(PVOID pSource, ULONG ulSourceLength, PVOID pDestination,
                          ULONG ulDestinationLength, ULONG ulEffect, PVOID pDeviceContext);

    ULONG Negative(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG BlackWhite(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG GreenTone(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG Grey(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG BlueTone(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG RedTone(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG Relief(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG ColorSketch(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG Mosaic(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG Streaks(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG Solarise(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG Sepia(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG OilPaint(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG GreySketch(PVE_PICTURE pSource, PVE_PICTURE pDestination);
    ULONG FrostedGlass(PVE_PICTURE pSource, PVE_PICTURE pDestination);

    // Blends the overlay picture through the mask over the source picture.
    ULONG Composite(PVE_PICTURE pOverlay, PVE_PICTURE pMask, PVE_PICTURE pSource,
                    PVE_PICTURE pDestination);
    // Converts a BGR24 picture of the overlay's described size to I420, keeping
    // its line order.
    ULONG ConvertBgrToI420(PVE_PICTURE pSource, PVE_PICTURE pDestination);

    ULONG GetState() const;
    ULONG GetWorkBytes() const;
    PUCHAR GetWork(ULONG ulIndex) const;
    PUCHAR GetToneTable() const;

private:
    // VE_SUCCESS when both pictures are given without flags, the library is
    // ready and they hold at least the bytes named (a whole frame by default).
    ULONG CheckPictures(PVE_PICTURE pSource, PVE_PICTURE pDestination) const;
    ULONG CheckPictures(PVE_PICTURE pSource, PVE_PICTURE pDestination, ULONG ulSourceBytes,
                        ULONG ulDestinationBytes) const;
    ULONG RunEffect(ULONG ulEffect, PVE_PICTURE pSource, PVE_PICTURE pDestination);
    VOID RunBgrEffect(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination,
                      PUCHAR pucScratchA, PUCHAR pucScratchB);
    VOID RunI420Effect(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination);
    ULONG DescribeFirst(const VE_IMAGE_DESCRIPTION* pOutput, const VE_IMAGE_DESCRIPTION* pOverlay,
                        const VE_IMAGE_DESCRIPTION* pMask, PULONG pulWorkBytes);
    ULONG LayOutWork(PVOID pWorkBuffer, ULONG ulBytes);
    ULONG PictureBytes() const;
    ULONG CompositeBgr(const UCHAR* pucOverlay, const UCHAR* pucMask, const UCHAR* pucSource,
                       PUCHAR pucDestination);
    ULONG CompositeI420(const UCHAR* pucOverlay, const UCHAR* pucMask, const UCHAR* pucSource,
                        PUCHAR pucDestination);

    ULONG m_ulState;
    ULONG m_ulWidth;
    ULONG m_ulHeight;
    ULONG m_ulImageBytes;
    ULONG m_ulBitsPerPixel;
    ULONG m_ulFormat;
    PUCHAR m_pWork[6];
    ULONG m_ulWorkBytes;
    ULONG m_ulOverlayWidth;
    ULONG m_ulOverlayHeight;
    ULONG m_ulOverlayFormat;
    ULONG m_ulMaskWidth;
    ULONG m_ulMaskHeight;
    ULONG m_ulMaskFormat;
    PUCHAR m_pToneTable;
    ULONG m_ulQuarterPixels;
    ULONG m_ulPixels;
    ULONG m_ulWidth8;
    ULONG m_ulWidth4;
    ULONG m_ulWidth2;
    ULONG m_ulOverlayPixels;
};
