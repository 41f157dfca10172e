// korval_bench: Google Benchmark's run of every benchmark here, with the
// comparison against OpenCV (when built in) registered in alternating rounds
// and summarised at the end. --korval_rounds=N sets the rounds (default 5).
#include "bench/comparison.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kRoundsFlag = "--korval_rounds=";
#if defined(__clang__)
constexpr const char* kCompiler = "clang " __clang_version__;
#else
constexpr const char* kCompiler = "g++ " __VERSION__;
#endif

// Takes our own flag out of the arguments before Google Benchmark sees them.
int takeRounds(int& argc, char** argv)
{
    int rounds = 5;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kRoundsFlag, std::strlen(kRoundsFlag)) == 0) {
            rounds = std::atoi(argv[i] + std::strlen(kRoundsFlag));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return rounds;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = takeRounds(argc, argv);
    benchmark::AddCustomContext("compiler", kCompiler);
    korval::bench::registerComparison(rounds);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    korval::bench::ComparisonReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
