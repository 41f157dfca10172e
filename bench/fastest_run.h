// The fastest repetition of a benchmark: on a shared machine it is the figure
// least disturbed by other work, so benchmarks report it beside the median.
#pragma once

#include <algorithm>
#include <vector>

namespace korval::bench {

inline double fastestRun(const std::vector<double>& runs)
{
    return *std::min_element(runs.begin(), runs.end());
}

} // namespace korval::bench
