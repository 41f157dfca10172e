#include "host/kernel/pool.h"
#include "kernel_test_support.h"

namespace korval::host::testing {
namespace {

using RtlStringTest = KernelTest;

TEST_F(RtlStringTest, AppendStopsAtTheBufferAndKeepsItsContents)
{
    WCHAR buffer[12];
    UNICODE_STRING path{0, sizeof(buffer), buffer};
    EXPECT_EQ(RtlAppendUnicodeToString(&path, KTEXT("C:\\Frames")), STATUS_SUCCESS);
    EXPECT_EQ(path.Length, 9 * sizeof(WCHAR));
    EXPECT_EQ(RtlAppendUnicodeToString(&path, KTEXT("\\Heart")), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(path.Length, 9 * sizeof(WCHAR));
    EXPECT_EQ(RtlAppendUnicodeToString(&path, KTEXT("\\a")), STATUS_SUCCESS);
    EXPECT_EQ(path.Length, 11 * sizeof(WCHAR));
    EXPECT_EQ(buffer[11], 0);
}

TEST_F(RtlStringTest, CompareAndNumbersFollowTheRuntime)
{
    UNICODE_STRING upper;
    UNICODE_STRING lower;
    RtlInitUnicodeString(&upper, KTEXT("KORVAL"));
    RtlInitUnicodeString(&lower, KTEXT("korval"));
    EXPECT_FALSE(RtlEqualUnicodeString(&upper, &lower, FALSE));
    EXPECT_TRUE(RtlEqualUnicodeString(&upper, &lower, TRUE));
    EXPECT_LT(RtlCompareUnicodeString(&upper, &lower, FALSE), 0);

    WCHAR digits[8];
    UNICODE_STRING number{0, sizeof(digits), digits};
    EXPECT_EQ(RtlIntegerToUnicodeString(12, 10, &number), STATUS_SUCCESS);
    EXPECT_EQ(number.Length, 4);
    ULONG value = 0;
    EXPECT_EQ(RtlUnicodeStringToInteger(&number, 10, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 12u);
    WCHAR tiny[1];
    UNICODE_STRING small{0, sizeof(tiny), tiny};
    EXPECT_EQ(RtlIntegerToUnicodeString(123, 10, &small), STATUS_BUFFER_OVERFLOW);
}

TEST_F(RtlStringTest, AnsiConversionAllocatesFromPoolAndFreesCleanly)
{
    const auto before = poolCounters().outstandingBlocks;
    ANSI_STRING ansi;
    RtlInitAnsiString(&ansi, "C:\\StiImg.dat");
    UNICODE_STRING wide{};
    ASSERT_EQ(RtlAnsiStringToUnicodeString(&wide, &ansi, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(wide.Length, 13 * sizeof(WCHAR));
    EXPECT_EQ(wide.Buffer[13], 0);
    ANSI_STRING back{};
    ASSERT_EQ(RtlUnicodeStringToAnsiString(&back, &wide, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(std::string(back.Buffer, back.Length), "C:\\StiImg.dat");
    RtlFreeUnicodeString(&wide);
    RtlFreeAnsiString(&back);
    EXPECT_EQ(poolCounters().outstandingBlocks, before);
}

} // namespace
} // namespace korval::host::testing
