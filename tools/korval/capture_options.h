// The options of 'korval capture' and 'korval snapshot', declared on the
// command's CLI11 App and checked before anything starts.
#pragma once

#include "camera/sensor/sensor_model.h"
#include "host/kernel/clock.h"
#include "tools/korval/command_line.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korval::tools {

enum class OutputKind { Y4m, PngPattern, None };

struct CaptureOptions {
    int frames = 30;
    double duration = 0;  // seconds of capture time instead of a frame count; 0: count frames
    int skip = 0;         // warm-up frames read but not written
    bool i420 = true;
    int width = 352;
    int height = 288;
    std::string scene = "bars"; // bars, chart, moving or a PNG file
    double lightKelvin = 6500;  // colour temperature of the light on the scene
    camera::SensorModel sensor = camera::SensorModel::Real;
    std::string output = "capture.y4m";
    OutputKind outputKind = OutputKind::Y4m;
    std::filesystem::path machine; // empty: a temporary machine directory
    bool lockstep = true;          // the clock waits for each read; false: `clock` runs freely
    host::ClockMode clock = host::ClockMode::Scaled;
    bool wait = true;              // wait for another korval using the machine directory
    std::vector<std::string> sets; // NAME=VALUE, applied once the stream is open
    int snapshotAt = 0;            // press the snapshot button at this frame (1 = first); 0: never
    std::string stillOutput;       // the still as PNG; empty: beside the output
    std::string raw;               // keep the camera's raw frames in this file; empty: no
    std::string usbTrace;          // every USB transfer as pcap in this file; empty: no
    bool quiet = false;            // no progress line
    bool json = false;             // the summary as JSON
    bool overwrite = false;        // -y: existing output files are replaced
    bool help = false;
};

// The options as given, before they are checked.
struct CaptureArguments {
    std::string frames = "30";
    std::string duration, skip, format, size, scene, output, machine, clock, fps, snapshotAt, raw, usbTrace;
    std::string light, sensor;
    std::vector<std::string> sets;
    bool noWait = false, quiet = false, json = false, overwrite = false;
    bool outputGiven() const { return !output.empty(); }
};

// Declares the options of 'korval capture' on `app`, bound to `arguments`.
void declareCaptureOptions(CLI::App& app, CaptureArguments& arguments);
// Declares --light and --sensor (every command that takes --scene has them).
void declareSensorOptions(CLI::App& app, CaptureArguments& arguments);
// -f and -s of the delivered stream.
void declareFormatAndSize(CLI::App& app, CaptureArguments& arguments);
// -o of a command that develops frames into a Y4M video or PNG pictures.
void declareDevelopedOutput(CLI::App& app, CaptureArguments& arguments);
// Checks --light and --sensor into `options`; false with `error` naming the value.
bool parseSensorOptions(const CaptureArguments& arguments, CaptureOptions& options, std::string& error);
// Checks them; nothing with `error` naming the option or value at fault.
// "640x480" → 640, 480; false for a size the driver does not offer.
bool parseFrameSize(const std::string& text, int& width, int& height);

std::optional<CaptureOptions> checkCaptureOptions(const CaptureArguments& arguments, std::string& error);

// The options, or nothing with `error` naming the option or value at fault.
std::optional<CaptureOptions> parseCaptureOptions(const std::vector<std::string>& args, std::string& error);

// Where the still goes: --snapshot's -o, or beside the video.
std::string stillPath(const CaptureOptions& options);

extern const char* const kCaptureDescription;
// The help of --set and --machine for the commands that run a camera.
extern const char* const kSetOnceOpen;
extern const char* const kKeepMachine;
// The help of --clock.
extern const char* const kClockHelp;

} // namespace korval::tools
