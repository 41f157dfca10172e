// The capture pin's formats: one data range per frame size and subtype, and
// the list of those offered, chosen per installation by "A_64". Both are
// driver-wide; the stream information, the data intersection and the stream
// open all read the same list.
#pragma once

#include "platform/Platform.h"

constexpr ULONG CAPTURE_RESOLUTION_COUNT = 5;
constexpr ULONG CAPTURE_FORMAT_TABLE_SIZE = 2 * CAPTURE_RESOLUTION_COUNT;

// biCompression of the I420 entries: the FOURCC "I420".
constexpr DWORD CAPTURE_COMPRESSION_I420 = 0x30323449;

// Entries 0..4: RGB24 at resolution index 0..4 (640x480, 352x288, 320x240,
// 176x144, 160x120); entries 5..9: I420 at the same resolutions.
extern const KS_DATARANGE_VIDEO CaptureFormatTable[CAPTURE_FORMAT_TABLE_SIZE];

// The offered formats: entries 0..n-1 the RGB24 ranges of the selected
// resolutions, n..2n-1 the I420 ranges of the same resolutions in the same
// order. Its first CaptureFormatCount() entries are valid.
extern PKSDATAFORMAT CaptureFormatList[CAPTURE_FORMAT_TABLE_SIZE];

ULONG CaptureFormatCount();

// What a fresh installation offers: all five sizes, 352x288 first.
constexpr ULONG CAPTURE_DEFAULT_FORMAT_SELECTION = 0x00432105;

// Rebuilds the list from an "A_64" value: bits 0-7 the number n of frame
// sizes (1 to 5), then one 4-bit resolution index per list position from
// bit 8 on. An invalid value (n outside 1..5, or an index above 4 among the
// first n) changes nothing and answers STATUS_INVALID_PARAMETER, so the list
// never holds a count without entries behind it.
NTSTATUS SelectCaptureFormats(ULONG Selection);

// The subtype names the pixels once more in the bitmap header: a header whose
// compression or bit count is not the entry's describes another format, and
// the frames would not be what the subtype and sizes promise.
bool IsSamePixelLayout(const KS_BITMAPINFOHEADER& Offered, const KS_BITMAPINFOHEADER& Asked);

// Whether a format may open the capture stream (or be proposed to it): one
// of the offered entries has its major type, subtype, specifier and sample
// size, and its video-info header's width, height, image size, compression
// and bit count. A format too short to carry a video-info header is never
// offered.
BOOLEAN IsOfferedCaptureFormat(const KSDATAFORMAT* Format);
