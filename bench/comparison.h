// The side-by-side comparison with OpenCV: the same job as
// CImageProcess::Process, stage by stage and whole, on the same CIF Bayer
// frame, run in alternating rounds within one program run, with a summary of
// our times as ratios to OpenCV's.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace korval::bench {

using Bytes = std::vector<std::uint8_t>;
using BenchmarkFunction = void (*)(benchmark::State&);

// One row of the comparison: our stage and its OpenCV counterpart (null where
// there is none; then the row still shows our time).
struct ComparisonRow {
    const char* key;    // benchmark name part: Compare/<key>/<side>/round<n>
    const char* label;  // what the summary prints
    BenchmarkFunction korval;
    BenchmarkFunction opencv;
};

// The rows, in the order they run within a round (ours, then OpenCV's).
const std::vector<ComparisonRow>& comparisonRows();

// The OpenCV version built in, or empty without OpenCV; the first call also
// makes OpenCV run everything on the calling thread.
std::string comparisonOpenCvVersion();

// Registers `rounds` rounds of every row (nothing without OpenCV).
void registerComparison(int rounds);

// The frames both sides work on: the sensor's noisy colour chart (B G / G R)
// and the BGR24 picture our demosaic makes of it (352 x 288).
constexpr int kSensorWidth = 352;
constexpr int kSensorHeight = 288;
const Bytes& sensorFrame();
const Bytes& sensorPicture();

// The OpenCV side (comparison_opencv.cpp); each is null without OpenCV.
struct OpenCvSide {
    BenchmarkFunction demosaic;
    BenchmarkFunction demosaicColour;
    BenchmarkFunction colourTransform;
    BenchmarkFunction sharpen;
    BenchmarkFunction toneTable;
    BenchmarkFunction toI420Cif;
    BenchmarkFunction enlargeVga;
    BenchmarkFunction toI420Vga;
    BenchmarkFunction chainCif;
    BenchmarkFunction chainVga;
};
OpenCvSide openCvSide();

// Console output as usual, then the ratio summary of the comparison rows
// that ran, from the fastest round of each side (thread CPU time).
class ComparisonReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    struct Times {
        std::vector<double> cpu;   // one per round, microseconds
        std::vector<double> real;
    };
    void printSummary() const;
    std::vector<std::pair<std::string, Times>> times_;
};

} // namespace korval::bench
