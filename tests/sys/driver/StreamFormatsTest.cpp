#include "stream/StreamFormats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct ExpectedEntry {
    LONG width, height;
    WORD bitCount;
    ULONG imageSize;
    LONG minBits, maxBits;
    DWORD bitRate;
};

// Worked by hand: image size = w*h*b/8, minimum rate = w*h*b*3, maximum
// w*h*b*35, nominal w*h*b*30.
const ExpectedEntry kExpected[CAPTURE_FORMAT_TABLE_SIZE] = {
    {640, 480, 24, 921600, 22118400, 258048000, 221184000},
    {352, 288, 24, 304128, 7299072, 85155840, 72990720},
    {320, 240, 24, 230400, 5529600, 64512000, 55296000},
    {176, 144, 24, 76032, 1824768, 21288960, 18247680},
    {160, 120, 24, 57600, 1382400, 16128000, 13824000},
    {640, 480, 12, 460800, 11059200, 129024000, 110592000},
    {352, 288, 12, 152064, 3649536, 42577920, 36495360},
    {320, 240, 12, 115200, 2764800, 32256000, 27648000},
    {176, 144, 12, 38016, 912384, 10644480, 9123840},
    {160, 120, 12, 28800, 691200, 8064000, 6912000},
};

void ExpectSize(const SIZE& size, LONG width, LONG height, const char* what)
{
    EXPECT_EQ(size.cx, width) << what;
    EXPECT_EQ(size.cy, height) << what;
}

void ExpectConfigCaps(const KS_VIDEO_STREAM_CONFIG_CAPS& caps, const ExpectedEntry& e)
{
    EXPECT_TRUE(caps.guid == KSDATAFORMAT_SPECIFIER_VIDEOINFO);
    EXPECT_EQ(caps.VideoStandard, 0u);
    ExpectSize(caps.InputSize, e.width, e.height, "InputSize");
    ExpectSize(caps.MinCroppingSize, e.width, e.height, "MinCroppingSize");
    ExpectSize(caps.MaxCroppingSize, e.width, e.height, "MaxCroppingSize");
    ExpectSize(caps.MinOutputSize, e.width, e.height, "MinOutputSize");
    ExpectSize(caps.MaxOutputSize, e.width, e.height, "MaxOutputSize");
    for (int one : {caps.CropGranularityX, caps.CropGranularityY, caps.CropAlignX, caps.CropAlignY,
                    caps.OutputGranularityX, caps.OutputGranularityY}) {
        EXPECT_EQ(one, 1);
    }
    for (int zero : {caps.StretchTapsX, caps.StretchTapsY, caps.ShrinkTapsX, caps.ShrinkTapsY}) {
        EXPECT_EQ(zero, 0);
    }
    EXPECT_EQ(caps.MinFrameInterval, 285714);
    EXPECT_EQ(caps.MaxFrameInterval, 3333333);
    EXPECT_EQ(caps.MinBitsPerSecond, e.minBits);
    EXPECT_EQ(caps.MaxBitsPerSecond, e.maxBits);
}

void ExpectVideoInfo(const KS_VIDEOINFOHEADER& info, const ExpectedEntry& e)
{
    const RECT empty{};
    EXPECT_EQ(std::memcmp(&info.rcSource, &empty, sizeof(RECT)), 0);
    EXPECT_EQ(std::memcmp(&info.rcTarget, &empty, sizeof(RECT)), 0);
    EXPECT_EQ(info.dwBitRate, e.bitRate);
    EXPECT_EQ(info.dwBitErrorRate, 0u);
    EXPECT_EQ(info.AvgTimePerFrame, 333333);
    const KS_BITMAPINFOHEADER& bmi = info.bmiHeader;
    EXPECT_EQ(bmi.biSize, 40u);
    EXPECT_EQ(bmi.biWidth, e.width);
    EXPECT_EQ(bmi.biHeight, e.height);
    EXPECT_EQ(bmi.biPlanes, 1);
    EXPECT_EQ(bmi.biBitCount, e.bitCount);
    EXPECT_EQ(bmi.biCompression, e.bitCount == 12 ? 0x30323449u : 0u);
    EXPECT_EQ(bmi.biSizeImage, e.imageSize);
    EXPECT_EQ(bmi.biXPelsPerMeter, 0);
    EXPECT_EQ(bmi.biYPelsPerMeter, 0);
    EXPECT_EQ(bmi.biClrUsed, 0u);
    EXPECT_EQ(bmi.biClrImportant, 0u);
}

