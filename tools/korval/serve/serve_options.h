// The options of 'korval serve', parsed and checked before anything starts.
#pragma once

#include "tools/korval/capture_options.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korval::tools::serve {

struct ServeOptions {
    int port = 8080;              // 0: any free port (printed at start)
    std::string listen;           // empty: 127.0.0.1 and ::1
    std::filesystem::path machine; // empty: a temporary machine directory
    std::string scene = "bars";   // bars, chart, moving or a PNG file
    double lightKelvin = 6500;    // colour temperature of the light on the scene
    camera::SensorModel sensor = camera::SensorModel::Real;
    int width = 352;
    int height = 288;
    bool i420 = true;
    std::string usbTrace;         // every USB transfer as pcap in this file; empty: no
    bool help = false;
};

// The options, or nothing with `error` naming the option or value at fault.
std::optional<ServeOptions> parseServeOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const kServeUsage;

} // namespace korval::tools::serve
