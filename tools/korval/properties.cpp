// korval properties [--set NAME=VALUE ...] [--machine DIR]: the camera's
// properties as the driver answers them with the capture stream closed (from
// the registry), after applying each --set through a property request. A
// listing alone only reads the machine directory.
#include "tools/korval/camera_properties.h"
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/json_writer.h"
#include "tools/korval/machine_session.h"
#include "tools/korval/registry_defaults.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <iomanip>

namespace korval::tools {
namespace {

const char* const kPropertiesDescription =
    "Lists the camera's properties (value, auto or manual, published range and default) after applying each "
    "--set through the driver's property requests with the capture stream closed. VALUE is a number in the "
    "published range, or 'auto' for the properties with an automatic mode (white-balance, exposure). --machine DIR "
    "keeps the settings in DIR/registry.reg; without it they last for this run only. A listing without --set never "
    "writes the machine directory. Stored values the driver will not use as they are (outside the range, not a "
    "REG_DWORD) are flagged with '!'.";

struct Assignment {
    const CameraProperty* property;
    std::string text;
};

struct PropertiesOptions {
    std::vector<Assignment> sets;
    std::filesystem::path machine;
    bool wait = true;
    bool json = false;
};

struct PropertiesArguments {
    std::vector<std::string> sets;
    std::string machine;
    bool noWait = false;
    bool json = false;
};

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

std::string settingName(int index)
{
    return std::string("\"").append(parameterValueName(index)).append("\"");
}

// Why the stored value of a property will not be used as it stands, if so.
std::optional<std::string> storedValueProblem(const host::Registry& registry, const host::StreamClassDevice& device,
                                              const CameraProperty& property)
{
    if (property.registryIndex < 0) {
        return std::nullopt;
    }
    const auto stored = registry.value(kParametersKey, parameterValueName(property.registryIndex));
    if (!stored) {
        return std::nullopt;
    }
    if (!stored->asDword()) {
        return settingName(property.registryIndex) + " is not a REG_DWORD: the driver ignores it";
    }
    const long value = static_cast<std::uint16_t>(*stored->asDword());
    auto description = device.describeProperty(property.set, property.id);
    std::string range;
    if (description && !onPublishedRange(*description, value, range)) {
        return settingName(property.registryIndex) + " holds " + std::to_string(value) + ", not a value " + range;
    }
    return std::nullopt;
}

// Closed, the driver answers white balance with value 0 and keeps only its
// mode; the value it loads at the next open is in the property's own slot.
std::optional<long> storedWhiteBalance(const host::Registry& registry, const CameraProperty& property)
{
    const auto stored = registry.value(kParametersKey, parameterValueName(property.registryIndex));
    if (stored && stored->asDword()) {
        return static_cast<std::uint16_t>(*stored->asDword());
    }
    return std::nullopt;
}

void printProperty(MachineSession& session, const CameraProperty& property, std::ostream& out, int& unusable)
{
    host::StreamClassDevice& device = session.device();
    const auto problem = storedValueProblem(session.platform().registry(), device, property);
    out << (problem ? "! " : "  ") << std::left << std::setw(24) << property.name;
    NTSTATUS status = STATUS_SUCCESS;
    if (auto value = getCameraProperty(device, property, status)) {
        const auto whiteBalance = isWhiteBalance(property) ? storedWhiteBalance(session.platform().registry(), property)
                                                           : std::nullopt;
        out << std::setw(7) << (whiteBalance ? *whiteBalance : value->value)
            << std::setw(8) << (value->flags == 1 ? "auto" : value->flags == 2 ? "manual" : "");
    } else {
        out << std::setw(15) << (status == STATUS_NOT_SUPPORTED ? std::string("(live only)")
                                                        : std::string("(").append(statusName(status)).append(")"));
    }
    if (auto description = device.describeProperty(property.set, property.id)) {
        if (!description->steppedRanges.empty()) {
            const auto& stepping = description->steppedRanges.front();
            out << "range " << stepping.Bounds.SignedMinimum << ".." << stepping.Bounds.SignedMaximum;
            if (stepping.SteppingDelta > 1) {
                out << " step " << stepping.SteppingDelta;
            }
        }
        if (!description->defaults.empty()) {
            out << ", default " << description->defaults.front();
        }
    }
    if (problem) {
        out << "  [" << *problem << "]";
        ++unusable;
    }
    out << "\n";
}

void printJson(MachineSession& session, std::ostream& out, int& unusable)
{
    host::StreamClassDevice& device = session.device();
    JsonWriter json(out);
    json.beginArray();
    for (const auto& property : cameraProperties()) {
        json.beginObject();
        json.field("name", property.name);
        NTSTATUS status = STATUS_SUCCESS;
        if (auto value = getCameraProperty(device, property, status)) {
            const auto whiteBalance = isWhiteBalance(property) ? storedWhiteBalance(session.platform().registry(), property)
                                                               : std::nullopt;
            json.field("value", static_cast<long>(whiteBalance ? *whiteBalance : value->value));
            if (value->flags != 0) {
                json.field("mode", value->flags == 1 ? "auto" : "manual");
            }
        } else {
            json.field("status", statusName(status));
        }
        if (auto description = device.describeProperty(property.set, property.id)) {
            if (!description->steppedRanges.empty()) {
                const auto& stepping = description->steppedRanges.front();
                json.field("minimum", static_cast<long>(stepping.Bounds.SignedMinimum));
                json.field("maximum", static_cast<long>(stepping.Bounds.SignedMaximum));
                json.field("step", static_cast<long>(stepping.SteppingDelta));
            }
            if (!description->defaults.empty()) {
                json.field("default", static_cast<long>(description->defaults.front()));
            }
        }
        if (auto problem = storedValueProblem(session.platform().registry(), device, property)) {
            json.field("stored_problem", *problem);
            ++unusable;
        }
        json.endObject();
    }
    json.endArray();
    out << "\n";
}

// White balance's value is not stored by the driver while the stream is
// closed: the tool stores it where the driver loads it from.
void keepWhiteBalanceValue(host::Registry& registry, const CameraProperty& property, const PropertyValue& value)
{
    const std::string name = parameterValueName(property.registryIndex);
    const auto stored = registry.value(kParametersKey, name);
    const std::uint32_t high = stored && stored->asDword() ? (*stored->asDword() & 0xFFFF0000u) : 0;
    registry.setValue(kParametersKey, name,
                      host::RegistryValue::dword(high | (static_cast<std::uint32_t>(value.value) & 0xFFFF)));
}

int applySets(MachineSession& session, const PropertiesOptions& options, std::ostream& err)
{
    for (const auto& set : options.sets) {
        std::string error;
        auto value = parsePropertyValue(session.device(), *set.property, set.text, error);
        if (!value) {
            err << "korval properties: " << error << "\n";
            return kExitUsage;
        }
        const NTSTATUS status = setCameraProperty(session.device(), *set.property, *value);
        if (status == STATUS_NOT_SUPPORTED) {
            err << "korval properties: the driver takes " << set.property->name
                << " only while the capture stream is open: use 'korval capture --set " << set.property->name
                << "=" << set.text << "'\n";
            return kExitFailure;
        }
        if (status != STATUS_SUCCESS) {
            err << "korval properties: the driver refused " << set.property->name << "=" << set.text << ": "
                << statusName(status) << "\n";
            return kExitFailure;
        }
        if (isWhiteBalance(*set.property) && value->flags != 1) {
            keepWhiteBalanceValue(session.platform().registry(), *set.property, *value);
        }
    }
    return kExitOk;
}

int applyAndList(const PropertiesOptions& options, std::ostream& out, std::ostream& err)
{
    SessionOptions sessionOptions{options.machine, host::ClockMode::Real, {}};
    sessionOptions.readOnly = options.sets.empty();
    sessionOptions.wait = options.wait;
    sessionOptions.messages = &err;
    MachineSession session(sessionOptions);
    if (const int status = applySets(session, options, err); status != kExitOk) {
        return status;
    }
    int unusable = 0;
    if (options.json) {
        printJson(session, out, unusable);
    } else {
        out << "camera properties (capture stream closed: the stored settings):\n";
        for (const auto& property : cameraProperties()) {
            printProperty(session, property, out, unusable);
        }
    }
    if (unusable > 0) {
        err << "korval properties: warning: " << unusable
            << " stored value(s) marked '!' are not what the driver publishes; set them again\n";
    }
    return kExitOk;
}

} // namespace

CommandRunner defineProperties(CLI::App& app)
{
    app.description(kPropertiesDescription);
    auto given = std::make_shared<PropertiesArguments>();
    declareSetOption(app, given->sets, "set a property (repeatable)");
    declareMachineOptions(app, given->machine, given->noWait, "the machine directory holding registry.reg");
    app.add_flag("--json", given->json, "the listing as JSON");
    return [given](std::ostream& out, std::ostream& err) {
        PropertiesOptions options;
        options.machine = given->machine;
        options.wait = !given->noWait;
        options.json = given->json;
        for (const std::string& set : given->sets) {
            std::string error;
            if (!parseAssignment(set, options, error)) {
                err << "korval properties: " << error << "\n";
                return static_cast<int>(kExitUsage);
            }
        }
        return applyAndList(options, out, err);
    };
}

} // namespace korval::tools
