#include "tools/korval/camera_properties.h"

#include "control/DevicePropertySets.h"
#include "settings/PublishedProperties.h"

#include <charconv>
#include <vector>

namespace korval::tools {
namespace {

// The driver's property table, by the names the tool uses, in its order.
std::vector<CameraProperty> listProperties()
{
    std::vector<CameraProperty> properties;
    for (const tagPublishedProperty& entry : PublishedProperties) {
        const bool plain = *entry.pSet == PROPSETID_KORVAL_CAMERA;
        properties.push_back({entry.pszName, *entry.pSet, entry.ulId,
                              plain ? PropertyRecord::PlainValue : PropertyRecord::ValueWithFlags,
                              entry.ucValueSlot == NO_SLOT ? -1 : static_cast<int>(entry.ucValueSlot)});
    }
    return properties;
}

// VIDEOPROCAMP and CAMERACONTROL records share one layout.
static_assert(sizeof(KSPROPERTY_VIDEOPROCAMP_S) == sizeof(KSPROPERTY_CAMERACONTROL_S));

} // namespace

std::span<const CameraProperty> cameraProperties()
{
    static const std::vector<CameraProperty> properties = listProperties();
    return properties;
}

const CameraProperty* findCameraProperty(const std::string& name)
{
    for (const auto& property : cameraProperties()) {
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
    for (const tagPublishedProperty& entry : PublishedProperties) {
        if (*entry.pSet == property.set && entry.ulId == property.id) {
            return (entry.ucCapabilities & PROPERTY_CAPABLE_AUTO) != 0;
        }
    }
    return false;
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