TEST(CaptureFormatTable, EachEntryFollowsFromItsFrameSizeAndSubtype)
{
    for (ULONG index = 0; index < CAPTURE_FORMAT_TABLE_SIZE; ++index) {
        SCOPED_TRACE("entry " + std::to_string(index));
        const KS_DATARANGE_VIDEO& entry = CaptureFormatTable[index];
        const ExpectedEntry& e = kExpected[index];
        const KSDATARANGE& range = entry.DataRange;
        EXPECT_EQ(range.FormatSize, 296u);
        EXPECT_EQ(range.Flags, 0u);
        EXPECT_EQ(range.SampleSize, e.imageSize);
        EXPECT_EQ(range.Reserved, 0u);
        EXPECT_TRUE(range.MajorFormat == KSDATAFORMAT_TYPE_VIDEO);
        EXPECT_TRUE(range.SubFormat == (e.bitCount == 12 ? MEDIASUBTYPE_I420 : MEDIASUBTYPE_RGB24));
        EXPECT_TRUE(range.Specifier == KSDATAFORMAT_SPECIFIER_VIDEOINFO);
        EXPECT_EQ(entry.bFixedSizeSamples, TRUE);
        EXPECT_EQ(entry.bTemporalCompression, TRUE);
        EXPECT_EQ(entry.StreamDescriptionFlags, 0u);
        EXPECT_EQ(entry.MemoryAllocationFlags, 0u);
        ExpectConfigCaps(entry.ConfigCaps, e);
        ExpectVideoInfo(entry.VideoInfoHeader, e);
    }
}

// ---------------------------------------------------------------------------
// Selection by "A_64"

// The table index of every list entry, or -1 for an entry outside the table.
std::vector<int> ListedEntries()
{
    std::vector<int> indices;
    for (ULONG i = 0; i < CaptureFormatCount(); ++i) {
        const auto* entry = reinterpret_cast<const KS_DATARANGE_VIDEO*>(CaptureFormatList[i]);
        const std::ptrdiff_t index = entry - CaptureFormatTable;
        indices.push_back(index >= 0 && index < 10 ? static_cast<int>(index) : -1);
    }
    return indices;
}

TEST(SelectCaptureFormats, OneSizeOffersRgb24AndI420At640x480)
{
    ASSERT_EQ(SelectCaptureFormats(0x00000001), STATUS_SUCCESS);
    EXPECT_EQ(ListedEntries(), (std::vector<int>{0, 5}));
}

TEST(SelectCaptureFormats, PositionsFollowTheNibblesRgb24FirstThenI420InTheSameOrder)
{
    ASSERT_EQ(SelectCaptureFormats(0x00432105), STATUS_SUCCESS);
    EXPECT_EQ(ListedEntries(), (std::vector<int>{1, 2, 3, 4, 0, 6, 7, 8, 9, 5}));
    ASSERT_EQ(SelectCaptureFormats(0x00003202), STATUS_SUCCESS);
    EXPECT_EQ(ListedEntries(), (std::vector<int>{2, 3, 7, 8}));
}

TEST(SelectCaptureFormats, ReadsOnlyTheFirstNNibblesAndIgnoresTheTopOnes)
{
    ASSERT_EQ(SelectCaptureFormats(0xFFFFF301), STATUS_SUCCESS) << "nibbles past n are not read";
    EXPECT_EQ(ListedEntries(), (std::vector<int>{3, 8}));
    ASSERT_EQ(SelectCaptureFormats(0xF0123405), STATUS_SUCCESS) << "bits 28-31 are unused";
    EXPECT_EQ(ListedEntries(), (std::vector<int>{4, 3, 2, 1, 0, 9, 8, 7, 6, 5}));
}

TEST(SelectCaptureFormats, TheSameSizeMayBeListedTwice)
{
    ASSERT_EQ(SelectCaptureFormats(0x00000302), STATUS_SUCCESS);
    EXPECT_EQ(ListedEntries(), (std::vector<int>{3, 0, 8, 5}));
    ASSERT_EQ(SelectCaptureFormats(0x00000002), STATUS_SUCCESS);
    EXPECT_EQ(ListedEntries(), (std::vector<int>{0, 0, 5, 5}));
}

TEST(SelectCaptureFormats, InvalidValuesAreRefusedAndLeaveTheListAsItWas)
{
    ASSERT_EQ(SelectCaptureFormats(0x00004103), STATUS_SUCCESS);
    const std::vector<int> before = ListedEntries();
    ASSERT_EQ(before, (std::vector<int>{1, 4, 0, 6, 9, 5}));
    for (ULONG invalid : {0x00000000u, 0x00000006u, 0x000000FFu, 0x00432100u, 0x00000502u, 0x00000F01u,
                          0x00005102u, 0x00543215u, 0x00532105u}) {
        EXPECT_EQ(SelectCaptureFormats(invalid), STATUS_INVALID_PARAMETER) << std::hex << invalid;
        EXPECT_EQ(ListedEntries(), before) << std::hex << invalid;
    }
}

