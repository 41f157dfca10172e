// The camera properties the driver publishes, by the names the tool uses, and
// their get and set through the device's property requests.
#pragma once

#include "host/streamclass/stream_class.h"

#include <optional>
#include <span>
#include <string>

namespace korval::tools {

// VIDEOPROCAMP and CAMERACONTROL items answer a value with flags (auto or
// manual); the private set's items answer one 32-bit value.
enum class PropertyRecord { ValueWithFlags, PlainValue };

struct CameraProperty {
    const char* name;
    GUID set;
    ULONG id;
    PropertyRecord record;
    int registryIndex = -1; // "A_<n>" holding the stored value (low 16 bits); -1: none
};

std::span<const CameraProperty> cameraProperties();
const CameraProperty* findCameraProperty(const std::string& name);

struct PropertyValue {
    LONG value = 0;
    ULONG flags = 0; // 1 auto, 2 manual; 0 for plain values
};

// The value, or nothing with the failing status in `status`.
std::optional<PropertyValue> getCameraProperty(host::StreamClassDevice& device, const CameraProperty& property,
                                               NTSTATUS& status);
NTSTATUS setCameraProperty(host::StreamClassDevice& device, const CameraProperty& property, PropertyValue value);

// Properties with an automatic mode (white-balance, exposure); white balance itself.
bool supportsAuto(const CameraProperty& property);
bool isWhiteBalance(const CameraProperty& property);
// Whether a value is one the driver publishes (inside the range, on its step);
// `range` describes the range for a message.
bool onPublishedRange(const host::PropertyDescription& description, long value, std::string& range);
// A value given as text ("auto" or a number), checked against the published
// range; nothing with `error` naming the property and the range otherwise.
std::optional<PropertyValue> parsePropertyValue(host::StreamClassDevice& device, const CameraProperty& property,
                                               const std::string& text, std::string& error);

} // namespace korval::tools
