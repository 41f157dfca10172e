// The camera's properties as the page shows them: each one's value, mode,
// published range, step and default, asked of the driver through its property
// requests and tables, and a change checked against that range before the
// set request carries it to the driver.
#pragma once

#include "host/kernel/registry.h"
#include "tools/korval/camera_properties.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace korval::tools::serve {

struct PropertyLimits {
    bool canSet = false;
    bool hasRange = false;
    LONG minimum = 0;
    LONG maximum = 0;
    LONG step = 1;
    std::optional<LONG> defaultValue;
    bool autoCapable = false; // the get answers the auto capability
};

// What the driver publishes does not change while it runs: asked once. (Each
// property request waits for the frame the driver is working on.)
PropertyLimits propertyLimits(host::StreamClassDevice& device, const CameraProperty& property);

// One property for the page: name, value, mode, limits and the control to show.
nlohmann::json describeProperty(host::StreamClassDevice& device, host::Registry& registry,
                                const CameraProperty& property, const PropertyLimits& limits);

// The value (text from the request, empty to keep the current one) and mode
// ("auto", "manual" or empty to keep the current one) checked and set; an
// error for the user otherwise.
std::optional<std::string> applyProperty(host::StreamClassDevice& device, const CameraProperty& property,
                                         const PropertyLimits& limits, const std::string& valueText,
                                         const std::string& mode);

// Overlay frames the machine's registry names (value "FNnnnn" under
// Parameters\Frame), as {value, label} options after "none".
nlohmann::json overlayFrameOptions(host::Registry& registry);

} // namespace korval::tools::serve
