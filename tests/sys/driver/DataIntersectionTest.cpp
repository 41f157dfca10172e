#include "tests/sys/driver/CaptureAdapterFixture.h"

#include "stream/StreamFormats.h"

#include <array>
#include <functional>
#include <thread>

namespace {

using korval::host::FormatBytes;
using korval::host::IntersectionResult;

constexpr ULONG kAnswerSize = 152; // KSDATAFORMAT + KS_VIDEOINFOHEADER with a 40-byte bitmap header

class DataIntersectionTest : public CaptureAdapterTest {
protected:
    void SetUp() override
    {
        CaptureAdapterTest::SetUp();
        offer(0x00432105);
    }

    static KS_DATARANGE_VIDEO rangeOf(ULONG tableIndex) { return CaptureFormatTable[tableIndex]; }

    IntersectionResult intersect(const KS_DATARANGE_VIDEO& range, ULONG stream = 0)
    {
        return device_->dataIntersection(stream, FormatBytes::of(range));
    }

    // One SRB whose buffer claims `claimed` bytes inside a larger block filled
    // with a pattern, so that any write past the claimed size shows.
    struct GuardedAnswer {
        korval::host::SrbResult result;
        std::array<std::uint8_t, 512> block;
    };
    GuardedAnswer intersectGuarded(KS_DATARANGE_VIDEO range, ULONG claimed)
    {
        GuardedAnswer answer{};
        answer.block.fill(0xCD);
        STREAM_DATA_INTERSECT_INFO info{0, &range.DataRange, answer.block.data(), claimed};
        answer.result = device_->sendAdapterSrb(SRB_GET_DATA_INTERSECTION, [&](HW_STREAM_REQUEST_BLOCK& srb) {
            srb.CommandData.IntersectInfo = &info;
            srb.NumberOfBytesToTransfer = claimed;
        });
        return answer;
    }

    static bool untouchedFrom(const GuardedAnswer& answer, std::size_t offset)
    {
        for (std::size_t i = offset; i < answer.block.size(); ++i) {
            if (answer.block[i] != 0xCD) {
                return false;
            }
        }
        return true;
    }
};

TEST_F(DataIntersectionTest, EveryOfferedRangeYieldsItsOwnFormat)
{
    for (ULONG index = 0; index < CAPTURE_FORMAT_TABLE_SIZE; ++index) {
        SCOPED_TRACE("entry " + std::to_string(index));
        const KS_DATARANGE_VIDEO& entry = CaptureFormatTable[index];
        const IntersectionResult result = intersect(entry);
        EXPECT_EQ(result.sizeQueryStatus, STATUS_BUFFER_OVERFLOW);
        EXPECT_EQ(result.sizeNeeded, kAnswerSize);
        ASSERT_EQ(result.status, STATUS_SUCCESS);
        ASSERT_EQ(result.format.bytes.size(), kAnswerSize);
        const auto format = result.format.as<KS_DATAFORMAT_VIDEOINFOHEADER>();
        KSDATAFORMAT expectedHeader = entry.DataRange;
        expectedHeader.FormatSize = kAnswerSize;
        EXPECT_EQ(std::memcmp(&format.DataFormat, &expectedHeader, sizeof(KSDATAFORMAT)), 0);
        EXPECT_EQ(std::memcmp(&format.VideoInfoHeader, &entry.VideoInfoHeader, sizeof(KS_VIDEOINFOHEADER)), 0);
    }
}

TEST_F(DataIntersectionTest, ImageSizeComesFromTheBitmapHeaderWithRowsPaddedToWords)
{
    KS_DATARANGE_VIDEO i420 = rangeOf(5);
    i420.VideoInfoHeader.bmiHeader.biSizeImage = 1; // not compared, recomputed
    auto format = intersect(i420).format.as<KS_DATAFORMAT_VIDEOINFOHEADER>();
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biSizeImage, 460800u);
    EXPECT_EQ(format.DataFormat.SampleSize, 460800u);

