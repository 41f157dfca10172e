#include "decoder/FrameDecoder.h"
#include "host/kernel/pool.h"
#include "sys/decoder/decoder_harness.h"
#include "sys/decoder/hand_lines.h"

#include <gtest/gtest.h>

namespace {

using namespace korval::testing;

constexpr ULONG kPoolTag = 0x206D6457; // "Wdm "

std::vector<std::uint8_t> rawBody(ULONG width, ULONG height, std::uint8_t value)
{
    std::vector<std::uint8_t> body;
    for (ULONG y = 0; y < height; y++) {
        append(body, handRawLine(std::vector<std::uint8_t>(width, static_cast<std::uint8_t>(value + y))));
    }
    return body;
}

TEST(FrameDecoderLifecycle, OpenRejectsBadSizesAndASecondOpen)
{
    FrameDecoder decoder;
    EXPECT_FALSE(decoder.Open(0, 288, 8));
    EXPECT_FALSE(decoder.Open(352, 0, 8));
    EXPECT_FALSE(decoder.Open(352, 288, 10));
    EXPECT_FALSE(decoder.Open(0x10000, 0x10000, 8)); // frame size beyond 32 bits
    EXPECT_TRUE(decoder.Open(352, 288, 8));
    EXPECT_FALSE(decoder.Open(176, 144, 8));
    EXPECT_TRUE(decoder.Close());
    EXPECT_FALSE(decoder.Close());
    EXPECT_TRUE(decoder.Open(176, 144, 8)); // reopened with other sizes after Close
}

TEST(FrameDecoderLifecycle, ProcessAfterCloseOrBeforeOpenFailsWithoutTouchingTheRecords)
{
    DecoderHarness harness(4, 2);
    ASSERT_TRUE(harness.opened());
    ASSERT_TRUE(harness.process(rawBody(4, 2, 10)));
    ASSERT_TRUE(harness.decoder().Close());
    EXPECT_FALSE(harness.process(rawBody(4, 2, 50)));
    EXPECT_EQ(harness.records()[0].ucKind, DECOMPRESSION_KIND_RAW);
    EXPECT_EQ(harness.line(0)[0], 10);

    FrameDecoder neverOpened;
    std::vector<std::uint8_t> body = rawBody(4, 2, 1);
    std::vector<std::uint8_t> output(8, 0xAA);
    tagSDecompressionInformation records[2] = {{0x77, 0x1234}, {0x77, 0x1234}};
    tagSDecompressionFrame frame{records, 2, 9, 9, 9, 9, 9, {9, 9, 9}, output.data()};
    EXPECT_FALSE(neverOpened.Process(body.data(), static_cast<ULONG>(body.size()), 8, &frame));
    EXPECT_EQ(records[1].ucKind, 0x77);
    EXPECT_EQ(frame.ulRawLines, 9u);
}

TEST(FrameDecoderLifecycle, ProcessRejectsBadArgumentsWithoutWritingAnything)
{
    FrameDecoder decoder;
    ASSERT_TRUE(decoder.Open(4, 3, 8));
    const std::vector<std::uint8_t> body = rawBody(4, 3, 1);
    const auto length = static_cast<ULONG>(body.size());
    std::vector<std::uint8_t> output(12, 0xAA);
    tagSDecompressionInformation records[3] = {{0x77, 7}, {0x77, 7}, {0x77, 7}};
    const tagSDecompressionFrame good{records, 3, 5, 5, 5, 5, 5, {5, 5, 5}, output.data()};

    auto expectUntouched = [&](const tagSDecompressionFrame& frame) {
        EXPECT_EQ(frame.ulDroppedLines, 5u);
        for (const auto& record : records) {
            EXPECT_EQ(record.ucKind, 0x77);
        }
        EXPECT_EQ(output, std::vector<std::uint8_t>(12, 0xAA));
    };
    tagSDecompressionFrame frame = good;
    EXPECT_FALSE(decoder.Process(nullptr, length, 12, &frame));
    EXPECT_FALSE(decoder.Process(body.data(), 0, 12, &frame));
    EXPECT_FALSE(decoder.Process(body.data(), length, 11, &frame));
    EXPECT_FALSE(decoder.Process(body.data(), length, 12, nullptr));
    expectUntouched(frame);
    frame.pucOutput = nullptr;
    EXPECT_FALSE(decoder.Process(body.data(), length, 12, &frame));
    expectUntouched(frame);
    frame = good;
    frame.psLines = nullptr;
    EXPECT_FALSE(decoder.Process(body.data(), length, 12, &frame));
    expectUntouched(frame);
    frame = good;
    frame.ulLineCapacity = 2;
    EXPECT_FALSE(decoder.Process(body.data(), length, 12, &frame));
    expectUntouched(frame);
    frame = good;
    EXPECT_TRUE(decoder.Process(body.data(), length, 12, &frame));
}

TEST(FrameDecoderLifecycle, ComesFromTheDriverPoolAndDecodesWithoutAllocating)
{
    const auto before = korval::host::poolCounters(kPoolTag);
    FrameDecoder* decoder = new FrameDecoder;
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(korval::host::poolCounters(kPoolTag).outstandingBlocks, before.outstandingBlocks + 1);
    ASSERT_TRUE(decoder->Open(8, 4, 8));

    const std::vector<std::uint8_t> body = rawBody(8, 4, 3);
    std::vector<std::uint8_t> output(32);
    std::vector<tagSDecompressionInformation> records(4);
    tagSDecompressionFrame frame{records.data(), 4, 0, 0, 0, 0, 0, {}, output.data()};
    const auto beforeFrames = korval::host::poolCounters();
    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(decoder->Process(body.data(), static_cast<ULONG>(body.size()), 32, &frame));
    }
    EXPECT_EQ(korval::host::poolCounters().allocations, beforeFrames.allocations);

    EXPECT_TRUE(decoder->Close());
    delete decoder;
    EXPECT_EQ(korval::host::poolCounters(kPoolTag).outstandingBlocks, before.outstandingBlocks);
}

TEST(FrameDecoderLifecycle, NewReturnsNullWhenThePoolIsExhausted)
{
    korval::host::failPoolAllocation(1);
    FrameDecoder* decoder = new FrameDecoder;
    EXPECT_EQ(decoder, nullptr);
    korval::host::failPoolAllocation(0);
}

} // namespace
