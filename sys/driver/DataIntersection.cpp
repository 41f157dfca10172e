// SRB_GET_DATA_INTERSECTION: turns a video range proposed by a client into a
// concrete format. The client's range must equal one of the offered ranges;
// the answer keeps the client's own video-info header, with its frame
// interval clamped to what the camera can do.
#include "driver/AdapterHandlers.h"
#include "stream/StreamFormats.h"

#include <cstring>

namespace {

// The KSDATAFORMAT and the video-info header before its bitmap header.
constexpr ULONG FORMAT_HEADERS_SIZE = sizeof(KSDATAFORMAT) + KS_SIZE_PREHEADER;

bool IsSameRange(const KS_DATARANGE_VIDEO& Entry, const KSDATARANGE* Proposed)
{
    const KSDATARANGE& offered = Entry.DataRange;
    if (!(offered.MajorFormat == Proposed->MajorFormat && offered.SubFormat == Proposed->SubFormat &&
          offered.Specifier == Proposed->Specifier && offered.FormatSize == Proposed->FormatSize)) {
        return false;
    }
    // Only now is the proposed range known to be a whole KS_DATARANGE_VIDEO.
    const auto* video = reinterpret_cast<const KS_DATARANGE_VIDEO*>(Proposed);
    return Entry.bFixedSizeSamples == video->bFixedSizeSamples &&
           Entry.bTemporalCompression == video->bTemporalCompression &&
           Entry.StreamDescriptionFlags == video->StreamDescriptionFlags &&
           Entry.MemoryAllocationFlags == video->MemoryAllocationFlags &&
           std::memcmp(&Entry.ConfigCaps, &video->ConfigCaps, sizeof(Entry.ConfigCaps)) == 0 &&
           Entry.VideoInfoHeader.bmiHeader.biWidth == video->VideoInfoHeader.bmiHeader.biWidth &&
           Entry.VideoInfoHeader.bmiHeader.biHeight == video->VideoInfoHeader.bmiHeader.biHeight &&
           IsSamePixelLayout(Entry.VideoInfoHeader.bmiHeader, video->VideoInfoHeader.bmiHeader);
}

const KS_DATARANGE_VIDEO* FindOfferedRange(const KSDATARANGE* Proposed)
{
    const ULONG count = CaptureFormatCount();
    for (ULONG index = 0; index < count; ++index) {
        const auto* entry = reinterpret_cast<const KS_DATARANGE_VIDEO*>(CaptureFormatList[index]);
        if (entry != nullptr && IsSameRange(*entry, Proposed)) {
            return entry;
        }
    }
    return nullptr;
}

// Written back into the client's range, as the answer is built from it.
VOID ClampFrameInterval(const KS_DATARANGE_VIDEO& Entry, KS_DATARANGE_VIDEO* Proposed)
{
    const KS_VIDEO_STREAM_CONFIG_CAPS& caps = Entry.ConfigCaps;
    KS_VIDEOINFOHEADER& info = Proposed->VideoInfoHeader;
    if (info.AvgTimePerFrame > caps.MaxFrameInterval) {
        info.AvgTimePerFrame = caps.MaxFrameInterval;
        info.dwBitRate = static_cast<DWORD>(caps.MinBitsPerSecond);
    }
    if (info.AvgTimePerFrame < caps.MinFrameInterval) {
        info.AvgTimePerFrame = caps.MinFrameInterval;
        info.dwBitRate = static_cast<DWORD>(caps.MaxBitsPerSecond);
    }
}

// Rows padded to whole 32-bit words.
ULONG ImageSize(const KS_BITMAPINFOHEADER& Bitmap)
{
    const LONGLONG rowBytes = ((static_cast<LONGLONG>(Bitmap.biBitCount) * Bitmap.biWidth + 31) >> 3) & ~3LL;
    LONGLONG size = rowBytes * Bitmap.biHeight;
    if (size < 0) {
        size = -size;
    }
    return static_cast<ULONG>(size);
}

VOID WriteFormat(const KS_DATARANGE_VIDEO& Proposed, ULONG FormatSize, PVOID Buffer)
{
    auto* format = static_cast<PKS_DATAFORMAT_VIDEOINFOHEADER>(Buffer);
    std::memcpy(&format->DataFormat, &Proposed.DataRange, sizeof(KSDATAFORMAT));
    format->DataFormat.FormatSize = FormatSize;
    std::memcpy(&format->VideoInfoHeader, &Proposed.VideoInfoHeader, sizeof(KS_VIDEOINFOHEADER));
    const ULONG imageSize = ImageSize(format->VideoInfoHeader.bmiHeader);
    format->VideoInfoHeader.bmiHeader.biSizeImage = imageSize;
    format->DataFormat.SampleSize = imageSize;
}

} // namespace

NTSTATUS GetDataIntersection(PHW_STREAM_REQUEST_BLOCK Srb)
{
    // The union's NumberOfBytesToTransfer must not read as bytes answered.
    Srb->ActualBytesTransferred = 0;
    const PSTREAM_DATA_INTERSECT_INFO intersect = Srb->CommandData.IntersectInfo;
    if (intersect == nullptr || intersect->DataRange == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (intersect->StreamNumber >= 1) {
        return STATUS_NOT_SUPPORTED;
    }
    const KS_DATARANGE_VIDEO* entry = FindOfferedRange(intersect->DataRange);
    if (entry == nullptr) {
        return STATUS_NO_MATCH;
    }
    auto* proposed = reinterpret_cast<KS_DATARANGE_VIDEO*>(intersect->DataRange);
    // The range is exactly one KS_DATARANGE_VIDEO, which holds a 40-byte bitmap
    // header and no more: any other size would make the answer reach outside
    // the client's range or leave the image size outside the answer.
    if (proposed->VideoInfoHeader.bmiHeader.biSize != sizeof(KS_BITMAPINFOHEADER)) {
        return STATUS_INVALID_PARAMETER;
    }
    ClampFrameInterval(*entry, proposed);
    const ULONG formatSize = FORMAT_HEADERS_SIZE + proposed->VideoInfoHeader.bmiHeader.biSize;
    if (intersect->SizeOfDataFormatBuffer == 0) {
        Srb->ActualBytesTransferred = formatSize;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (intersect->SizeOfDataFormatBuffer < formatSize) {
        Srb->ActualBytesTransferred = formatSize;
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (intersect->DataFormatBuffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    WriteFormat(*proposed, formatSize, intersect->DataFormatBuffer);
    Srb->ActualBytesTransferred = formatSize;
    return STATUS_SUCCESS;
}
