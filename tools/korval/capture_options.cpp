#include "tools/korval/capture_options.h"

#include <charconv>

namespace korval::tools {
namespace {

constexpr int kMaxFrames = 100000;

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

bool parseFrames(const std::string& value, CaptureOptions& options, std::string& error)
{
    int frames = 0;
    const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), frames);
    if (failure != std::errc() || end != value.data() + value.size() || frames < 1 || frames > kMaxFrames) {
        error = "--frames: '" + value + "' is not a count from 1 to " + std::to_string(kMaxFrames);
        return false;
    }
    options.frames = frames;
    return true;
}

bool parseSize(const std::string& value, CaptureOptions& options, std::string& error)
{
    for (const auto& size : kSizes) {
        if (value == size.text) {
            options.width = size.width;
            options.height = size.height;
            return true;
        }
    }
    error = "--size: '" + value + "' is not one of 640x480, 352x288, 320x240, 176x144, 160x120";
    return false;
}

bool isOption(const std::string& name)
{
    for (const char* known : {"--frames", "--size", "--format", "--scene", "--output", "--machine", "--clock",
                              "--set", "--fps"}) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

// -n, -o, -s and -f stand for the common long options.
std::string longName(const std::string& name)
{
    static const std::pair<const char*, const char*> shortForms[] = {
        {"-n", "--frames"}, {"-o", "--output"}, {"-s", "--size"}, {"-f", "--format"}};
    for (const auto& [shortName, full] : shortForms) {
        if (name == shortName) {
            return full;
        }
    }
    return name;
}

bool applyOption(const std::string& name, const std::string& value, CaptureOptions& options, std::string& error,
                 bool& outputGiven)
{
    if (name == "--frames") {
        return parseFrames(value, options, error);
    }
    if (name == "--size") {
        return parseSize(value, options, error);
    }
    if (name == "--format") {
        if (value != "i420" && value != "rgb24") {
            error = "--format: '" + value + "' is neither i420 nor rgb24";
            return false;
        }
        options.i420 = value == "i420";
        return true;
    }
    if (name == "--scene") {
        if (value != "bars" && value != "chart" && value != "moving" && !endsWith(value, ".png")) {
            error = "--scene: '" + value + "' is neither bars, chart, moving nor a .png file";
            return false;
        }
        options.scene = value;
        return true;
    }
    if (name == "--output") {
        options.output = value;
        outputGiven = true;
        return true;
    }
    if (name == "--machine") {
        options.machine = value;
        return true;
    }
    if (name == "--set") {
        if (value.find('=') == std::string::npos) {
            error = "--set: '" + value + "' needs a value (NAME=VALUE)";
            return false;
        }
        options.sets.push_back(value);
        return true;
    }
    if (name == "--fps") {
        options.sets.push_back("frame-rate=" + value);
        return true;
    }
    if (name == "--clock") {
        if (value != "real" && value != "fast") {
            error = "--clock: '" + value + "' is neither real nor fast";
            return false;
        }
        options.clock = value == "real" ? host::ClockMode::Real : host::ClockMode::Scaled;
        return true;
    }
    error = "unknown option '" + name + "'";
    return false;
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

const char* const kCaptureUsage =
    "usage: korval capture [-n|--frames N] [-f|--format i420|rgb24] [-s|--size WxH]\n"
    "                      [--scene bars|chart|moving|FILE.png] [-o|--output FILE.y4m|PATTERN.png|-]\n"
    "                      [--set NAME=VALUE ...] [--fps N] [--machine DIR] [--no-wait] [--clock real|fast]\n"
    "Plugs the virtual camera in, opens the driver's capture stream and writes N frames\n"
    "(default 30) as a Y4M video (I420) or one PNG per frame (PATTERN may hold %04d);\n"
    "'-o -' writes Y4M to standard output (progress and summary go to standard error).\n"
    "Sizes: 640x480, 352x288 (default), 320x240, 176x144, 160x120.\n"
    "The Y4M header carries the frame rate measured over the capture, so the video plays\n"
    "as long as the capture took, and XCOLORRANGE=FULL (the driver's I420 is full range).\n"
    "--set NAME=VALUE (repeatable) sets a camera property once the stream is open, through\n"
    "the driver's property requests (see 'korval properties'); --fps N is --set frame-rate=N.\n"
    "Auto exposure needs about 50 frames to settle from a dark start.\n"
    "--machine keeps the emulated machine (registry.reg, C: drive) in DIR; without it a\n"
    "temporary one is used. The fast clock (default) runs the machine faster than real time.\n"
    "The file is written beside OUTPUT and put in place only when the capture ends well or\n"
    "is interrupted with Ctrl-C (exit 130).\n";

std::optional<CaptureOptions> parseCaptureOptions(const std::vector<std::string>& args, std::string& error)
{
    CaptureOptions options;
    bool outputGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return options;
        }
        if (arg == "--no-wait") {
            options.wait = false;
            continue;
        }
        std::string name = longName(arg);
        std::string value;
        const std::size_t equals = arg.find('=');
        if (arg.starts_with("--") && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        } else if (!name.starts_with("--")) {
            error = "unexpected argument '" + arg + "'";
            return std::nullopt;
        } else if (!isOption(name)) {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "option '" + name + "' needs a value";
            return std::nullopt;
        }
        if (!applyOption(name, value, options, error, outputGiven)) {
            return std::nullopt;
        }
    }
    if (!chooseOutput(options, outputGiven, error)) {
        return std::nullopt;
    }
    return options;
}

} // namespace korval::tools
