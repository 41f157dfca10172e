// Campaign sizes: the short form runs in CI; KORVAL_CAMPAIGN=long selects the
// long form. Trials draw from one generator whose seed is printed, so a
// failing trial can be replayed with KORVAL_CAMPAIGN_SEED.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>

namespace korval::hardening {

inline bool longCampaign()
{
    const char* mode = std::getenv("KORVAL_CAMPAIGN");
    return mode != nullptr && std::string_view(mode) == "long";
}

inline int campaignSize(int shortSize, int longSize) { return longCampaign() ? longSize : shortSize; }

inline std::uint32_t campaignSeed()
{
    const char* seed = std::getenv("KORVAL_CAMPAIGN_SEED");
    const std::uint32_t value = seed != nullptr ? static_cast<std::uint32_t>(std::strtoul(seed, nullptr, 0))
                                                : (longCampaign() ? std::random_device{}() : 20261208u);
    ::testing::Test::RecordProperty("seed", std::to_string(value));
    std::printf("campaign seed %u\n", value);
    return value;
}

// A hang is a failure too: when a trial outlives its limit (real time) the
// process stops, naming the trial.
class Watchdog {
public:
    Watchdog(std::string trial, std::chrono::seconds limit)
        : trial_(std::move(trial)), thread_([this, limit] { watch(limit); })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void watch(std::chrono::seconds limit)
    {
        std::unique_lock lock(mutex_);
        if (!wake_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "hang: %s did not finish within %lld s\n", trial_.c_str(),
                         static_cast<long long>(limit.count()));
            std::abort();
        }
    }

    std::string trial_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace korval::hardening
