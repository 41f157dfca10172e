// A directory of its own for the running test, empty at the start: the
// temporary directory's `<prefix>-<pid>-<test>` (with the suite's name before
// the test's where asked), so that parallel runs and tests never share one.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <unistd.h>

namespace korval::testing {

inline std::filesystem::path freshTestDirectory(const std::string& prefix, bool withSuiteName = false)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = prefix + "-" + std::to_string(::getpid()) + "-";
    if (withSuiteName) {
        name += std::string(test->test_suite_name()) + "-";
    }
    const auto directory = std::filesystem::temp_directory_path() / (name + test->name());
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    return directory;
}

} // namespace korval::testing
