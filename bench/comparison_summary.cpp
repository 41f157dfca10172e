// Registration of the comparison in alternating rounds, and the summary that
// puts our times beside OpenCV's.
#include "bench/comparison.h"

#include <algorithm>
#include <cstdio>

namespace korval::bench {
namespace {

constexpr const char* kPrefix = "Compare/";
constexpr double kMinTimeSeconds = 0.2;

void add(const ComparisonRow& row, const char* side, BenchmarkFunction function, int round)
{
    if (function == nullptr) {
        return;
    }
    const std::string name = std::string(kPrefix) + row.key + "/" + side + "/round" + std::to_string(round);
    benchmark::RegisterBenchmark(name.c_str(), function)->Unit(benchmark::kMicrosecond)->MinTime(kMinTimeSeconds);
}

// "Compare/Cif/Whole/korval/round3" -> "Cif/Whole/korval".
std::string seriesOf(const std::string& name)
{
    const std::size_t round = name.rfind("/round");
    return name.substr(std::char_traits<char>::length(kPrefix), round - std::char_traits<char>::length(kPrefix));
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double fastest(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

} // namespace

// One round is every row once, ours then OpenCV's: a burst of load from other
// work on the machine hits both sides of a row alike.
void registerComparison(int rounds)
{
    if (comparisonOpenCvVersion().empty()) {
        return;
    }
    benchmark::AddCustomContext("opencv", comparisonOpenCvVersion());
    for (const ComparisonRow& row : comparisonRows()) {  // the chart script's labels
        benchmark::AddCustomContext(std::string("row ") + row.key, row.label);
    }
    for (int round = 1; round <= rounds; ++round) {
        for (const ComparisonRow& row : comparisonRows()) {
            add(row, "korval", row.korval, round);
            add(row, "opencv", row.opencv, round);
        }
    }
}

void ComparisonReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        const std::string name = run.benchmark_name();
        if (run.run_type != Run::RT_Iteration || run.error_occurred || name.rfind(kPrefix, 0) != 0) {
            continue;
        }
        const std::string series = seriesOf(name);
        auto found = std::find_if(times_.begin(), times_.end(), [&](const auto& entry) { return entry.first == series; });
        if (found == times_.end()) {
            times_.emplace_back(series, Times{});
            found = times_.end() - 1;
        }
        found->second.cpu.push_back(run.GetAdjustedCPUTime());
        found->second.real.push_back(run.GetAdjustedRealTime());
    }
}

void ComparisonReporter::Finalize()
{
    ConsoleReporter::Finalize();
    if (!times_.empty()) {
        printSummary();
    }
}

void ComparisonReporter::printSummary() const
{
    auto timesOf = [&](const std::string& series) -> const Times* {
        for (const auto& entry : times_) {
            if (entry.first == series) {
                return &entry.second;
            }
        }
        return nullptr;
    };
    std::FILE* out = stdout;
    std::fprintf(out, "\nSide by side with OpenCV %s, single-threaded; fastest of the alternated runs, thread CPU time.\n"
                      "ratio = ours / OpenCV (below 1: ours is faster); per run: median [lowest, highest] of the\n"
                      "ratios of each run to its counterpart; wall: the ratio of the fastest wall-clock times\n"
                      "(other work on the machine stretches these).\n\n",
                 comparisonOpenCvVersion().c_str());
    std::fprintf(out, "%-34s %10s %10s %7s %23s %7s\n", "stage", "ours us", "OpenCV us", "ratio", "per run", "wall");
    for (const ComparisonRow& row : comparisonRows()) {
        const Times* ours = timesOf(std::string(row.key) + "/korval");
        const Times* theirs = timesOf(std::string(row.key) + "/opencv");
        if (ours == nullptr && theirs == nullptr) {
            continue;
        }
        std::fprintf(out, "%-34s", row.label);
        ours != nullptr ? std::fprintf(out, " %10.1f", fastest(ours->cpu)) : std::fprintf(out, " %10s", "-");
        theirs != nullptr ? std::fprintf(out, " %10.1f", fastest(theirs->cpu)) : std::fprintf(out, " %10s", "-");
        if (ours != nullptr && theirs != nullptr) {
            std::vector<double> ratios;
            for (std::size_t i = 0; i < std::min(ours->cpu.size(), theirs->cpu.size()); ++i) {
                ratios.push_back(ours->cpu[i] / theirs->cpu[i]);
            }
            std::fprintf(out, " %7.2f   %5.2f [%5.2f, %5.2f] %7.2f", fastest(ours->cpu) / fastest(theirs->cpu),
                         median(ratios), fastest(ratios), *std::max_element(ratios.begin(), ratios.end()),
                         fastest(ours->real) / fastest(theirs->real));
        }
        std::fprintf(out, "\n");
    }
    std::fflush(out);
}

} // namespace korval::bench