    format = intersect(rangeOf(3)).format.as<KS_DATAFORMAT_VIDEOINFOHEADER>();
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biSizeImage, 76032u);
    EXPECT_EQ(format.DataFormat.SampleSize, 76032u);

    // A bit count other than the subtype's describes other pixels: no size
    // is made up for it (1 bit, or one far beyond any real one).
    KS_DATARANGE_VIDEO oneBit = rangeOf(3);
    oneBit.VideoInfoHeader.bmiHeader.biBitCount = 1;
    EXPECT_EQ(intersect(oneBit).status, STATUS_NO_MATCH);
    KS_DATARANGE_VIDEO huge = rangeOf(0);
    huge.VideoInfoHeader.bmiHeader.biBitCount = 0xFFFF;
    EXPECT_EQ(intersect(huge).status, STATUS_NO_MATCH);
}

TEST_F(DataIntersectionTest, FrameIntervalIsClampedInTheProposedRangeAndTheAnswer)
{
    struct Case {
        LONGLONG asked;
        LONGLONG answered;
        DWORD bitRate; // for the 352x288 RGB24 entry; 0 = unchanged
    };
    const Case cases[] = {
        {10000000, 3333333, 7299072}, // slower than 3 fps: the slowest interval and the lowest rate
        {100000, 285714, 85155840},   // faster than 35 fps: the fastest interval and the highest rate
        {333333, 333333, 0},
        {3333333, 3333333, 0},
        {285714, 285714, 0},
        {-1, 285714, 85155840}, // signed comparison
        {0, 285714, 85155840},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("AvgTimePerFrame " + std::to_string(c.asked));
        KS_DATARANGE_VIDEO range = rangeOf(1);
        range.VideoInfoHeader.AvgTimePerFrame = c.asked;
        range.VideoInfoHeader.dwBitRate = 12345;
        const IntersectionResult result = intersect(range);
        ASSERT_EQ(result.status, STATUS_SUCCESS);
        const DWORD bitRate = c.bitRate != 0 ? c.bitRate : 12345;
        const auto proposed = result.proposedRange.as<KS_DATARANGE_VIDEO>();
        EXPECT_EQ(proposed.VideoInfoHeader.AvgTimePerFrame, c.answered);
        EXPECT_EQ(proposed.VideoInfoHeader.dwBitRate, bitRate);
        const auto format = result.format.as<KS_DATAFORMAT_VIDEOINFOHEADER>();
        EXPECT_EQ(format.VideoInfoHeader.AvgTimePerFrame, c.answered);
        EXPECT_EQ(format.VideoInfoHeader.dwBitRate, bitRate);
    }
}

TEST_F(DataIntersectionTest, TheAnswerKeepsTheClientsOwnHeaderValues)
{
    KS_DATARANGE_VIDEO range = rangeOf(7);
    range.DataRange.Flags = 0x2;
    range.DataRange.SampleSize = 7;
    range.VideoInfoHeader.rcSource = RECT{1, 2, 3, 4};
    range.VideoInfoHeader.rcTarget = RECT{5, 6, 7, 8};
    range.VideoInfoHeader.dwBitErrorRate = 9;
    range.VideoInfoHeader.bmiHeader.biXPelsPerMeter = 2835;
    const auto format = intersect(range).format.as<KS_DATAFORMAT_VIDEOINFOHEADER>();
    EXPECT_EQ(format.DataFormat.Flags, 0x2u);
    EXPECT_EQ(format.DataFormat.SampleSize, 115200u);
    EXPECT_EQ(format.VideoInfoHeader.rcSource.right, 3);
    EXPECT_EQ(format.VideoInfoHeader.rcTarget.bottom, 8);
    EXPECT_EQ(format.VideoInfoHeader.dwBitErrorRate, 9u);
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biXPelsPerMeter, 2835);
}

