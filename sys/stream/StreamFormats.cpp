#include "stream/StreamFormats.h"

namespace {

struct tagFrameSize {
    LONG lWidth;
    LONG lHeight;
};

constexpr tagFrameSize FrameSizes[CAPTURE_RESOLUTION_COUNT] = {
    {640, 480}, {352, 288}, {320, 240}, {176, 144}, {160, 120},
};

constexpr LONGLONG FASTEST_FRAME_INTERVAL = 285714;  // 35 frames per second
constexpr LONGLONG SLOWEST_FRAME_INTERVAL = 3333333; // 3 frames per second
constexpr LONGLONG NOMINAL_FRAME_INTERVAL = 333333;  // 30 frames per second

constexpr SIZE FrameExtent(const tagFrameSize& Size)
{
    return SIZE{Size.lWidth, Size.lHeight};
}

constexpr KS_VIDEO_STREAM_CONFIG_CAPS MakeConfigCaps(const tagFrameSize& Size, LONG BitCount)
{
    KS_VIDEO_STREAM_CONFIG_CAPS caps{};
    caps.guid = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    caps.InputSize = caps.MinCroppingSize = caps.MaxCroppingSize = FrameExtent(Size);
    caps.MinOutputSize = caps.MaxOutputSize = FrameExtent(Size);
    caps.CropGranularityX = caps.CropGranularityY = 1;
    caps.CropAlignX = caps.CropAlignY = 1;
    caps.OutputGranularityX = caps.OutputGranularityY = 1;
    caps.MinFrameInterval = FASTEST_FRAME_INTERVAL;
    caps.MaxFrameInterval = SLOWEST_FRAME_INTERVAL;
    const LONG bitsPerFrame = Size.lWidth * Size.lHeight * BitCount;
    caps.MinBitsPerSecond = bitsPerFrame * 3;
    caps.MaxBitsPerSecond = bitsPerFrame * 35;
    return caps;
}

constexpr KS_DATARANGE_VIDEO MakeRange(const tagFrameSize& Size, bool bI420)
{
    const WORD bitCount = bI420 ? 12 : 24;
    const ULONG imageSize = static_cast<ULONG>(Size.lWidth * Size.lHeight * bitCount / 8);
    KS_DATARANGE_VIDEO range{};
    range.DataRange.FormatSize = sizeof(KS_DATARANGE_VIDEO);
    range.DataRange.SampleSize = imageSize;
    range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
    range.DataRange.SubFormat = bI420 ? MEDIASUBTYPE_I420 : MEDIASUBTYPE_RGB24;
    range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    range.bFixedSizeSamples = TRUE;
    range.bTemporalCompression = TRUE;
    range.ConfigCaps = MakeConfigCaps(Size, bitCount);

    KS_VIDEOINFOHEADER& info = range.VideoInfoHeader;
    info.dwBitRate = static_cast<DWORD>(Size.lWidth * Size.lHeight * bitCount * 30);
    info.AvgTimePerFrame = NOMINAL_FRAME_INTERVAL;
    info.bmiHeader.biSize = sizeof(KS_BITMAPINFOHEADER);
    info.bmiHeader.biWidth = Size.lWidth;
    info.bmiHeader.biHeight = Size.lHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bitCount;
    info.bmiHeader.biCompression = bI420 ? CAPTURE_COMPRESSION_I420 : KS_BI_RGB;
    info.bmiHeader.biSizeImage = imageSize;
    return range;
}

// Written only when the selection changes, so that the stream information of
// one device never disturbs another device reading the same list.
ULONG SelectedFormatCount = 0;

constexpr ULONG SelectionSizeCount(ULONG Selection)
{
    return Selection & 0xFF;
}

constexpr ULONG SelectionResolution(ULONG Selection, ULONG Position)
{
    return (Selection >> (8 + 4 * Position)) & 0xF;
}

bool IsValidSelection(ULONG Selection)
{
    const ULONG sizes = SelectionSizeCount(Selection);
    if (sizes == 0 || sizes > CAPTURE_RESOLUTION_COUNT) {
        return false;
    }
    for (ULONG position = 0; position < sizes; ++position) {
        if (SelectionResolution(Selection, position) >= CAPTURE_RESOLUTION_COUNT) {
            return false;
        }
    }
    return true;
}

VOID SetListEntry(ULONG Position, ULONG TableIndex)
{
    const PKSDATAFORMAT entry = const_cast<PKSDATAFORMAT>(&CaptureFormatTable[TableIndex].DataRange);
    if (CaptureFormatList[Position] != entry) {
        CaptureFormatList[Position] = entry;
    }
}

const KS_VIDEOINFOHEADER& VideoInfoOf(const KSDATAFORMAT* Format)
{
    return reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(Format)->VideoInfoHeader;
}

bool IsSameFormat(const KS_DATARANGE_VIDEO& Entry, const KSDATAFORMAT* Format)
{
    const KS_BITMAPINFOHEADER& offered = Entry.VideoInfoHeader.bmiHeader;
    const KS_BITMAPINFOHEADER& asked = VideoInfoOf(Format).bmiHeader;
    return Entry.DataRange.MajorFormat == Format->MajorFormat && Entry.DataRange.SubFormat == Format->SubFormat &&
           Entry.DataRange.Specifier == Format->Specifier && offered.biWidth == asked.biWidth &&
           offered.biHeight == asked.biHeight && offered.biSizeImage == asked.biSizeImage &&
           Entry.DataRange.SampleSize == Format->SampleSize && IsSamePixelLayout(offered, asked);
}

} // namespace

