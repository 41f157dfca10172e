// Kernel-streaming video records of the platform (ksmedia.h): bitmap and
// video-info headers, video data ranges, the frame info behind each stream
// header, the video-capture property records and their GUIDs.
#pragma once

#if defined(KORVAL_WIN32)
#include "platform/win32/Win32Platform.h"
#else

#include "platform/Ks.h"

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *PRECT;
static_assert(sizeof(RECT) == 16);

typedef struct tagSIZE {
    LONG cx;
    LONG cy;
} SIZE, *PSIZE;
static_assert(sizeof(SIZE) == 8);

typedef LONGLONG REFERENCE_TIME;

#define KS_BI_RGB       0
#define KS_BI_BITFIELDS 3

typedef struct tagKS_BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} KS_BITMAPINFOHEADER, *PKS_BITMAPINFOHEADER;
static_assert(sizeof(KS_BITMAPINFOHEADER) == 40);

typedef struct tagKS_VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    KS_BITMAPINFOHEADER bmiHeader;
} KS_VIDEOINFOHEADER, *PKS_VIDEOINFOHEADER;
static_assert(sizeof(KS_VIDEOINFOHEADER) == 88);
static_assert(offsetof(KS_VIDEOINFOHEADER, bmiHeader) == 48);

// The bytes of a video-info header before its bitmap header.
#define KS_SIZE_PREHEADER (offsetof(KS_VIDEOINFOHEADER, bmiHeader))
#define KS_SIZE_VIDEOHEADER(pbmi) ((pbmi)->bmiHeader.biSize + KS_SIZE_PREHEADER)

typedef struct _KS_VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG VideoStandard;
    SIZE InputSize;
    SIZE MinCroppingSize;
    SIZE MaxCroppingSize;
    int CropGranularityX;
    int CropGranularityY;
    int CropAlignX;
    int CropAlignY;
    SIZE MinOutputSize;
    SIZE MaxOutputSize;
    int OutputGranularityX;
    int OutputGranularityY;
    int StretchTapsX;
    int StretchTapsY;
    int ShrinkTapsX;
    int ShrinkTapsY;
    LONGLONG MinFrameInterval;
    LONGLONG MaxFrameInterval;
    LONG MinBitsPerSecond;
    LONG MaxBitsPerSecond;
} KS_VIDEO_STREAM_CONFIG_CAPS, *PKS_VIDEO_STREAM_CONFIG_CAPS;
static_assert(sizeof(KS_VIDEO_STREAM_CONFIG_CAPS) == 128);

typedef struct tagKS_DATARANGE_VIDEO {
    KSDATARANGE DataRange;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    DWORD StreamDescriptionFlags;
    DWORD MemoryAllocationFlags;
    KS_VIDEO_STREAM_CONFIG_CAPS ConfigCaps;
    KS_VIDEOINFOHEADER VideoInfoHeader;
} KS_DATARANGE_VIDEO, *PKS_DATARANGE_VIDEO;
static_assert(sizeof(KS_DATARANGE_VIDEO) == 296);
static_assert(offsetof(KS_DATARANGE_VIDEO, ConfigCaps) == 80);
static_assert(offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader) == 208);

// A concrete video format: the header and the video-info header behind it.
typedef struct tagKS_DATAFORMAT_VIDEOINFOHEADER {
    KSDATAFORMAT DataFormat;
    KS_VIDEOINFOHEADER VideoInfoHeader;
} KS_DATAFORMAT_VIDEOINFOHEADER, *PKS_DATAFORMAT_VIDEOINFOHEADER;
static_assert(sizeof(KS_DATAFORMAT_VIDEOINFOHEADER) == 152);

#define KS_VIDEOSTREAM_PREVIEW 0x0001
#define KS_VIDEOSTREAM_CAPTURE 0x0002
#define KS_VIDEOSTREAM_STILL   0x1000

