#include "tools/korval/camera_properties.h"

#include "driver/DevicePropertySets.h"

namespace korval::tools {
namespace {

constexpr PropertyRecord kFlagged = PropertyRecord::ValueWithFlags;
constexpr PropertyRecord kPlain = PropertyRecord::PlainValue;

// Private ids 3, 5 and 6 are published but not supported by the driver: left out.
const CameraProperty kProperties[] = {
    {"brightness", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, kFlagged},
    {"contrast", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_CONTRAST, kFlagged},
    {"hue", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_HUE, kFlagged},
    {"saturation", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_SATURATION, kFlagged},
    {"sharpness", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_SHARPNESS, kFlagged},
    {"gamma", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_GAMMA, kFlagged},
    {"colour-enable", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_COLORENABLE, kFlagged},
    {"white-balance", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, kFlagged},
    {"backlight-compensation", PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION,
     kFlagged},
    {"exposure", PROPSETID_VIDCAP_CAMERACONTROL, KSPROPERTY_CAMERACONTROL_EXPOSURE, kFlagged},
    {"step-boost", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_STEP_BOOST, kPlain},
    {"mains-frequency", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_MAINS_FREQUENCY, kPlain},
    {"fractional-exposure", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE, kPlain},
    {"mirror", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_MIRROR, kPlain},
    {"flip", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_FLIP, kPlain},
    {"long-exposure-limits", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, kPlain},
    {"option-10", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_OPTION_10, kPlain},
    {"full-bandwidth", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_FULL_BANDWIDTH, kPlain},
    {"alternate-setting", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_ALTERNATE_SETTING, kPlain},
    {"option-13", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_OPTION_13, kPlain},
    {"gain-1", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_1, kPlain},
    {"gain-2", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_2, kPlain},
    {"gain-3", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_3, kPlain},
    {"effect", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_EFFECT, kPlain},
    {"overlay-frame", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_OVERLAY_FRAME, kPlain},
    {"frame-rate", PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_FRAME_RATE, kPlain},
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

} // namespace korval::tools
