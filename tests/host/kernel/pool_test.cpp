#include "host/kernel/crt_rand.h"
#include "host/kernel/debug_print.h"
#include "host/kernel/pool.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

namespace {

using namespace korval::host;

constexpr ULONG kTag = 0x206D6457;

TEST(Pool, CountsByTagAndFailsTheNthAllocation)
{
    const auto before = poolCounters(kTag);
    failPoolAllocation(2);
    void* first = ExAllocatePoolWithTag(NonPagedPool, 100, kTag);
    void* second = ExAllocatePoolWithTag(NonPagedPool, 100, kTag);
    void* third = ExAllocatePoolWithTag(NonPagedPool, 50, kTag);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    const auto during = poolCounters(kTag);
    EXPECT_EQ(during.outstandingBlocks - before.outstandingBlocks, 2u);
    EXPECT_EQ(during.outstandingBytes - before.outstandingBytes, 150u);
    EXPECT_EQ(during.failures - before.failures, 1u);
    ExFreePoolWithTag(first, kTag);
    ExFreePool(third);
    EXPECT_EQ(poolCounters(kTag).outstandingBlocks, before.outstandingBlocks);
    checkNoPoolLeaks(kTag);
}

TEST(PoolDeathTest, VerifierCatchesDoubleFreeAndLeak)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            void* block = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
            ExFreePool(block);
            ExFreePool(block);
        },
        "freeing pool that was not allocated, or freeing it twice");
    EXPECT_DEATH(
        {
            ExAllocatePoolWithTag(NonPagedPool, 8, 0x6B61654Cu);
            checkNoPoolLeaks(0x6B61654Cu);
        },
        "pool still allocated");
    EXPECT_DEATH(
        {
            void* block = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
            ExFreePoolWithTag(block, 0x676E7257u);
        },
        "tag other than its own");
    EXPECT_DEATH(
        {
            auto* block = static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPool, 20, kTag));
            block[20] = 0;
            ExFreePool(block);
        },
        "pool block overrun: written past the end of a block of 20 bytes, tag Wdm");
}

TEST(CrtRand, FollowsTheRuntimeSequenceFromStateOne)
{
    setRandState(1);
    // state = state * 214013 + 2531011; result = (state >> 16) & 0x7FFF
    EXPECT_EQ(rand(), 41);
    EXPECT_EQ(rand(), 18467);
    EXPECT_EQ(rand(), 6334);
    EXPECT_EQ(rand(), 26500);
    setRandState(1);
    EXPECT_EQ(rand(), 41);
}

TEST(DbgPrint, CapturesFormattedText)
{
    clearDebugLines();
    DbgPrint(" ERROR: %s Failed !\n", "m_pGamma->Process()");
    DbgPrint("%d", 42);
    ASSERT_EQ(debugLines().size(), 2u);
    EXPECT_EQ(debugLines()[0], " ERROR: m_pGamma->Process() Failed !\n");
    EXPECT_EQ(debugText(), " ERROR: m_pGamma->Process() Failed !\n42");
}

} // namespace
