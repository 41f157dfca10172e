// The benchmarks time the processing code as the driver runs it: inside a
// saved floating-point state, which the benchmark thread holds for the run.
#include "support/floating_point_scope.h"

namespace {

korval::testing::FloatingPointScope benchmarkThreadState;

} // namespace
