// A fresh emulated machine per test: its own machine directory and a clock
// that moves only when the test steps it.
#pragma once

#include "host/kernel/platform.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace korval::host::testing {

inline std::filesystem::path freshMachineDirectory()
{
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string("korval-kernel-") + std::to_string(getpid()) + "-" +
                             (info != nullptr ? info->name() : "test") + "-" + std::to_string(counter++);
    const auto directory = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(directory);
    return directory;
}

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        machine_ = freshMachineDirectory();
        platform_ = std::make_unique<Platform>(PlatformOptions{machine_, ClockMode::Stepped});
    }
    void TearDown() override
    {
        platform_.reset();
        std::filesystem::remove_all(machine_);
    }

    std::filesystem::path machine_;
    std::unique_ptr<Platform> platform_;
};

inline LARGE_INTEGER relativeTimeout(LONGLONG ticks)
{
    LARGE_INTEGER timeout;
    timeout.QuadPart = -ticks;
    return timeout;
}

} // namespace korval::host::testing