// ---------------------------------------------------------------------------
// The open check

KS_DATAFORMAT_VIDEOINFOHEADER FormatOf(ULONG tableIndex)
{
    const KS_DATARANGE_VIDEO& entry = CaptureFormatTable[tableIndex];
    KS_DATAFORMAT_VIDEOINFOHEADER format{};
    format.DataFormat = entry.DataRange;
    format.DataFormat.FormatSize = sizeof(format);
    format.VideoInfoHeader = entry.VideoInfoHeader;
    return format;
}

const KSDATAFORMAT* AsFormat(const KS_DATAFORMAT_VIDEOINFOHEADER& format)
{
    return &format.DataFormat;
}

TEST(IsOfferedCaptureFormat, AcceptsOnlyFormatsOfTheSelectedList)
{
    ASSERT_EQ(SelectCaptureFormats(0x00000001), STATUS_SUCCESS); // 640x480 only
    EXPECT_TRUE(IsOfferedCaptureFormat(AsFormat(FormatOf(0))));
    EXPECT_TRUE(IsOfferedCaptureFormat(AsFormat(FormatOf(5))));
    EXPECT_FALSE(IsOfferedCaptureFormat(AsFormat(FormatOf(3)))) << "176x144 is in the table, not in the list";
    ASSERT_EQ(SelectCaptureFormats(0x00000302), STATUS_SUCCESS);
    EXPECT_TRUE(IsOfferedCaptureFormat(AsFormat(FormatOf(3))));
    EXPECT_TRUE(IsOfferedCaptureFormat(AsFormat(FormatOf(8))));
    EXPECT_FALSE(IsOfferedCaptureFormat(AsFormat(FormatOf(1))));
}

TEST(IsOfferedCaptureFormat, ComparesTypesAndTheBitmapSizesOnly)
{
    ASSERT_EQ(SelectCaptureFormats(0x00432105), STATUS_SUCCESS);
    KS_DATAFORMAT_VIDEOINFOHEADER format = FormatOf(6);
    format.VideoInfoHeader.AvgTimePerFrame = 1000000;
    format.VideoInfoHeader.rcTarget = RECT{0, 0, 352, 288};
    EXPECT_TRUE(IsOfferedCaptureFormat(AsFormat(format))) << "other header fields are the client's";

    struct Change {
        const char* what;
        void (*apply)(KS_DATAFORMAT_VIDEOINFOHEADER&);
    };
    const Change changes[] = {
        {"biSizeImage", [](auto& f) { f.VideoInfoHeader.bmiHeader.biSizeImage += 1; }},
        {"biBitCount", [](auto& f) { f.VideoInfoHeader.bmiHeader.biBitCount = 16; }},
        {"biCompression", [](auto& f) { f.VideoInfoHeader.bmiHeader.biCompression = KS_BI_RGB; }},
        {"SampleSize", [](auto& f) { f.DataFormat.SampleSize = 304128; }},
        {"biWidth", [](auto& f) { f.VideoInfoHeader.bmiHeader.biWidth = 320; }},
        {"biHeight", [](auto& f) { f.VideoInfoHeader.bmiHeader.biHeight = -288; }},
        {"SubFormat", [](auto& f) { f.DataFormat.SubFormat = MEDIASUBTYPE_RGB24; }},
        {"MajorFormat", [](auto& f) { f.DataFormat.MajorFormat = KSDATAFORMAT_TYPE_STREAM; }},
        {"Specifier", [](auto& f) { f.DataFormat.Specifier = KSDATAFORMAT_SPECIFIER_NONE; }},
        {"FormatSize", [](auto& f) { f.DataFormat.FormatSize = sizeof(KSDATAFORMAT) + 48 + 39; }},
    };
    for (const Change& change : changes) {
        KS_DATAFORMAT_VIDEOINFOHEADER changed = FormatOf(6);
        change.apply(changed);
        EXPECT_FALSE(IsOfferedCaptureFormat(AsFormat(changed))) << change.what;
    }
    EXPECT_FALSE(IsOfferedCaptureFormat(nullptr));
}

TEST(IsOfferedCaptureFormat, ABareDataFormatIsNeverReadPastItsEnd)
{
    ASSERT_EQ(SelectCaptureFormats(0x00000001), STATUS_SUCCESS);
    // Allocated at its own size, so that a read past the header is an
    // address-sanitizer error rather than a quiet comparison.
    auto bare = std::make_unique<KSDATAFORMAT>();
    *bare = CaptureFormatTable[0].DataRange;
    bare->FormatSize = sizeof(KSDATAFORMAT);
    EXPECT_FALSE(IsOfferedCaptureFormat(bare.get()));
}

} // namespace
