// Surprise removal at random moments while streaming: a worker keeps one kind
// of request going (reads, camera register writes, property sets, stills,
// power changes) while the camera is pulled out; then the device is removed.
// No hang (watchdog), no leak and no verifier report (the class's removal
// checks), and every read request completed.
#include "hardening/RequestMix.h"

#include <atomic>
#include <thread>

namespace korval::hardening {
namespace {

enum class Moment { Read, RegisterWrite, PropertySet, Still, PowerChange, Count };

const char* name(Moment moment)
{
    static const char* const kNames[] = {"mid-read", "mid-register-write", "mid-property-set", "mid-still",
                                         "mid-power-change"};
    return kNames[static_cast<int>(moment)];
}

class SurpriseRemovalTest : public HardeningTest {
protected:
    // One step of the worker's request kind.
    void step(Moment moment, std::mt19937& random, std::vector<std::shared_ptr<StreamRead>>& reads)
    {
        switch (moment) {
        case Moment::Read:
            reads.push_back(unit_.stream->submitRead(unit_.frameSize()));
            reads.back()->waitFor(std::chrono::milliseconds(random() % 20));
            break;
        case Moment::RegisterWrite: {
            static const ULONG kIds[] = {KSPROPERTY_KORVAL_GAIN_1, KSPROPERTY_KORVAL_GAIN_2,
                                         KSPROPERTY_KORVAL_GAIN_3, KSPROPERTY_KORVAL_FRAME_RATE,
                                         KSPROPERTY_KORVAL_MIRROR, KSPROPERTY_KORVAL_FLIP};
            const ULONG id = kIds[random() % std::size(kIds)];
            unit_.device->setProperty(privateSet(id, id == KSPROPERTY_KORVAL_FRAME_RATE ? 5 + random() % 26
                                                                                          : random() % 2));
            break;
        }
        case Moment::PropertySet: {
            const PublishedItem& item = items_[random() % items_.size()];
            unit_.device->setProperty(randomProperty(item, random, true, true));
            break;
        }
        case Moment::Still:
            unit_.camera->camera().pressSnapshotButton();
            reads.push_back(unit_.stream->submitRead(unit_.frameSize()));
            reads.back()->waitFor(std::chrono::milliseconds(random() % 20));
            break;
        case Moment::PowerChange:
            unit_.device->setPowerState(PowerDeviceD3);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
            unit_.device->setPowerState(PowerDeviceD0);
            break;
        case Moment::Count: break;
        }
    }

    void trial(int index, Moment moment, std::mt19937& random)
    {
        Watchdog watchdog("surprise removal trial " + std::to_string(index) + " " + name(moment), 60s);
        startStreaming(unit_, static_cast<int>(random() % 4));
        items_ = publishedItems(*unit_.device);
        std::atomic<bool> stop{false};
        std::vector<std::shared_ptr<StreamRead>> workerReads;
        std::mt19937 workerRandom(random());
        std::thread worker([&] {
            while (!stop) {
                step(moment, workerRandom, workerReads);
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        unit_.bus().unplug();
        unit_.device->surpriseRemove();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
        stop = true;
        worker.join();
        unit_.reads.insert(unit_.reads.end(), workerReads.begin(), workerReads.end());
        removeDevice(unit_);
    }

    std::vector<PublishedItem> items_;
};

TEST_F(SurpriseRemovalTest, AtRandomMomentsWhileStreaming)
{
    std::mt19937 random(campaignSeed());
    const int trials = campaignSize(10, 1000);
    for (int i = 0; i < trials && !HasFailure(); ++i) {
        trial(i, static_cast<Moment>(i % static_cast<int>(Moment::Count)), random);
    }
    RecordProperty("trials", trials);
}

} // namespace
} // namespace korval::hardening
