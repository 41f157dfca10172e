#include "tools/korval/capture_options.h"

#include "camera/sensor/illuminant.h"

#include <CLI/CLI.hpp>
#include <charconv>

namespace korval::tools {
namespace {

constexpr int kMaxFrames = 100000;
constexpr double kMaxDuration = 3600;

struct FrameSize {
    const char* text;
    int width;
    int height;
};
constexpr FrameSize kSizes[] = {
    {"640x480", 640, 480}, {"352x288", 352, 288}, {"320x240", 320, 240}, {"176x144", 176, 144}, {"160x120", 160, 120},
};

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() > tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::optional<int> count(const std::string& value, int low, int high)
{
    int number = 0;
    const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (failure != std::errc() || end != value.data() + value.size() || number < low || number > high) {
        return std::nullopt;
    }
    return number;
}

bool parseCount(const std::string& option, const std::string& value, int low, int high, int& target,
                std::string& error)
{
    if (value.empty() && option != "--frames") {
        return true;
    }
    auto number = count(value, low, high);
    if (!number) {
        error = option + ": '" + value + "' is not a count from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    target = *number;
    return true;
}

bool parseDuration(const std::string& value, CaptureOptions& options, std::string& error)
{
    if (value.empty()) {
        return true;
    }
    double seconds = 0;
    const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (failure != std::errc() || end != value.data() + value.size() || !(seconds > 0) || seconds > kMaxDuration) {
        error = "--duration: '" + value + "' is not a number of seconds above 0 and up to 3600";
        return false;
    }
    options.duration = seconds;
    options.frames = kMaxFrames;
    return true;
}

bool parseSize(const std::string& value, CaptureOptions& options, std::string& error)
{
    if (value.empty()) {
        return true;
    }
    if (parseFrameSize(value, options.width, options.height)) {
        return true;
    }
    error = "--size: '" + value + "' is not one of 640x480, 352x288, 320x240, 176x144, 160x120";
    return false;
}

bool parseChoices(const CaptureArguments& given, CaptureOptions& options, std::string& error)
{
    if (!given.format.empty() && given.format != "i420" && given.format != "rgb24") {
        error = "--format: '" + given.format + "' is neither i420 nor rgb24";
        return false;
    }
    options.i420 = given.format != "rgb24";
    if (!given.scene.empty()) {
        if (given.scene != "bars" && given.scene != "chart" && given.scene != "moving" && !endsWith(given.scene, ".png")) {
            error = "--scene: '" + given.scene + "' is neither bars, chart, moving nor a .png file";
            return false;
        }
        options.scene = given.scene;
    }
    if (!given.clock.empty()) {
        if (given.clock != "lockstep" && given.clock != "real" && given.clock != "fast") {
            error = "--clock: '" + given.clock + "' is neither lockstep, fast nor real";
            return false;
        }
        options.lockstep = given.clock == "lockstep";
        options.clock = given.clock == "real" ? host::ClockMode::Real : host::ClockMode::Scaled;
    }
    return true;
}

} // namespace

bool parseSensorOptions(const CaptureArguments& given, CaptureOptions& options, std::string& error)
{
    if (!given.light.empty()) {
        const auto kelvin = camera::parseLightKelvin(given.light);
        if (!kelvin) {
            error = "--light: '" + given.light + "' is not a colour temperature from 2000K to 10000K";
            return false;
        }
        options.lightKelvin = *kelvin;
    }
    if (!given.sensor.empty()) {
        const auto model = camera::parseSensorModel(given.sensor);
        if (!model) {
            error = "--sensor: '" + given.sensor + "' is neither real nor ideal";
            return false;
        }
        options.sensor = *model;
    }
    return true;
}

void declareSensorOptions(CLI::App& app, CaptureArguments& given)
{
    app.add_option("--light", given.light, "colour temperature of the light on the scene, 2000K..10000K (default 6500K)")
        ->option_text("KELVIN");
    app.add_option("--sensor", given.sensor, "real (default: overlapping filters, black level, noise) or ideal")
        ->option_text("MODEL");
}

void declareFormatAndSize(CLI::App& app, CaptureArguments& given)
{
    app.add_option("-f,--format", given.format, "i420 (default) or rgb24")->option_text("FORMAT");
    app.add_option("-s,--size", given.size, "640x480, 352x288 (default), 320x240, 176x144 or 160x120")
        ->option_text("WxH");
}

void declareDevelopedOutput(CLI::App& app, CaptureArguments& given)
{
    app.add_option("-o,--output", given.output, "FILE.y4m, PATTERN.png or - (default capture.y4m)")
        ->option_text("OUTPUT");
}

namespace {

bool parseSets(const CaptureArguments& given, CaptureOptions& options, std::string& error)
{
    for (const std::string& set : given.sets) {
        if (set.find('=') == std::string::npos) {
            error = "--set: '" + set + "' needs a value (NAME=VALUE)";
            return false;
        }
        options.sets.push_back(set);
    }
    if (!given.fps.empty()) {
        // The camera's fastest timing (clock divider 3) gives 30 frames a
        // second; a larger rate would be accepted by the driver and never seen.
        constexpr int kFastestCameraRate = 30;
        int fps = 0;
        if (!parseCount("--fps", given.fps, 1, 255, fps, error)) {
            return false;
        }
        if (fps > kFastestCameraRate) {
            error = "--fps: " + given.fps + " frames/s is beyond the camera: its fastest timing delivers " +
                    std::to_string(kFastestCameraRate) +
                    " frames/s, and less with a smaller USB bandwidth (--set alternate-setting), with the long "
                    "exposures of a dim scene, or when the picture compresses badly";
            return false;
        }
        options.sets.push_back("frame-rate=" + given.fps);
    }
    return true;
}

bool chooseOutput(CaptureOptions& options, bool outputGiven, std::string& error)
{
    if (!outputGiven && !options.i420) {
        options.output = "frame_%04d.png";
    }
    if (options.output == "-" && !options.i420) {
        error = "--output: '-' writes Y4M, which holds I420 only: use --format i420";
        return false;
    }
    if (options.output == "-") {
        options.outputKind = OutputKind::Y4m;
        return true;
    }
    if (endsWith(options.output, ".png")) {
        options.outputKind = OutputKind::PngPattern;
        return true;
    }
    if (!endsWith(options.output, ".y4m")) {
        error = "--output: '" + options.output + "' is neither a .y4m file nor a .png pattern";
        return false;
    }
    if (!options.i420) {
        error = "--output: '" + options.output + "' is Y4M, which holds I420 only: use --format i420 or a .png pattern";
        return false;
    }
    options.outputKind = OutputKind::Y4m;
    return true;
}

} // namespace

bool parseFrameSize(const std::string& text, int& width, int& height)
{
    for (const auto& size : kSizes) {
        if (text == size.text) {
            width = size.width;
            height = size.height;
            return true;
        }
    }
    return false;
}

const char* const kSetOnceOpen = "set a camera property once the stream is open (repeatable)";
const char* const kKeepMachine = "keep the emulated machine (registry.reg, C: drive) in DIR";

const char* const kCaptureDescription =
    "Plugs the virtual camera in, opens the driver's capture stream and writes N frames (default 30) as a Y4M "
    "video (I420) or one PNG per frame (PATTERN may hold %04d); '-o -' writes Y4M to standard output, with "
    "progress and summary on standard error. The Y4M header carries the frame rate measured over the capture, so "
    "the video plays as long as the capture took, and XCOLORRANGE=FULL (the driver's I420 is full range). Auto "
    "exposure needs about 50 frames to settle from a dark start: --skip 50 leaves them out. The file is written "
    "beside OUTPUT and put in place only when the capture ends well or is interrupted with Ctrl-C, SIGTERM or "
    "SIGHUP (exit 130). An output that exists already is refused before anything is written unless -y is given. "
    "\"dropped\" in the progress and summary counts the stream's frame times (30 frames/s) that brought no new "
    "picture: mostly frames the camera never took because it runs slower (long exposures, USB bandwidth), plus "
    "frames it sent that were lost; the summary tells the two apart. The emulated clock runs in lockstep with the "
    "reads by default, so the same scene and settings give the same frames on any host; --clock fast or real "
    "lets it run freely, as a real camera does, to see what a slow host drops.";

const char* const kClockHelp =
    "lockstep (default: the camera waits for each read, so the frames follow from the scene and settings "
    "whatever the host's speed), fast (a free clock faster than real time) or real; on a free clock a slow "
    "host drops frames and auto exposure follows the frames it took";

void declareCaptureOptions(CLI::App& app, CaptureArguments& given)
{
    app.add_option("-n,--frames", given.frames, "frames to write (default 30, up to 100000)")->option_text("N");
    app.add_option("--duration", given.duration, "capture for S seconds of camera time instead of N frames")
        ->option_text("S");
    app.add_option("--skip", given.skip, "warm-up frames read but not written (auto exposure settles in about 50)")
        ->option_text("N");
    declareFormatAndSize(app, given);
    app.add_option("--scene", given.scene, "bars (default), chart, moving or a PNG picture")->option_text("SCENE");
    declareSensorOptions(app, given);
    app.add_option("-o,--output", given.output, "FILE.y4m, PATTERN.png or - for standard output")
        ->option_text("OUTPUT");
    declareSetOption(app, given.sets, kSetOnceOpen);
    app.add_option("--fps", given.fps,
                   "the fastest rate auto exposure may choose, 1 to 30 frames/s (--set frame-rate=N); the camera "
                   "runs slower when the scene needs a longer exposure or the USB bandwidth is short")
        ->option_text("N");
    app.add_option("--snapshot-at", given.snapshotAt, "press the snapshot button at frame N; the still is a PNG")
        ->option_text("N");
    app.add_option("--raw", given.raw, "also keep the camera's raw frames as received, for 'korval process'")
        ->option_text("FILE");
    app.add_option("--usb-trace", given.usbTrace, "also write every USB transfer as pcap (usbmon, for Wireshark)")
        ->option_text("FILE.pcap");
    declareMachineOptions(app, given.machine, given.noWait, kKeepMachine);
    app.add_option("--clock", given.clock, kClockHelp)->option_text("CLOCK");
    app.add_flag("-y,--overwrite", given.overwrite, "replace output files that exist already");
    app.add_flag("-q,--quiet", given.quiet, "no progress line");
    app.add_flag("--json", given.json, "the summary as JSON");
}

std::string stillPath(const CaptureOptions& options)
{
    if (!options.stillOutput.empty()) {
        return options.stillOutput;
    }
    if (options.output == "-" || options.outputKind != OutputKind::Y4m) {
        return "still.png";
    }
    return options.output.substr(0, options.output.size() - 4) + "-still.png";
}

std::optional<CaptureOptions> checkCaptureOptions(const CaptureArguments& given, std::string& error)
{
    CaptureOptions options;
    if (!parseCount("--frames", given.frames, 1, kMaxFrames, options.frames, error) ||
        !parseDuration(given.duration, options, error) ||
        !parseCount("--skip", given.skip, 0, kMaxFrames, options.skip, error) ||
        !parseCount("--snapshot-at", given.snapshotAt, 1, kMaxFrames, options.snapshotAt, error) ||
        !parseSize(given.size, options, error) || !parseChoices(given, options, error) ||
        !parseSensorOptions(given, options, error) || !parseSets(given, options, error)) {
        return std::nullopt;
    }
    if (options.snapshotAt > options.frames) {
        error = "--snapshot-at: frame " + given.snapshotAt + " is after the last frame captured (-n " + given.frames +
                "): no still would be taken";
        return std::nullopt;
    }
    if (given.outputGiven()) {
        options.output = given.output;
    }
    options.machine = given.machine;
    options.raw = given.raw;
    options.usbTrace = given.usbTrace;
    options.wait = !given.noWait;
    options.quiet = given.quiet;
    options.json = given.json;
    options.overwrite = given.overwrite;
    if (!chooseOutput(options, given.outputGiven(), error)) {
        return std::nullopt;
    }
    return options;
}

std::optional<CaptureOptions> parseCaptureOptions(const std::vector<std::string>& args, std::string& error)
{
    CLI::App app(kCaptureDescription, "capture");
    CaptureArguments given;
    declareCaptureOptions(app, given);
    switch (parseCommandLine(app, args, error)) {
    case ParseOutcome::Help: {
        CaptureOptions help;
        help.help = true;
        return help;
    }
    case ParseOutcome::Error: return std::nullopt;
    case ParseOutcome::Run: break;
    }
    return checkCaptureOptions(given, error);
}

} // namespace korval::tools
