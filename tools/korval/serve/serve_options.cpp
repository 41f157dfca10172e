#include "tools/korval/serve/serve_options.h"

#include <arpa/inet.h>

#include <charconv>

namespace korval::tools::serve {
namespace {

bool isIpLiteral(const std::string& text)
{
    unsigned char address[16];
    return inet_pton(AF_INET, text.c_str(), address) == 1 || inet_pton(AF_INET6, text.c_str(), address) == 1;
}

// --light and --sensor, checked as every command that takes --scene checks them.
bool applySensorOption(const std::string& name, const std::string& value, ServeOptions& options,
                       std::string& error)
{
    CaptureArguments given;
    (name == "--light" ? given.light : given.sensor) = value;
    CaptureOptions checked;
    checked.lightKelvin = options.lightKelvin;
    checked.sensor = options.sensor;
    if (!parseSensorOptions(given, checked, error)) {
        return false;
    }
    options.lightKelvin = checked.lightKelvin;
    options.sensor = checked.sensor;
    return true;
}

bool applyOption(const std::string& name, const std::string& value, ServeOptions& options, std::string& error)
{
    if (name == "--port") {
        int port = -1;
        const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), port);
        if (failure != std::errc() || end != value.data() + value.size() || port < 0 || port > 65535) {
            error = "--port: '" + value + "' is not a port number from 0 to 65535";
            return false;
        }
        options.port = port;
    } else if (name == "--listen") {
        if (!isIpLiteral(value)) {
            error = "--listen: '" + value + "' is not an IPv4 or IPv6 address";
            return false;
        }
        options.listen = value;
    } else if (name == "--machine") {
        options.machine = value;
    } else if (name == "--usb-trace") {
        if (value.empty()) {
            error = "--usb-trace: needs a file name";
            return false;
        }
        options.usbTrace = value;
    } else if (name == "--scene") {
        const bool png = value.size() > 4 && value.ends_with(".png");
        if (value != "bars" && value != "chart" && value != "moving" && !png) {
            error = "--scene: '" + value + "' is neither bars, chart, moving nor a .png file";
            return false;
        }
        options.scene = value;
    } else if (name == "--light" || name == "--sensor") {
        return applySensorOption(name, value, options, error);
    } else if (name == "--size") {
        if (!parseFrameSize(value, options.width, options.height)) {
            error = "--size: '" + value + "' is not one of 640x480, 352x288, 320x240, 176x144, 160x120";
            return false;
        }
    } else if (name == "--format") {
        if (value != "i420" && value != "rgb24") {
            error = "--format: '" + value + "' is neither i420 nor rgb24";
            return false;
        }
        options.i420 = value == "i420";
    } else {
        error = "unknown option '" + name + "'";
        return false;
    }
    return true;
}

bool takesValue(const std::string& name)
{
    for (const char* known : {"--port", "--listen", "--machine", "--scene", "--light", "--sensor", "--size", "--format",
                             "--usb-trace"}) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

} // namespace

const char* const kServeUsage =
    "usage: korval serve [--port N] [--listen ADDR] [--machine DIR] [--scene bars|chart|moving|FILE.png]\n"
    "                    [--light KELVIN] [--sensor real|ideal] [--size WxH] [--format i420|rgb24]\n"
    "                    [--usb-trace FILE.pcap]\n"
    "Plugs the virtual camera in, opens the driver's capture stream and serves a web page\n"
    "with the live picture, every camera property, the effects and overlay frames, the\n"
    "snapshot button and its still, until Ctrl-C. Port 8080 by default (0: any free port);\n"
    "only 127.0.0.1 and ::1 unless --listen ADDR names another address.\n";

std::optional<ServeOptions> parseServeOptions(const std::vector<std::string>& args, std::string& error)
{
    ServeOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return options;
        }
        std::string name = arg;
        std::string value;
        const std::size_t equals = arg.find('=');
        if (!arg.starts_with("--")) {
            error = "unexpected argument '" + arg + "'";
            return std::nullopt;
        }
        if (equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        } else if (!takesValue(arg)) {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "option '" + arg + "' needs a value";
            return std::nullopt;
        }
        if (!applyOption(name, value, options, error)) {
            return std::nullopt;
        }
    }
    return options;
}

} // namespace korval::tools::serve
