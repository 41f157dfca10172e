// Open, Close and the parameters: the first camera values, the timing table as
// the packet size and bandwidth mode shape it, and records that are refused.
#include <gtest/gtest.h>

#include <cstring>

#include "ae_harness.h"
#include "host/kernel/pool.h"

namespace korval::testing {
namespace {

TEST(AeOpen, FirstValuesComeFromRowFourAtFourPeriods)
{
    OpenedAe h;
    ASSERT_TRUE(h.opened);
    EXPECT_EQ(h.ae.row(), 4);
    EXPECT_EQ(h.out.usClockDivider, 7);
    EXPECT_EQ(h.out.usLineClocks, 444);
    EXPECT_EQ(h.out.usRateValue, 126);
    EXPECT_EQ(h.out.usExtra1, 200);
    EXPECT_EQ(h.out.usGain, 10);
    EXPECT_EQ(h.out.usExposureStartLine, 165);
    EXPECT_EQ(h.out.ulExposure1024, 4096u);
    EXPECT_EQ(h.ae.total(), 8.0);
}

TEST(AeOpen, SmallPacketsStartOnASlowerRow)
{
    struct Case {
        USHORT packetSize;
        USHORT minRow;
        USHORT row;
    };
    // 3072 / packet size is the least clock divider; the row never goes below minRow.
    const Case cases[] = {{1023, 0, 4}, {512, 0, 4}, {384, 0, 5}, {256, 0, 7},
                          {128, 0, 9},  {1023, 6, 6}, {512, 8, 8}};
    for (const Case& c : cases) {
        OpenedAe h(defaultParameters(c.packetSize, c.minRow));
        ASSERT_TRUE(h.opened);
        EXPECT_EQ(h.ae.row(), c.row) << "packet " << c.packetSize << " minRow " << c.minRow;
        EXPECT_EQ(h.out.usClockDivider, h.ae.timingRow(c.row).usClockDivider);
    }
}

TEST(AeOpen, RefusesBadArgumentsAndASecondOpen)
{
    CAe ae;
    tagAeOutput out{};
    const tagAeParameters p = defaultParameters();
    EXPECT_FALSE(ae.Open(0, kSensorHeight, false, 0, p, &out));
    EXPECT_FALSE(ae.Open(kSensorWidth, 0, false, 0, p, &out));
    EXPECT_FALSE(ae.Open(kSensorWidth, kSensorHeight, false, 0, p, nullptr));
    EXPECT_FALSE(ae.Open(kSensorWidth, kSensorHeight, false, 3, p, &out));
    EXPECT_TRUE(ae.Open(kSensorWidth, kSensorHeight, false, 2, p, &out));
    EXPECT_FALSE(ae.Open(kSensorWidth, kSensorHeight, false, 0, p, &out));
    EXPECT_TRUE(ae.Close());
    EXPECT_TRUE(ae.Open(kSensorWidth, kSensorHeight, false, 0, p, &out));
}

TEST(AeOpen, ComesFromTheDriversPool)
{
    host::resetPoolCounters();
    CAe* ae = new CAe;
    ASSERT_NE(ae, nullptr);
    EXPECT_EQ(host::poolCounters(KORVAL_POOL_TAG).outstandingBytes, sizeof(CAe));
    delete ae;
    EXPECT_EQ(host::poolCounters(KORVAL_POOL_TAG).outstandingBlocks, 0u);
    host::failPoolAllocation(1);
    EXPECT_EQ(new CAe, nullptr);
}

TEST(AeParameters, PacketSizeShapesTheTimingTable)
{
    // 1023: line clocks stay 444, row 6 gets the full-speed rate and budget.
    OpenedAe full(defaultParameters(1023));
    EXPECT_EQ(full.ae.timingRow(0).usLineClocks, 444);
    EXPECT_EQ(full.ae.timingRow(6).usRateValue, 178);
    EXPECT_EQ(full.ae.timingRow(6).usLineBudget, 369);
    EXPECT_EQ(full.ae.timingRow(6).usMaxExposure, 39);
    EXPECT_EQ(full.ae.timingRow(0).usMaxExposure, 4);
    // 512: every row 512 clocks, rates and budgets halved and truncated, rate capped.
    OpenedAe half(defaultParameters(512));
    for (int row = 0; row < CAe::TIMING_ROWS; ++row) {
        EXPECT_EQ(half.ae.timingRow(row).usLineClocks, 512);
    }
    EXPECT_EQ(half.ae.timingRow(0).usRateValue, 27);
    EXPECT_EQ(half.ae.timingRow(0).usMaxExposure, 5);
    EXPECT_EQ(half.ae.timingRow(2).usLineBudget, 93);
    EXPECT_EQ(half.ae.timingRow(9).usRateValue, 255);
    EXPECT_EQ(half.out.usRateValue, 63);
    // Oversize packets saturate the 16-bit budget instead of wrapping it.
    OpenedAe huge(defaultParameters(65535));
    EXPECT_EQ(huge.ae.timingRow(9).usLineBudget, 0xFFFF);
    // Row 6 always carries the longest exposure of the selected limits.
    tagAeParameters shortLimits = defaultParameters(512);
    shortLimits.ucLongExposure = 0;
    OpenedAe s(shortLimits);
    EXPECT_EQ(s.ae.timingRow(6).usMaxExposure, 13);
}

TEST(AeParameters, StrictBandwidthRaisesMinRowAndFixesLongRates)
{
    CAeProbe ae;
    tagAeOutput out{};
    ASSERT_TRUE(ae.Open(kSensorWidth, kSensorHeight, true, 0, defaultParameters(512, 2), &out));
    EXPECT_EQ(ae.minRow(), 6);
    EXPECT_EQ(ae.row(), 6);
    EXPECT_EQ(ae.timingRow(5).usRateValue, 81);
    for (int row = 6; row < CAe::TIMING_ROWS; ++row) {
        EXPECT_EQ(ae.timingRow(row).usRateValue, 200);
    }
    CAeProbe shortAe;
    tagAeParameters p = defaultParameters(512, 2);
    p.ucLongExposure = 0;
    ASSERT_TRUE(shortAe.Open(kSensorWidth, kSensorHeight, true, 0, p, &out));
    EXPECT_EQ(shortAe.minRow(), 3);
    EXPECT_EQ(shortAe.timingRow(6).usRateValue, 99);
}

TEST(AeParameters, BandStepFactorAndMinRowFollowTheRecord)
{
    OpenedAe h;
    tagAeParameters p = defaultParameters(1023, 7);
    p.ucTargetLuma = 250;
    p.ucTolerance = 20;
    p.ucStepBoost = 6;
    ASSERT_TRUE(h.ae.SetParameters(p));
    EXPECT_EQ(h.ae.upperLuma(), 255);
    EXPECT_EQ(h.ae.lowerLuma(), 230);
    EXPECT_DOUBLE_EQ(h.ae.stepFactor(), 2.5);
    EXPECT_EQ(h.ae.row(), 7);  // raised to the new minRow at once
    p.ucTargetLuma = 5;
    p.usMinRow = 2;
    ASSERT_TRUE(h.ae.SetParameters(p));
    EXPECT_EQ(h.ae.lowerLuma(), 0);
    EXPECT_EQ(h.ae.row(), 7);  // a lower minRow leaves the row
}

TEST(AeParameters, UnusableRecordsAreRefusedWhole)
{
    OpenedAe h;
    const tagAeParameters good = defaultParameters();
    tagAeParameters bad[4] = {good, good, good, good};
    bad[0].ucMainsFrequency = 0;
    bad[1].usMinExposureDivisor = 0;
    bad[2].usPacketSize = 0;
    bad[3].usMinRow = 10;
    for (tagAeParameters& p : bad) {
        p.ucTargetLuma = 200;  // would show if anything of it were taken
        EXPECT_FALSE(h.ae.SetParameters(p));
        tagAeParameters now{};
        ASSERT_TRUE(h.ae.GetParameters(&now));
        EXPECT_EQ(std::memcmp(&now, &good, sizeof(now)), 0);
        EXPECT_EQ(h.ae.upperLuma(), 110);
        CAe fresh;
        tagAeOutput out{};
        EXPECT_FALSE(fresh.Open(kSensorWidth, kSensorHeight, false, 0, p, &out));
    }
    EXPECT_FALSE(h.ae.GetParameters(nullptr));
}

} // namespace
} // namespace korval::testing
