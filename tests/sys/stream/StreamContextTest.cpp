#include "stream/StreamContext.h"

#include "host/kernel/platform.h"
#include "host/kernel/pool.h"

#include <gtest/gtest.h>

namespace {

using namespace korval::host;

TEST(StreamContext, ComesZeroedFromThePoolAndGoesThroughItsDeletingDestructor)
{
    Platform platform;
    const auto before = poolCounters(KORVAL_POOL_TAG);
    StreamContext* stream = new StreamContext;
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(poolCounters(KORVAL_POOL_TAG).outstandingBlocks, before.outstandingBlocks + 1);
    EXPECT_EQ(stream->ImageProcess, nullptr);
    EXPECT_EQ(stream->Decoder, nullptr);
    EXPECT_EQ(stream->RawFrame, nullptr);
    EXPECT_EQ(stream->DecompressionFrame.psLines, nullptr);
    EXPECT_EQ(stream->DecompressionFrame.pucOutput, nullptr);
    EXPECT_EQ(stream->State, 0);
    EXPECT_EQ(stream->PictureNumber, 0u);
    for (ULONG i = 0; i < OVERLAY_BUFFER_COUNT; ++i) {
        EXPECT_EQ(stream->OverlayBuffers[i], nullptr);
        EXPECT_EQ(stream->OverlayBufferSizes[i], 0u);
    }
    stream->InitializeLocks();
    KIRQL old = KfAcquireSpinLock(&stream->CounterLock);
    KfReleaseSpinLock(&stream->CounterLock, old);

    // Owners destroy it through the virtual destructor, as its base-less
    // owner (DeviceContext) would.
    delete stream;
    EXPECT_EQ(poolCounters(KORVAL_POOL_TAG).outstandingBlocks, before.outstandingBlocks);
}

TEST(StreamContext, FailedAllocationYieldsNullWithoutConstructing)
{
    Platform platform;
    failPoolAllocation(1);
    StreamContext* stream = new StreamContext;
    EXPECT_EQ(stream, nullptr);
}

} // namespace
