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

} // namespace korval::tools
