// korval properties [--set NAME=VALUE ...] [--machine DIR]: the camera's
// properties as the driver answers them with the capture stream closed (from
// the registry), after applying each --set through a property request.
#include "tools/korval/camera_properties.h"
#include "tools/korval/cli.h"
#include "tools/korval/machine_session.h"

#include <charconv>
#include <cstdio>
#include <iomanip>

namespace korval::tools {
namespace {

const char* const kUsage =
    "usage: korval properties [--set NAME=VALUE ...] [--machine DIR]\n"
    "Lists the camera's properties (value, auto or manual, published range and default)\n"
    "after applying each --set. VALUE is a number in the published range, or 'auto' for the\n"
    "properties with an automatic mode (white-balance, exposure). --machine DIR keeps the\n"
    "settings in DIR/registry.reg; without it they last for this run only.\n";

struct Assignment {
    const CameraProperty* property;
    std::string text;
};

struct PropertiesOptions {
    std::vector<Assignment> sets;
    std::filesystem::path machine;
    bool help = false;
};

std::string statusText(NTSTATUS status)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    return text;
}

std::string propertyNames()
{
    std::string names;
    for (const auto& property : cameraProperties()) {
        names += names.empty() ? "" : ", ";
        names += property.name;
    }
    return names;
}

bool parseAssignment(const std::string& text, PropertiesOptions& options, std::string& error)
{
    const std::size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const CameraProperty* property = findCameraProperty(name);
    if (property == nullptr) {
        error = "--set: unknown property '" + name + "' (properties: " + propertyNames() + ")";
        return false;
    }
    if (equals == std::string::npos) {
        error = "--set: '" + text + "' needs a value (NAME=VALUE)";
        return false;
    }
    options.sets.push_back({property, text.substr(equals + 1)});
    return true;
}

std::optional<PropertiesOptions> parseOptions(const std::vector<std::string>& args, std::string& error)
{
    PropertiesOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            options.help = true;
        } else if ((args[i] == "--set" || args[i] == "--machine") && i + 1 >= args.size()) {
            error = "option '" + args[i] + "' needs a value";
            return std::nullopt;
        } else if (args[i] == "--set") {
            if (!parseAssignment(args[++i], options, error)) {
                return std::nullopt;
            }
        } else if (args[i] == "--machine") {
            options.machine = args[++i];
        } else {
            error = args[i].starts_with("-") ? "unknown option '" + args[i] + "'"
                                             : "unexpected argument '" + args[i] + "'";
            return std::nullopt;
        }
    }
    return options;
}

bool supportsAuto(const CameraProperty& property)
{
    return property.set == PROPSETID_VIDCAP_CAMERACONTROL ||
           (property.set == PROPSETID_VIDCAP_VIDEOPROCAMP && property.id == KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE);
}

// The value to set, checked against the published range; nothing with `error` otherwise.
std::optional<PropertyValue> valueToSet(host::StreamClassDevice& device, const Assignment& set, std::string& error)
{
    const CameraProperty& property = *set.property;
    if (set.text == "auto" && supportsAuto(property)) {
        NTSTATUS status = STATUS_SUCCESS;
        auto current = getCameraProperty(device, property, status);
        return PropertyValue{current ? current->value : 0, 1};
    }
    LONG value = 0;
    const auto [end, failure] = std::from_chars(set.text.data(), set.text.data() + set.text.size(), value);
    const auto description = device.describeProperty(property.set, property.id);
    bool inRange = failure == std::errc() && end == set.text.data() + set.text.size();
    std::string range;
    if (inRange && description && !description->steppedRanges.empty()) {
        const auto& bounds = description->steppedRanges.front().Bounds;
        inRange = value >= bounds.SignedMinimum && value <= bounds.SignedMaximum;
        range.append(" from ").append(std::to_string(bounds.SignedMinimum));
        range.append(" to ").append(std::to_string(bounds.SignedMaximum));
    }
    if (!inRange) {
        error = "--set " + std::string(property.name) + ": '" + set.text + "' is not a value" + range +
                (supportsAuto(property) ? " or 'auto'" : "");
        return std::nullopt;
    }
    return PropertyValue{value, property.record == PropertyRecord::ValueWithFlags ? 2u : 0u};
}

void printProperty(host::StreamClassDevice& device, const CameraProperty& property, std::ostream& out)
{
    out << "  " << std::left << std::setw(24) << property.name;
    NTSTATUS status = STATUS_SUCCESS;
    if (auto value = getCameraProperty(device, property, status)) {
        out << std::setw(7) << value->value
            << std::setw(8) << (value->flags == 1 ? "auto" : value->flags == 2 ? "manual" : "");
    } else {
        std::string failed = "(";
        failed.append(status == STATUS_NOT_SUPPORTED ? "live only" : statusText(status)).append(")");
        out << std::setw(15) << failed;
    }
    if (auto description = device.describeProperty(property.set, property.id)) {
        if (!description->steppedRanges.empty()) {
            const auto& bounds = description->steppedRanges.front().Bounds;
            out << "range " << bounds.SignedMinimum << ".." << bounds.SignedMaximum;
        }
        if (!description->defaults.empty()) {
            out << ", default " << description->defaults.front();
        }
    }
    out << "\n";
}

int applyAndList(const PropertiesOptions& options, std::ostream& out, std::ostream& err)
{
    MachineSession session({options.machine, host::ClockMode::Real, {}});
    for (const auto& set : options.sets) {
        std::string error;
        auto value = valueToSet(session.device(), set, error);
        if (!value) {
            err << "korval properties: " << error << "\n";
            return 2;
        }
        const NTSTATUS status = setCameraProperty(session.device(), *set.property, *value);
        if (status == STATUS_NOT_SUPPORTED) {
            err << "korval properties: the driver takes " << set.property->name
                << " only while the capture stream is open\n";
            return 1;
        }
        if (status != STATUS_SUCCESS) {
            err << "korval properties: the driver refused " << set.property->name << "=" << set.text << ": "
                << statusText(status) << "\n";
            return 1;
        }
    }
    out << "camera properties (capture stream closed: the stored settings):\n";
    for (const auto& property : cameraProperties()) {
        printProperty(session.device(), property, out);
    }
    return 0;
}

} // namespace

int runProperties(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto options = parseOptions(args, error);
    if (!options) {
        err << "korval properties: " << error << "\n" << kUsage;
        return 2;
    }
    if (options->help) {
        out << kUsage;
        return 0;
    }
    try {
        return applyAndList(*options, out, err);
    } catch (const SessionError& failure) {
        err << "korval properties: " << failure.what() << "\n";
        return 1;
    }
}

} // namespace korval::tools