constinit const KS_DATARANGE_VIDEO CaptureFormatTable[CAPTURE_FORMAT_TABLE_SIZE] = {
    MakeRange(FrameSizes[0], false), MakeRange(FrameSizes[1], false), MakeRange(FrameSizes[2], false),
    MakeRange(FrameSizes[3], false), MakeRange(FrameSizes[4], false), MakeRange(FrameSizes[0], true),
    MakeRange(FrameSizes[1], true),  MakeRange(FrameSizes[2], true),  MakeRange(FrameSizes[3], true),
    MakeRange(FrameSizes[4], true),
};

PKSDATAFORMAT CaptureFormatList[CAPTURE_FORMAT_TABLE_SIZE] = {};

ULONG CaptureFormatCount()
{
    return SelectedFormatCount;
}

NTSTATUS SelectCaptureFormats(ULONG Selection)
{
    if (!IsValidSelection(Selection)) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG sizes = SelectionSizeCount(Selection);
    for (ULONG position = 0; position < sizes; ++position) {
        const ULONG resolution = SelectionResolution(Selection, position);
        SetListEntry(position, resolution);
        SetListEntry(sizes + position, CAPTURE_RESOLUTION_COUNT + resolution);
    }
    if (SelectedFormatCount != 2 * sizes) {
        SelectedFormatCount = 2 * sizes;
    }
    return STATUS_SUCCESS;
}

bool IsSamePixelLayout(const KS_BITMAPINFOHEADER& Offered, const KS_BITMAPINFOHEADER& Asked)
{
    return Offered.biCompression == Asked.biCompression && Offered.biBitCount == Asked.biBitCount;
}

BOOLEAN IsOfferedCaptureFormat(const KSDATAFORMAT* Format)
{
    if (Format == nullptr || Format->FormatSize < sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)) {
        return FALSE;
    }
    const ULONG count = CaptureFormatCount();
    for (ULONG index = 0; index < count; ++index) {
        const auto* entry = reinterpret_cast<const KS_DATARANGE_VIDEO*>(CaptureFormatList[index]);
        if (entry != nullptr && IsSameFormat(*entry, Format)) {
            return TRUE;
        }
    }
    return FALSE;
}
