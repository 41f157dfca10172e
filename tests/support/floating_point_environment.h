// Included by one file of each test program of the processing classes: the
// tests' thread holds a saved floating-point state for the whole run, as the
// driver's per-frame bracket gives these classes.
#pragma once

#include "support/floating_point_scope.h"

#include <gtest/gtest.h>

#include <optional>

namespace korval::testing {

class FloatingPointEnvironment : public ::testing::Environment {
public:
    void SetUp() override { scope_.emplace(); }
    void TearDown() override { scope_.reset(); }

private:
    std::optional<FloatingPointScope> scope_;
};

inline ::testing::Environment* const floatingPointEnvironment =
    ::testing::AddGlobalTestEnvironment(new FloatingPointEnvironment);

} // namespace korval::testing