TEST_F(DataIntersectionTest, RangesThatDifferFromEveryOfferedOneDoNotMatch)
{
    struct Change {
        const char* what;
        void (*apply)(KS_DATARANGE_VIDEO&);
    };
    const Change changes[] = {
        {"StreamDescriptionFlags", [](auto& r) { r.StreamDescriptionFlags = KS_VIDEOSTREAM_CAPTURE; }},
        {"MemoryAllocationFlags", [](auto& r) { r.MemoryAllocationFlags = 1; }},
        {"bFixedSizeSamples", [](auto& r) { r.bFixedSizeSamples = FALSE; }},
        {"bTemporalCompression", [](auto& r) { r.bTemporalCompression = FALSE; }},
        {"ConfigCaps.MaxFrameInterval", [](auto& r) { r.ConfigCaps.MaxFrameInterval = 10000000; }},
        {"ConfigCaps.VideoStandard", [](auto& r) { r.ConfigCaps.VideoStandard = 1; }},
        {"biWidth", [](auto& r) { r.VideoInfoHeader.bmiHeader.biWidth = 320; }},
        {"biHeight", [](auto& r) { r.VideoInfoHeader.bmiHeader.biHeight = -288; }},
        {"SubFormat", [](auto& r) { r.DataRange.SubFormat = MEDIASUBTYPE_RGB24; }},
        {"FormatSize", [](auto& r) { r.DataRange.FormatSize = 300; }},
        // The bitmap header must name the subtype's own pixels.
        {"biCompression 0 under I420", [](auto& r) { r.VideoInfoHeader.bmiHeader.biCompression = KS_BI_RGB; }},
        {"biBitCount 24 under I420", [](auto& r) { r.VideoInfoHeader.bmiHeader.biBitCount = 24; }},
        {"biCompression I420 under RGB24", [](auto& r) {
             r = rangeOf(1);
             r.VideoInfoHeader.bmiHeader.biCompression = CAPTURE_COMPRESSION_I420;
         }},
    };
    for (const Change& change : changes) {
        KS_DATARANGE_VIDEO range = rangeOf(6);
        change.apply(range);
        const IntersectionResult result = intersect(range);
        EXPECT_EQ(result.status, STATUS_NO_MATCH) << change.what;
        EXPECT_EQ(result.sizeNeeded, 0u) << change.what;
    }
}

