// The options of 'korval capture', parsed and checked before anything starts.
#pragma once

#include "host/kernel/clock.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korval::tools {

enum class OutputKind { Y4m, PngPattern };

struct CaptureOptions {
    int frames = 30;
    bool i420 = true;
    int width = 352;
    int height = 288;
    std::string scene = "bars"; // bars, chart, moving or a PNG file
    std::string output = "capture.y4m";
    OutputKind outputKind = OutputKind::Y4m;
    std::filesystem::path machine; // empty: a temporary machine directory
    host::ClockMode clock = host::ClockMode::Scaled;
    bool wait = true;              // wait for another korval using the machine directory
    std::vector<std::string> sets; // NAME=VALUE, applied once the stream is open
    bool help = false;
};

// The options, or nothing with `error` naming the option or value at fault.
std::optional<CaptureOptions> parseCaptureOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const kCaptureUsage;

} // namespace korval::tools
