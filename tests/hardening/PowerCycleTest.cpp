// D0 -> D3 -> D0 cycles in each stream state, with reads pending where the
// state keeps them: streaming resumes every time, in the state it was in.
#include "hardening/HardeningRig.h"

namespace korval::hardening {
namespace {

struct PowerCase {
    const char* name;
    KSSTATE state;
    int pendingReads;
};

class PowerCycleTest : public HardeningTest, public ::testing::WithParamInterface<PowerCase> {};

TEST_P(PowerCycleTest, StreamingResumesAfterEveryCycle)
{
    const PowerCase& power = GetParam();
    startStreaming(unit_, 0);
    ASSERT_TRUE(delivers(unit_));
    ASSERT_EQ(unit_.stream->setState(power.state), STATUS_SUCCESS);
    const int cycles = campaignSize(5, 100);
    for (int cycle = 0; cycle < cycles && !HasFailure(); ++cycle) {
        Watchdog watchdog(std::string("power cycle ") + std::to_string(cycle) + " " + power.name,
                          kRecoveryFloor + 60s);
        submitReads(unit_, power.pendingReads);
        ASSERT_EQ(unit_.device->setPowerState(PowerDeviceD3), STATUS_SUCCESS);
        ASSERT_EQ(unit_.device->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
        if (power.state != KSSTATE_RUN) {
            ASSERT_EQ(unit_.stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
        }
        for (auto& read : unit_.reads) {
            EXPECT_TRUE(read->waitFor(5s)) << cycle;
        }
        unit_.reads.clear();
        EXPECT_TRUE(delivers(unit_)) << "cycle " << cycle;
        EXPECT_TRUE(unit_.camera->camera().videoEnabled()) << cycle;
        ASSERT_EQ(unit_.stream->setState(power.state), STATUS_SUCCESS);
    }
    RecordProperty("cycles", cycles);
}

INSTANTIATE_TEST_SUITE_P(States, PowerCycleTest,
                         ::testing::Values(PowerCase{"running", KSSTATE_RUN, 2},
                                           PowerCase{"paused", KSSTATE_PAUSE, 2},
                                           PowerCase{"stopped", KSSTATE_STOP, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace korval::hardening
