#include "tools/korval/serve/property_catalog.h"

#include "control/DevicePropertySets.h"
#include "tools/korval/hex_text.h"
#include "tools/korval/registry_defaults.h"

#include <charconv>
#include <cstdio>

namespace korval::tools::serve {
namespace {

constexpr ULONG kFlagsAuto = 1;
constexpr ULONG kFlagsManual = 2;
constexpr LONG kLargestSelectChoices = 6;

const char* const kEffectNames[] = {
    "none",     "negative", "black and white", "green tone", "grey",      "blue tone",
    "red tone", "relief",   "colour sketch",   "mosaic",     "streaks",   "solarise",
    "sepia",    "oil paint", "grey sketch",    "frosted glass",
};

const char* groupOf(const CameraProperty& property)
{
    if (property.set == PROPSETID_VIDCAP_VIDEOPROCAMP) {
        return "videoprocamp";
    }
    return property.set == PROPSETID_VIDCAP_CAMERACONTROL ? "cameracontrol" : "private";
}

bool named(const CameraProperty& property, const char* name)
{
    return std::string(property.name) == name;
}

bool readsAutoCapability(host::StreamClassDevice& device, const CameraProperty& property)
{
    if (property.record != PropertyRecord::ValueWithFlags) {
        return false;
    }
    auto answer = device.getProperty(
        host::PropertyRequest::make(property.set, property.id, KSPROPERTY_TYPE_GET, KSPROPERTY_VIDEOPROCAMP_S{}));
    return answer.status == STATUS_SUCCESS && (answer.as<KSPROPERTY_VIDEOPROCAMP_S>().Capabilities & kFlagsAuto);
}

nlohmann::json effectOptions()
{
    nlohmann::json options = nlohmann::json::array();
    for (std::size_t i = 0; i < std::size(kEffectNames); ++i) {
        options.push_back({{"value", i}, {"label", kEffectNames[i]}});
    }
    return options;
}

nlohmann::json steppedOptions(const PropertyLimits& limits)
{
    nlohmann::json options = nlohmann::json::array();
    for (LONG value = limits.minimum; value <= limits.maximum; value += limits.step) {
        options.push_back({{"value", value}, {"label", std::to_string(value)}});
    }
    return options;
}

void addControl(nlohmann::json& entry, host::Registry& registry, const CameraProperty& property,
                const PropertyLimits& limits)
{
    if (named(property, "effect")) {
        entry["control"] = "select";
        entry["options"] = effectOptions();
    } else if (named(property, "overlay-frame")) {
        entry["control"] = "select";
        entry["options"] = overlayFrameOptions(registry);
    } else if (limits.hasRange && limits.minimum == 0 && limits.maximum == 1) {
        entry["control"] = "checkbox";
    } else if (limits.hasRange && (limits.maximum - limits.minimum) / limits.step < kLargestSelectChoices) {
        entry["control"] = "select";
        entry["options"] = steppedOptions(limits);
    } else {
        entry["control"] = "slider";
    }
}

std::optional<LONG> parseValue(const std::string& text)
{
    LONG value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || failure != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool inRange(const PropertyLimits& limits, LONG value)
{
    return !limits.hasRange || (value >= limits.minimum && value <= limits.maximum &&
                                (value - limits.minimum) % limits.step == 0);
}

} // namespace

PropertyLimits propertyLimits(host::StreamClassDevice& device, const CameraProperty& property)
{
    PropertyLimits limits;
    if (auto description = device.describeProperty(property.set, property.id)) {
        limits.canSet = description->set;
        if (!description->steppedRanges.empty()) {
            const auto& range = description->steppedRanges.front();
            limits.hasRange = true;
            limits.minimum = range.Bounds.SignedMinimum;
            limits.maximum = range.Bounds.SignedMaximum;
            limits.step = range.SteppingDelta > 0 ? static_cast<LONG>(range.SteppingDelta) : 1;
        }
        if (!description->defaults.empty()) {
            limits.defaultValue = description->defaults.front();
        }
    }
    limits.autoCapable = readsAutoCapability(device, property);
    return limits;
}

nlohmann::json describeProperty(host::StreamClassDevice& device, host::Registry& registry,
                                const CameraProperty& property, const PropertyLimits& limits)
{
    nlohmann::json entry = {{"name", property.name},
                            {"group", groupOf(property)},
                            {"settable", limits.canSet},
                            {"auto", limits.autoCapable}};
    NTSTATUS status = STATUS_SUCCESS;
    if (auto value = getCameraProperty(device, property, status)) {
        entry["value"] = value->value;
        entry["mode"] = value->flags == kFlagsAuto ? "auto" : "manual";
    } else {
        entry["value"] = nullptr;
        entry["error"] = "the driver answered " + hexText(static_cast<std::uint32_t>(status));
    }
    if (limits.hasRange) {
        entry["min"] = limits.minimum;
        entry["max"] = limits.maximum;
        entry["step"] = limits.step;
    }
    entry["default"] = limits.defaultValue ? nlohmann::json(*limits.defaultValue) : nlohmann::json(nullptr);
    addControl(entry, registry, property, limits);
    return entry;
}

std::optional<std::string> applyProperty(host::StreamClassDevice& device, const CameraProperty& property,
                                         const PropertyLimits& limits, const std::string& valueText,
                                         const std::string& mode)
{
    const std::string name = property.name;
    if (!limits.canSet) {
        return name + " cannot be set";
    }
    if (!mode.empty() && mode != "auto" && mode != "manual") {
        return "mode '" + mode + "' is neither auto nor manual";
    }
    if (mode == "auto" && !limits.autoCapable) {
        return name + " has no automatic mode";
    }
    NTSTATUS status = STATUS_SUCCESS;
    const auto current = getCameraProperty(device, property, status);
    std::optional<LONG> value = valueText.empty() && current ? std::optional<LONG>(current->value)
                                                               : parseValue(valueText);
    if (!value) {
        return "value '" + valueText + "' is not a whole number";
    }
    if (!inRange(limits, *value)) {
        return "value " + std::to_string(*value) + " is outside " + name + "'s range " +
               std::to_string(limits.minimum) + ".." + std::to_string(limits.maximum) + " in steps of " +
               std::to_string(limits.step);
    }
    ULONG flags = 0;
    if (property.record == PropertyRecord::ValueWithFlags) {
        const bool keepAuto = mode.empty() && current && current->flags == kFlagsAuto;
        flags = mode == "auto" || keepAuto ? kFlagsAuto : kFlagsManual;
    }
    status = setCameraProperty(device, property, {*value, flags});
    if (status != STATUS_SUCCESS) {
        return "the driver refused " + name + "=" + std::to_string(*value) + " (" + hexText(static_cast<std::uint32_t>(status)) + ")";
    }
    return std::nullopt;
}

nlohmann::json overlayFrameOptions(host::Registry& registry)
{
    nlohmann::json options = nlohmann::json::array({{{"value", 0}, {"label", "none"}}});
    const std::string key = std::string(kParametersKey) + "\\Frame";
    for (const auto& valueName : registry.valueNames(key)) {
        int number = 0;
        const char* digits = valueName.c_str() + 2;
        const auto [end, failure] = std::from_chars(digits, valueName.c_str() + valueName.size(), number);
        const bool frameName = valueName.size() == 6 && (valueName[0] == 'F' || valueName[0] == 'f') &&
                               (valueName[1] == 'N' || valueName[1] == 'n') && failure == std::errc() &&
                               *end == '\0' && number >= 1 && number <= 255;
        if (frameName) {
            auto stem = registry.value(key, valueName);
            auto text = stem ? stem->asString() : std::nullopt;
            options.push_back({{"value", number}, {"label", std::to_string(number) + " " + text.value_or("")}});
        }
    }
    return options;
}

} // namespace korval::tools::serve
