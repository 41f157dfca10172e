// A misbehaving camera: garbage in the isochronous stream (random bytes,
// truncated frames, frames past the length cut, markers inside line data)
// while reads keep coming; and vendor and isochronous requests that stall,
// fail or go unanswered at every point of open, run and close. Frames are
// dropped or repaired, reads complete, nothing is written outside a buffer
// (the pool's guard bytes, and the address sanitizer in CI), and the device
// streams again once the camera behaves.
#include "hardening/HardeningRig.h"

namespace korval::hardening {
namespace {

using camera::StreamGarbage;

struct GarbageCase {
    const char* name;
    StreamGarbage kind;
};

class StreamGarbageTest : public HardeningTest, public ::testing::WithParamInterface<GarbageCase> {};

TEST_P(StreamGarbageTest, FramesAreDroppedOrRepairedAndStreamingRecovers)
{
    const std::uint32_t seed = campaignSeed();
    startStreaming(unit_, 0, 352, false);
    ASSERT_TRUE(delivers(unit_));
    unit_.camera->camera().setStreamGarbage(GetParam().kind, seed);
    const int reads = campaignSize(40, 3000);
    int delivered = 0;
    for (int i = 0; i < reads && !HasFailure(); ++i) {
        Watchdog watchdog(std::string("garbage read ") + std::to_string(i), 60s);
        auto read = unit_.stream->submitRead(unit_.frameSize());
        ASSERT_TRUE(read->waitFor(10s)) << i;
        EXPECT_EQ(read->status(), STATUS_SUCCESS) << i;
        const std::size_t used = read->dataUsed().size();
        EXPECT_TRUE(used == 0 || used == unit_.frameSize()) << i << ": " << used;
        delivered += used != 0 ? 1 : 0;
    }
    unit_.camera->camera().setStreamGarbage(StreamGarbage::None);
    // Once the camera behaves the stream comes back within 20 reads (ten
    // seconds of frame waits), or, on a machine so busy that the emulated
    // camera falls behind the clock, within thirty real seconds.
    const auto stopped = std::chrono::steady_clock::now();
    int toRecover = 0;
    bool recovered = false;
    while (!(recovered = delivers(unit_, 1, 0s)) &&
           (toRecover < 20 || std::chrono::steady_clock::now() < stopped + 30s)) {
        ++toRecover;
    }
    EXPECT_TRUE(recovered) << toRecover << " empty reads after the garbage stopped";
    RecordProperty("readsToRecover", toRecover);
    RecordProperty("reads", reads);
    RecordProperty("delivered", delivered);
    std::printf("%s: %d of %d reads delivered a frame; %d empty reads after the garbage stopped\n",
                GetParam().name, delivered, reads, toRecover);
}

INSTANTIATE_TEST_SUITE_P(Garbage, StreamGarbageTest,
                         ::testing::Values(GarbageCase{"RandomBytes", StreamGarbage::RandomBytes},
                                           GarbageCase{"TruncatedFrames", StreamGarbage::TruncatedFrames},
                                           GarbageCase{"OverlongFrames", StreamGarbage::OverlongFrames},
                                           GarbageCase{"MarkersInBodies", StreamGarbage::MarkersInBodies}),
                         [](const auto& info) { return std::string(info.param.name); });

// Faults on the requests of one phase; every other phase runs clean.
struct RequestFault {
    const char* name;
    UrbFault fault;
};

std::vector<RequestFault> requestFaults()
{
    std::vector<RequestFault> faults;
    const std::pair<const char*, UrbFault::Effect> effects[] = {
        {"Stall", UrbFault::Effect::Stall}, {"Fail", UrbFault::Effect::Complete},
        {"NoAnswer", UrbFault::Effect::NoAnswer}, {"Short", UrbFault::Effect::ShortTransfer}};
    for (const auto& [effectName, effect] : effects) {
        UrbFault vendor;
        vendor.function = URB_FUNCTION_VENDOR_INTERFACE;
        vendor.effect = effect;
        // Unanswered requests each cost the 3-second cancellation: a few of them.
        vendor.times = effect == UrbFault::Effect::NoAnswer ? 3 : -1;
        faults.push_back({effectName, vendor});
    }
    UrbFault isoch;
    isoch.function = URB_FUNCTION_ISOCH_TRANSFER;
    for (auto effect : {UrbFault::Effect::Complete, UrbFault::Effect::NoAnswer, UrbFault::Effect::PacketError}) {
        isoch.effect = effect;
        isoch.times = effect == UrbFault::Effect::PacketError ? 500 : -1;
        faults.push_back({effect == UrbFault::Effect::Complete    ? "IsochFail"
                          : effect == UrbFault::Effect::NoAnswer ? "IsochNoAnswer"
                                                                 : "IsochPacketErrors",
                          isoch});
    }
    return faults;
}

enum class Phase { Open, Run, Close };

struct FaultCase {
    Phase phase;
    RequestFault fault;
};

std::vector<FaultCase> faultCases()
{
    std::vector<FaultCase> cases;
    for (Phase phase : {Phase::Open, Phase::Run, Phase::Close}) {
        for (const auto& fault : requestFaults()) {
            cases.push_back({phase, fault});
        }
    }
    return cases;
}

class RequestFaultTest : public HardeningTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    // From the first matching request on for a while, then the camera behaves.
    void inject(std::uint32_t skip)
    {
        UrbFault fault = GetParam().fault.fault;
        fault.skip = static_cast<int>(skip);
        unit_.bus().addFault(fault);
    }
};

TEST_P(RequestFaultTest, RequestsCompleteAndTheDeviceRecovers)
{
    const FaultCase& test = GetParam();
    std::mt19937 random(campaignSeed());
    const int trials = campaignSize(2, 20);
    for (int trial = 0; trial < trials && !HasFailure(); ++trial) {
        Watchdog watchdog("request fault trial " + std::to_string(trial), kRecoveryFloor + 120s);
        plugIn(unit_);
        ASSERT_EQ(unit_.device->start(), STATUS_SUCCESS);
        const std::uint32_t skip = random() % 6;
        if (test.phase == Phase::Open) {
            inject(skip);
        }
        const NTSTATUS opened = open(unit_);
        if (opened == STATUS_SUCCESS) {
            unit_.stream->setState(KSSTATE_RUN);
            if (test.phase == Phase::Run) {
                inject(skip);
            }
            submitReads(unit_, 3);
            for (auto& read : unit_.reads) {
                EXPECT_TRUE(read->waitFor(30s)) << trial;
            }
            if (test.phase == Phase::Close) {
                inject(skip);
            }
            unit_.stream->setState(KSSTATE_STOP);
            EXPECT_EQ(unit_.stream->close(), STATUS_SUCCESS);
            unit_.stream.reset();
        }
        // The camera behaves again: the same device opens and streams.
        unit_.bus().clearFaults();
        ASSERT_EQ(open(unit_), STATUS_SUCCESS) << trial;
        ASSERT_EQ(unit_.stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
        EXPECT_TRUE(delivers(unit_)) << trial;
        removeDevice(unit_);
    }
}

std::string faultCaseName(const ::testing::TestParamInfo<FaultCase>& info)
{
    static const char* const kPhases[] = {"Open", "Run", "Close"};
    return std::string(kPhases[static_cast<int>(info.param.phase)]) + info.param.fault.name;
}

INSTANTIATE_TEST_SUITE_P(Phases, RequestFaultTest, ::testing::ValuesIn(faultCases()), faultCaseName);

} // namespace
} // namespace korval::hardening
