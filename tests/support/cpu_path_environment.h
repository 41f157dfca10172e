// Included by one file of each test program whose code has SIMD paths: the
// environment variable KORVAL_CPU_PATH (plain, sse2, avx2) lowers the pixel path
// for the whole run, so CTest runs the same tests on every path.
#pragma once

#include "support/floating_point_scope.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace korval::testing {

class CpuPathEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        const char* name = std::getenv("KORVAL_CPU_PATH");
        const std::string path = name != nullptr ? name : "";
        if (path == "plain") {
            forced_.emplace(CpuPathPlain);
        } else if (path == "sse2") {
            forced_.emplace(CpuPathSse2);
        } else if (path == "avx2") {
            forced_.emplace(CpuPathAvx2);
        }
    }
    void TearDown() override { forced_.reset(); }

private:
    std::optional<ForcedCpuPath> forced_;
};

inline ::testing::Environment* const cpuPathEnvironment =
    ::testing::AddGlobalTestEnvironment(new CpuPathEnvironment);

} // namespace korval::testing
