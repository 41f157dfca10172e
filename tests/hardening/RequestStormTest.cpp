// Several threads at once send random adapter and stream requests, valid and
// invalid: property gets and sets of every published item, data
// intersections, opens and closes, state changes (also undefined states),
// reads, power changes and button presses. Everything completes exactly once
// (the class's verifier), nothing leaks (the removal's pool check), and the
// device ends usable.
#include "hardening/RequestMix.h"

#include <atomic>
#include <cstring>
#include <shared_mutex>
#include <thread>

namespace korval::hardening {
namespace {

class RequestStormTest : public HardeningTest {
protected:
    void stormThread(std::uint32_t seed, std::atomic<bool>& stop)
    {
        std::mt19937 random(seed);
        std::vector<std::shared_ptr<StreamRead>> reads;
        while (!stop) {
            const unsigned op = random() % 100;
            if (op < 30) {
                const PublishedItem& item = items_[random() % items_.size()];
                const bool set = random() % 2 == 0;
                const auto request = randomProperty(item, random, set, random() % 4 != 0);
                set ? unit_.device->setProperty(request) : unit_.device->getProperty(request);
            } else if (op < 38) {
                intersect(random);
            } else if (op < 44 && withPower_) {
                // The power manager sends one power request at a time.
                std::lock_guard lock(powerMutex_);
                unit_.device->setPowerState(random() % 2 == 0 ? PowerDeviceD3 : PowerDeviceD0);
            } else if (op < 47) {
                unit_.camera->camera().pressSnapshotButton();
            } else if (op < 50) {
                openOrClose(random);
            } else {
                streamRequest(random, reads);
            }
        }
        for (const auto& read : reads) {
            EXPECT_TRUE(read->waitFor(10s));
        }
        std::lock_guard lock(readsMutex_);
        unit_.reads.insert(unit_.reads.end(), reads.begin(), reads.end());
    }

    void intersect(std::mt19937& random)
    {
        FormatBytes range = formats_[random() % formats_.size()];
        for (unsigned patches = random() % 3; patches > 0; --patches) {
            range.bytes[random() % range.bytes.size()] = static_cast<std::uint8_t>(random());
        }
        if (range.header().FormatSize <= range.bytes.size() && range.header().FormatSize >= sizeof(KSDATARANGE)) {
            unit_.device->dataIntersection(0, range);
        }
    }

    void openOrClose(std::mt19937& random)
    {
        std::unique_lock lock(streamMutex_);
        if (unit_.stream) {
            unit_.stream->close();
            unit_.stream.reset();
            return;
        }
        static const LONG kWidths[] = {160, 176, 320, 352, 640};
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        openFormat(unit_, format(unit_, kWidths[random() % 5], random() % 2 == 0), &status);
    }

    void streamRequest(std::mt19937& random, std::vector<std::shared_ptr<StreamRead>>& reads)
    {
        std::shared_lock lock(streamMutex_);
        if (!unit_.stream) {
            return;
        }
        const unsigned op = random() % 10;
        if (op < 5) {
            reads.push_back(unit_.stream->submitRead(unit_.frameSize() + random() % 2));
            reads.back()->waitFor(std::chrono::milliseconds(random() % 10));
        } else if (op < 9) {
            // Also a state beyond the enumeration, as a number in the SRB.
            const std::uint32_t state = random() % 5 == 4 ? 7 : random() % 4;
            unit_.stream->sendControl(SRB_SET_STREAM_STATE, [state](HW_STREAM_REQUEST_BLOCK& srb) {
                std::memcpy(&srb.CommandData.StreamState, &state, sizeof(state));
            });
        } else {
            KSSTATE state;
            unit_.stream->getState(&state);
        }
    }

    void storm(bool withPower)
    {
        withPower_ = withPower;
        std::mt19937 random(campaignSeed());
        plugIn(unit_);
        ASSERT_EQ(unit_.device->start(), STATUS_SUCCESS);
        items_ = publishedItems(*unit_.device);
        formats_ = unit_.device->streamFormats(0);
        const auto seconds = std::chrono::seconds(campaignSize(3, 180));
        {
            Watchdog watchdog("request storm", seconds + 120s);
            std::atomic<bool> stop{false};
            std::vector<std::thread> threads;
            for (int i = 0; i < 4; ++i) {
                threads.emplace_back([this, seed = random(), &stop] { stormThread(seed, stop); });
            }
            std::this_thread::sleep_for(seconds);
            stop = true;
            for (auto& thread : threads) {
                thread.join();
            }
            if (unit_.stream) {
                ASSERT_EQ(unit_.stream->close(), STATUS_SUCCESS);
                unit_.stream.reset();
            }
        }
        // Usable afterwards: powered, opened, streaming. The storm's valid
        // sets may have left no bandwidth chosen (full bandwidth off and
        // alternate setting 0), which every open refuses until the user
        // picks some; no other refusal is acceptable.
        ASSERT_EQ(unit_.device->setPowerState(PowerDeviceD0), STATUS_SUCCESS);
        if (const NTSTATUS status = open(unit_); status != STATUS_SUCCESS) {
            EXPECT_EQ(status, STATUS_INVALID_PARAMETER);
            ASSERT_TRUE(noBandwidthChosen()) << "open refused with bandwidth chosen";
            ASSERT_EQ(setPrivate(KSPROPERTY_KORVAL_FULL_BANDWIDTH, 1), STATUS_SUCCESS);
            ASSERT_EQ(open(unit_), STATUS_SUCCESS);
        }
        ASSERT_EQ(unit_.stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
        EXPECT_TRUE(delivers(unit_));
        RecordProperty("seconds", static_cast<int>(seconds.count()));
    }

    PropertyResult privateProperty(ULONG id, ULONG flags, ULONG value = 0)
    {
        tagKorvalProperty record{};
        record.ulValue = value;
        return flags == KSPROPERTY_TYPE_SET
                   ? unit_.device->setProperty(PropertyRequest::make(PROPSETID_KORVAL_CAMERA, id, flags, record))
                   : unit_.device->getProperty(PropertyRequest::make(PROPSETID_KORVAL_CAMERA, id, flags, record));
    }

    NTSTATUS setPrivate(ULONG id, ULONG value) { return privateProperty(id, KSPROPERTY_TYPE_SET, value).status; }

    bool noBandwidthChosen()
    {
        const auto full = privateProperty(KSPROPERTY_KORVAL_FULL_BANDWIDTH, KSPROPERTY_TYPE_GET);
        const auto alternate = privateProperty(KSPROPERTY_KORVAL_ALTERNATE_SETTING, KSPROPERTY_TYPE_GET);
        return full.status == STATUS_SUCCESS && alternate.status == STATUS_SUCCESS &&
               full.as<tagKorvalProperty>().ulValue != 1 && (alternate.as<tagKorvalProperty>().ulValue & 0xFF) == 0;
    }

    bool withPower_ = false;
    std::vector<PublishedItem> items_;
    std::vector<FormatBytes> formats_;
    std::shared_mutex streamMutex_;
    std::mutex readsMutex_;
    std::mutex powerMutex_;
};

TEST_F(RequestStormTest, AdapterAndStreamRequests)
{
    storm(false);
}

TEST_F(RequestStormTest, AdapterAndStreamRequestsWithPowerChanges)
{
    storm(true);
}

} // namespace
} // namespace korval::hardening