#define KS_VIDEO_FLAG_FRAME       0x0000
#define KS_VIDEO_FLAG_I_FRAME     0x0000
#define KS_VIDEO_FLAG_P_FRAME     0x0010
#define KS_VIDEO_FLAG_B_FRAME     0x0020

// The media-specific record behind the stream header of every video frame.
typedef struct tagKS_FRAME_INFO {
    ULONG ExtendedHeaderSize;
    DWORD dwFrameFlags;
    LONGLONG PictureNumber;
    LONGLONG DropCount;
    HANDLE hDirectDraw;
    HANDLE hSurfaceHandle;
    RECT DirectDrawRect;
    DWORD Reserved1;
    DWORD Reserved2;
    DWORD Reserved3;
    DWORD Reserved4;
} KS_FRAME_INFO, *PKS_FRAME_INFO;
// 64 bytes with the 32-bit handles of the driver's own platform.
static_assert(sizeof(KS_FRAME_INFO) == 56 + 2 * sizeof(HANDLE));

// Video processing amplifier.
typedef enum {
    KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS,
    KSPROPERTY_VIDEOPROCAMP_CONTRAST,
    KSPROPERTY_VIDEOPROCAMP_HUE,
    KSPROPERTY_VIDEOPROCAMP_SATURATION,
    KSPROPERTY_VIDEOPROCAMP_SHARPNESS,
    KSPROPERTY_VIDEOPROCAMP_GAMMA,
    KSPROPERTY_VIDEOPROCAMP_COLORENABLE,
    KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE,
    KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION,
    KSPROPERTY_VIDEOPROCAMP_GAIN
} KSPROPERTY_VIDCAP_VIDEOPROCAMP;

#define KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO   0x0001
#define KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL 0x0002

typedef struct {
    KSPROPERTY Property;
    LONG Value;
    ULONG Flags;
    ULONG Capabilities;
} KSPROPERTY_VIDEOPROCAMP_S, *PKSPROPERTY_VIDEOPROCAMP_S;
static_assert(sizeof(KSPROPERTY_VIDEOPROCAMP_S) == 40);

// Camera control.
typedef enum {
    KSPROPERTY_CAMERACONTROL_PAN,
    KSPROPERTY_CAMERACONTROL_TILT,
    KSPROPERTY_CAMERACONTROL_ROLL,
    KSPROPERTY_CAMERACONTROL_ZOOM,
    KSPROPERTY_CAMERACONTROL_EXPOSURE,
    KSPROPERTY_CAMERACONTROL_IRIS,
    KSPROPERTY_CAMERACONTROL_FOCUS
} KSPROPERTY_VIDCAP_CAMERACONTROL;

#define KSPROPERTY_CAMERACONTROL_FLAGS_AUTO     0x0001
#define KSPROPERTY_CAMERACONTROL_FLAGS_MANUAL   0x0002
#define KSPROPERTY_CAMERACONTROL_FLAGS_ABSOLUTE 0x0000
#define KSPROPERTY_CAMERACONTROL_FLAGS_RELATIVE 0x0010

typedef struct {
    KSPROPERTY Property;
    LONG Value;
    ULONG Flags;
    ULONG Capabilities;
} KSPROPERTY_CAMERACONTROL_S, *PKSPROPERTY_CAMERACONTROL_S;
static_assert(sizeof(KSPROPERTY_CAMERACONTROL_S) == 40);

// Video control.
typedef enum {
    KSPROPERTY_VIDEOCONTROL_CAPS,
    KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE,
    KSPROPERTY_VIDEOCONTROL_FRAME_RATES,
    KSPROPERTY_VIDEOCONTROL_MODE
} KSPROPERTY_VIDCAP_VIDEOCONTROL;

typedef enum {
    KS_VideoControlFlag_FlipHorizontal = 0x0001,
    KS_VideoControlFlag_FlipVertical = 0x0002,
    KS_VideoControlFlag_ExternalTriggerEnable = 0x0004,
    KS_VideoControlFlag_Trigger = 0x0008
} KS_VideoControlFlags;

