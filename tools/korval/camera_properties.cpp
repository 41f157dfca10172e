#include "tools/korval/camera_properties.h"

#include "control/DevicePropertySets.h"

#include <charconv>

namespace korval::tools {
namespace {

constexpr PropertyRecord kFlagged = PropertyRecord::ValueWithFlags;
constexpr PropertyRecord kPlain = PropertyRecord::PlainValue;

// Private ids 3, 5 and 6 are published but not supported by the driver: left out.
const CameraProperty kProperties[] = {
    {"brightness", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, kFlagged, 77},
    {"contrast", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_CONTRAST, kFlagged, 79},
    {"hue", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_HUE, kFlagged, 81},
    {"saturation", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_SATURATION, kFlagged, 83},
    {"sharpness", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_SHARPNESS, kFlagged, 85},
    {"gamma", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_GAMMA, kFlagged, 87},
    {"colour-enable", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_COLORENABLE, kFlagged, 89},
    {"white-balance", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, kFlagged, 127},
    {"backlight-compensation", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION,
     kFlagged, 115},
    {"exposure", PROPSETID_VIDCAP_CAMERACONTROL, KSPROPERTY_CAMERACONTROL_EXPOSURE, kFlagged, 97},
    {"step-boost", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_STEP_BOOST, kPlain, -1},
    {"mains-frequency", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_MAINS_FREQUENCY, kPlain, 109},
    {"fractional-exposure", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE, kPlain, 107},
    {"mirror", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_MIRROR, kPlain, 99},
    {"flip", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_FLIP, kPlain, 101},
    {"long-exposure-limits", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, kPlain, 103},
    {"option-10", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_OPTION_10, kPlain, 105},
    {"full-bandwidth", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_FULL_BANDWIDTH, kPlain, 111},
    {"alternate-setting", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_ALTERNATE_SETTING, kPlain, 113},
    {"option-13", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_OPTION_13, kPlain, 117},
    {"gain-1", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_1, kPlain, 119},
    {"gain-2", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_2, kPlain, 121},
    {"gain-3", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_3, kPlain, 123},
    {"effect", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_EFFECT, kPlain, 133},
    {"overlay-frame", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_OVERLAY_FRAME, kPlain, 131},
    {"frame-rate", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_FRAME_RATE, kPlain, 135},
};

// VIDEOPROCAMP and CAMERACONTROL records share one layout.
static_assert(sizeof(KSPROPERTY_VIDEOPROCAMP_S) == sizeof(KSPROPERTY_CAMERACONTROL_S));

} // namespace

std::span<const CameraProperty> cameraProperties()
{
    return kProperties;
}

const CameraProperty* findCameraProperty(const std::string& name)
{
    for (const auto& property : kProperties) {
        if (name == property.name) {
            return &property;
        }
    }
    return nullptr;
}

std::optional<PropertyValue> getCameraProperty(host::StreamClassDevice& device, const CameraProperty& property,
                                               NTSTATUS& status)
{
    host::PropertyResult result;
    if (property.record == PropertyRecord::ValueWithFlags) {
        result = device.getProperty(host::PropertyRequest::make(property.set, property.id, KSPROPERTY_TYPE_GET,
                                                                KSPROPERTY_VIDEOPROCAMP_S{}));
    } else {
        result = device.getProperty(
            host::PropertyRequest::make(property.set, property.id, KSPROPERTY_TYPE_GET, tagKorvalProperty{}));
    }
    status = result.status;
    if (status != STATUS_SUCCESS) {
        return std::nullopt;
    }
    if (property.record == PropertyRecord::ValueWithFlags) {
        const auto record = result.as<KSPROPERTY_VIDEOPROCAMP_S>();
        return PropertyValue{record.Value, record.Flags};
    }
    return PropertyValue{static_cast<LONG>(result.as<tagKorvalProperty>().ulValue), 0};
}

NTSTATUS setCameraProperty(host::StreamClassDevice& device, const CameraProperty& property, PropertyValue value)
{
    if (property.record == PropertyRecord::ValueWithFlags) {
        KSPROPERTY_VIDEOPROCAMP_S record{};
        record.Value = value.value;
        record.Flags = value.flags;
        return device.setProperty(host::PropertyRequest::make(property.set, property.id, KSPROPERTY_TYPE_SET, record))
            .status;
    }
    tagKorvalProperty record{};
    record.ulValue = static_cast<ULONG>(value.value);
    return device.setProperty(host::PropertyRequest::make(property.set, property.id, KSPROPERTY_TYPE_SET, record))
        .status;
}

bool supportsAuto(const CameraProperty& property)
{
    return property.set == PROPSETID_VIDCAP_CAMERACONTROL ||
           (property.set == PROPSETID_VIDCAP_VIDEOPROCAMP && property.id == KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE);
}

bool isWhiteBalance(const CameraProperty& property)
{
    return property.set == PROPSETID_VIDCAP_VIDEOPROCAMP && property.id == KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE;
}

// Whether a value is one the driver publishes: inside the range and on its step.
bool onPublishedRange(const host::PropertyDescription& description, long value, std::string& range)
{
    if (description.steppedRanges.empty()) {
        return true;
    }
    const auto& stepping = description.steppedRanges.front();
    const long low = stepping.Bounds.SignedMinimum;
    const long high = stepping.Bounds.SignedMaximum;
    const long step = stepping.SteppingDelta > 0 ? static_cast<long>(stepping.SteppingDelta) : 1;
    range = "from " + std::to_string(low) + " to " + std::to_string(high);
    if (step > 1) {
        range += " in steps of " + std::to_string(step);
    }
    return value >= low && value <= high && (value - low) % step == 0;
}

std::optional<PropertyValue> parsePropertyValue(host::StreamClassDevice& device, const CameraProperty& property,
                                               const std::string& text, std::string& error)
{
    if (text == "auto" && supportsAuto(property)) {
        NTSTATUS status = STATUS_SUCCESS;
        auto current = getCameraProperty(device, property, status);
        return PropertyValue{current ? current->value : 0, 1};
    }
    LONG value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    bool accepted = failure == std::errc() && end == text.data() + text.size();
    std::string range;
    if (auto description = device.describeProperty(property.set, property.id)) {
        accepted = onPublishedRange(*description, value, range) && accepted;
    }
    // The effect item publishes a byte, but only the effects there are are taken.
    if (property.set == PROPSETID_KORVAL_CAMERA && property.id == KSPROPERTY_KORVAL_EFFECT) {
        range = "from 0 to ";
        range += std::to_string(KORVAL_LAST_EFFECT);
        accepted = accepted && value >= 0 && value <= static_cast<LONG>(KORVAL_LAST_EFFECT);
    }
    if (!accepted) {
        error = "--set " + std::string(property.name) + ": '" + text + "' is not a value" +
                (range.empty() ? "" : " " + range) + (supportsAuto(property) ? " or 'auto'" : "");
        return std::nullopt;
    }
    return PropertyValue{value, property.record == PropertyRecord::ValueWithFlags ? 2u : 0u};
}

} // namespace korval::tools