TEST_F(DataIntersectionTest, ARefusedSelectionLeavesTheOfferedListUsable)
{
    offer(0x00000001);
    EXPECT_EQ(intersect(rangeOf(6)).status, STATUS_NO_MATCH) << "352x288 is not selected";
    setFormatSelection(0x00000502);
    ASSERT_EQ(getStreamInfo().status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(intersect(rangeOf(0)).status, STATUS_SUCCESS) << "the list from before stays whole";
    EXPECT_EQ(intersect(rangeOf(5)).status, STATUS_SUCCESS);
    EXPECT_EQ(intersect(rangeOf(6)).status, STATUS_NO_MATCH);
}

TEST_F(DataIntersectionTest, WildcardRangesAreComparedLikeAnyOtherAndDoNotMatch)
{
    // A bare KSDATARANGE with wildcards, as a client asks "anything video":
    // exactly its 64 bytes reach the driver, which must read no further.
    KSDATARANGE bare = rangeOf(0).DataRange;
    bare.FormatSize = sizeof(KSDATARANGE);
    bare.SubFormat = KSDATAFORMAT_SUBTYPE_WILDCARD;
    bare.Specifier = KSDATAFORMAT_SPECIFIER_WILDCARD;
    EXPECT_EQ(device_->dataIntersection(0, FormatBytes::of(bare)).status, STATUS_NO_MATCH);
    bare.MajorFormat = KSDATAFORMAT_TYPE_WILDCARD;
    EXPECT_EQ(device_->dataIntersection(0, FormatBytes::of(bare)).status, STATUS_NO_MATCH);
    // A whole video range with only the specifier left open.
    KS_DATARANGE_VIDEO video = rangeOf(0);
    video.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WILDCARD;
    EXPECT_EQ(intersect(video).status, STATUS_NO_MATCH);
    // A bare range that names our exact types is still no video range.
    KSDATARANGE exact = rangeOf(0).DataRange;
    exact.FormatSize = sizeof(KSDATARANGE);
    EXPECT_EQ(device_->dataIntersection(0, FormatBytes::of(exact)).status, STATUS_NO_MATCH);
}

TEST_F(DataIntersectionTest, OtherStreamsAreNotSupported)
{
    EXPECT_EQ(intersect(rangeOf(0), 1).status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(intersect(rangeOf(0), 7).status, STATUS_NOT_SUPPORTED);
}

TEST_F(DataIntersectionTest, SizeQueryAndShortBuffersWriteNothing)
{
    GuardedAnswer query = intersectGuarded(rangeOf(1), 0);
    EXPECT_EQ(query.result.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(query.result.actualBytesTransferred, kAnswerSize);
    EXPECT_TRUE(untouchedFrom(query, 0));

    for (ULONG claimed : {1u, 64u, kAnswerSize - 1}) {
        GuardedAnswer shortBuffer = intersectGuarded(rangeOf(1), claimed);
        EXPECT_EQ(shortBuffer.result.status, STATUS_BUFFER_TOO_SMALL) << claimed;
        EXPECT_EQ(shortBuffer.result.actualBytesTransferred, kAnswerSize) << "the size it needs";
        EXPECT_TRUE(untouchedFrom(shortBuffer, 0)) << claimed;
    }

    GuardedAnswer roomy = intersectGuarded(rangeOf(1), 400);
    EXPECT_EQ(roomy.result.status, STATUS_SUCCESS);
    EXPECT_EQ(roomy.result.actualBytesTransferred, kAnswerSize);
    EXPECT_TRUE(untouchedFrom(roomy, kAnswerSize)) << "nothing beyond the answer";
}

TEST_F(DataIntersectionTest, ABitmapHeaderSizeOtherThanFortyIsRefusedWithoutWriting)
{
    for (DWORD biSize : {0u, 24u, 39u, 41u, 1000u, 0xFFFFFFF0u}) {
        KS_DATARANGE_VIDEO range = rangeOf(2);
        range.VideoInfoHeader.bmiHeader.biSize = biSize;
        for (ULONG claimed : {0u, 400u}) {
            GuardedAnswer answer = intersectGuarded(range, claimed);
            EXPECT_EQ(answer.result.status, STATUS_INVALID_PARAMETER) << biSize << " into " << claimed;
            EXPECT_TRUE(untouchedFrom(answer, 0)) << biSize;
        }
    }
}

TEST_F(DataIntersectionTest, MissingIntersectInformationIsRefused)
{
    auto missing = device_->sendAdapterSrb(SRB_GET_DATA_INTERSECTION, [](HW_STREAM_REQUEST_BLOCK& srb) {
        srb.CommandData.IntersectInfo = nullptr;
    });
    EXPECT_EQ(missing.status, STATUS_INVALID_PARAMETER);
    STREAM_DATA_INTERSECT_INFO noRange{0, nullptr, nullptr, 0};
    auto withoutRange = device_->sendAdapterSrb(SRB_GET_DATA_INTERSECTION, [&](HW_STREAM_REQUEST_BLOCK& srb) {
        srb.CommandData.IntersectInfo = &noRange;
    });
    EXPECT_EQ(withoutRange.status, STATUS_INVALID_PARAMETER);
}

// The list is driver-wide: devices that describe themselves while others
// intersect must not disturb each other (a ThreadSanitizer run checks that
// repeating the same selection writes nothing).
TEST_F(DataIntersectionTest, DevicesShareTheListWhileDescribingAndIntersectingAtOnce)
{
    DEVICE_OBJECT secondPhysical{};
    auto second = korval::host::StreamClassDevice::add(&driverObject_, &secondPhysical);
    auto work = [](korval::host::StreamClassDevice& device, int* failures) {
        alignas(8) std::array<std::uint8_t, CAPTURE_STREAM_DESCRIPTOR_SIZE> descriptor{};
        for (int i = 0; i < 200; ++i) {
            auto info = device.sendAdapterSrb(SRB_GET_STREAM_INFO, [&](HW_STREAM_REQUEST_BLOCK& srb) {
                srb.CommandData.StreamBuffer = reinterpret_cast<PHW_STREAM_DESCRIPTOR>(descriptor.data());
                srb.NumberOfBytesToTransfer = CAPTURE_STREAM_DESCRIPTOR_SIZE;
            });
            const auto answer = device.dataIntersection(0, FormatBytes::of(CaptureFormatTable[i % 10]));
            *failures += info.status != STATUS_SUCCESS || answer.status != STATUS_SUCCESS;
        }
    };
    int firstFailures = 0;
    int secondFailures = 0;
    std::thread other(work, std::ref(*second), &secondFailures);
    work(*device_, &firstFailures);
    other.join();
    EXPECT_EQ(firstFailures, 0);
    EXPECT_EQ(secondFailures, 0);
    second.reset();
}

} // namespace