typedef struct {
    KSPROPERTY Property;
    ULONG StreamIndex;
    ULONG VideoControlCaps;
} KSPROPERTY_VIDEOCONTROL_CAPS_S, *PKSPROPERTY_VIDEOCONTROL_CAPS_S;
static_assert(sizeof(KSPROPERTY_VIDEOCONTROL_CAPS_S) == 32);

typedef struct {
    KSPROPERTY Property;
    ULONG StreamIndex;
    LONG Mode;
} KSPROPERTY_VIDEOCONTROL_MODE_S, *PKSPROPERTY_VIDEOCONTROL_MODE_S;
static_assert(sizeof(KSPROPERTY_VIDEOCONTROL_MODE_S) == 32);

typedef struct {
    KSPROPERTY Property;
    ULONG StreamIndex;
    ULONG RangeIndex;
    SIZE Dimensions;
    LONGLONG CurrentActualFrameRate;
    LONGLONG CurrentMaxAvailableFrameRate;
} KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S, *PKSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S;
static_assert(sizeof(KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S) == 56);

typedef struct {
    KSPROPERTY Property;
    ULONG StreamIndex;
    ULONG RangeIndex;
    SIZE Dimensions;
} KSPROPERTY_VIDEOCONTROL_FRAME_RATES_S, *PKSPROPERTY_VIDEOCONTROL_FRAME_RATES_S;
static_assert(sizeof(KSPROPERTY_VIDEOCONTROL_FRAME_RATES_S) == 40);

// Dropped frames of a capture stream.
typedef enum {
    KSPROPERTY_DROPPEDFRAMES_CURRENT
} KSPROPERTY_VIDCAP_DROPPEDFRAMES;

typedef struct {
    KSPROPERTY Property;
    LONGLONG PictureNumber;
    LONGLONG DropCount;
    ULONG AverageFrameSize;
} KSPROPERTY_DROPPEDFRAMES_CURRENT_S, *PKSPROPERTY_DROPPEDFRAMES_CURRENT_S;
static_assert(sizeof(KSPROPERTY_DROPPEDFRAMES_CURRENT_S) == 48);

// Still-image events of a video capture device.
typedef enum {
    KSEVENT_VIDCAPTOSTI_EXT_TRIGGER,
    KSEVENT_VIDCAP_AUTO_UPDATE,
    KSEVENT_VIDCAP_SEARCH
} KSEVENT_VIDCAPTOSTI;

inline constexpr GUID KSDATAFORMAT_TYPE_VIDEO =
    {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_VIDEOINFO =
    {0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID MEDIASUBTYPE_RGB24 =
    {0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_I420 =
    {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSCATEGORY_VIDEO =
    {0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID PINNAME_VIDEO_CAPTURE =
    {0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr GUID PINNAME_VIDEO_STILL =
    {0xFB6C428A, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr GUID PROPSETID_VIDCAP_VIDEOPROCAMP =
    {0xC6E13360, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
inline constexpr GUID PROPSETID_VIDCAP_CAMERACONTROL =
    {0xC6E13370, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
inline constexpr GUID PROPSETID_VIDCAP_VIDEOCONTROL =
    {0x6A2E0670, 0x28E4, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
inline constexpr GUID PROPSETID_VIDCAP_DROPPEDFRAMES =
    {0xC6E13344, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
inline constexpr GUID KSEVENTSETID_VIDCAPTOSTI =
    {0xDB47DE20, 0xF628, 0x11D1, {0xBA, 0x41, 0x00, 0xA0, 0xC9, 0x0D, 0x2B, 0x05}};
// The still-image device class, registered as a device interface.
inline constexpr GUID GUID_DEVINTERFACE_IMAGE =
    {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

#endif // KORVAL_WIN32
