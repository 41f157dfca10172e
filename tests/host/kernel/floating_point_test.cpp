// KeSaveFloatingPointState / KeRestoreFloatingPointState and the verifier's
// floating-point check: per-thread, nested, up to DISPATCH_LEVEL, restored in
// order at the level of the save.
#include "host/kernel/irql.h"
#include "platform/Kernel.h"
#include "platform/KernelFloatingPoint.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using korval::host::ScopedIrql;

TEST(FloatingPointState, NestedSavesUpToDispatchLevelSatisfyTheVerifier)
{
    KFLOATING_SAVE outer{};
    KFLOATING_SAVE inner{};
    ASSERT_EQ(KeSaveFloatingPointState(&outer), STATUS_SUCCESS);
    {
        ScopedIrql atDispatch(DISPATCH_LEVEL);
        ASSERT_EQ(KeSaveFloatingPointState(&inner), STATUS_SUCCESS);
        KorvalVerifyFloatingPointState("inner");
        EXPECT_EQ(KeRestoreFloatingPointState(&inner), STATUS_SUCCESS);
    }
    KorvalVerifyFloatingPointState("outer");
    EXPECT_EQ(KeRestoreFloatingPointState(&outer), STATUS_SUCCESS);
}

TEST(FloatingPointStateDeathTest, VerifierStopsMisuse)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(KorvalVerifyFloatingPointState("CSomething::Process"),
                 "without a saved floating-point state in CSomething::Process");
    EXPECT_DEATH(
        {
            ScopedIrql high(DISPATCH_LEVEL + 1);
            KFLOATING_SAVE save{};
            KeSaveFloatingPointState(&save);
        },
        "above DISPATCH_LEVEL");
    EXPECT_DEATH(
        {
            KFLOATING_SAVE outer{};
            KFLOATING_SAVE inner{};
            KeSaveFloatingPointState(&outer);
            KeSaveFloatingPointState(&inner);
            KeRestoreFloatingPointState(&outer);
        },
        "out of order");
    EXPECT_DEATH(
        {
            KFLOATING_SAVE save{};
            KeSaveFloatingPointState(&save);
            ScopedIrql atDispatch(DISPATCH_LEVEL);
            KeRestoreFloatingPointState(&save);
        },
        "another IRQL");
    EXPECT_DEATH(
        {
            KFLOATING_SAVE never{};
            KeRestoreFloatingPointState(&never);
        },
        "not saved");
    // A saved state belongs to its thread.
    EXPECT_DEATH(
        {
            KFLOATING_SAVE save{};
            KeSaveFloatingPointState(&save);
            std::thread other([] { KorvalVerifyFloatingPointState("Other::Thread"); });
            other.join();
        },
        "Other::Thread");
}

} // namespace
