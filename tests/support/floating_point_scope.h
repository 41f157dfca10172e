// Test helpers of the kernel run time: a saved floating-point state for the
// scope (what the driver's brackets give its processing classes), and a
// lowered pixel path for the scope.
#pragma once

#include "platform/CpuFeatures.h"
#include "platform/KernelFloatingPoint.h"
#include "runtime/FloatingPointState.h"

#include <cstdlib>

namespace korval::testing {

// The driver's own bracket, which on 32-bit x86 also sets the x87 to double precision.
class FloatingPointScope {
public:
    FloatingPointScope()
    {
        if (!state_.Saved()) {
            std::abort();
        }
    }
    FloatingPointScope(const FloatingPointScope&) = delete;
    FloatingPointScope& operator=(const FloatingPointScope&) = delete;

private:
    CFloatingPointState state_;
};

class ForcedCpuPath {
public:
    explicit ForcedCpuPath(CPU_PATH limit) : path_(CpuFeaturesLimit(limit)) {}
    ~ForcedCpuPath() { CpuFeaturesLimit(CpuPathAvx512); }
    ForcedCpuPath(const ForcedCpuPath&) = delete;
    ForcedCpuPath& operator=(const ForcedCpuPath&) = delete;

    CPU_PATH path() const { return path_; }

private:
    CPU_PATH path_;
};

} // namespace korval::testing
