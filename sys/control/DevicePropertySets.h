// The property and event sets the adapter publishes in its stream header: the
// platform's video processing amplifier, video control and camera control
// sets, the driver's private set, and the still-image trigger event. Static
// tables only; the stream class hands requests for them to the device
// property handlers as SRB_GET_DEVICE_PROPERTY / SRB_SET_DEVICE_PROPERTY.
#pragma once

#include "platform/Platform.h"

// The driver's private property set {0E2B2039-6FF8-46F3-BE98-FC98584112D3}.
inline constexpr GUID PROPSETID_KORVAL_CAMERA =
    {0x0E2B2039, 0x6FF8, 0x46F3, {0xBE, 0x98, 0xFC, 0x98, 0x58, 0x41, 0x12, 0xD3}};

// Property ids of the private set.
enum KSPROPERTY_KORVAL_CAMERA {
    KSPROPERTY_KORVAL_STEP_BOOST = 1,
    KSPROPERTY_KORVAL_MAINS_FREQUENCY = 2,
    KSPROPERTY_KORVAL_UNSUPPORTED_3 = 3,
    KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE = 4,
    KSPROPERTY_KORVAL_UNSUPPORTED_5 = 5,
    KSPROPERTY_KORVAL_UNSUPPORTED_6 = 6,
    KSPROPERTY_KORVAL_MIRROR = 7,
    KSPROPERTY_KORVAL_FLIP = 8,
    KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS = 9,
    KSPROPERTY_KORVAL_OPTION_10 = 10,
    KSPROPERTY_KORVAL_FULL_BANDWIDTH = 11,
    KSPROPERTY_KORVAL_ALTERNATE_SETTING = 12,
    KSPROPERTY_KORVAL_OPTION_13 = 13,
    KSPROPERTY_KORVAL_GAIN_1 = 14,
    KSPROPERTY_KORVAL_GAIN_2 = 15,
    KSPROPERTY_KORVAL_GAIN_3 = 16,
    KSPROPERTY_KORVAL_EFFECT = 20,
    KSPROPERTY_KORVAL_OVERLAY_FRAME = 21,
    KSPROPERTY_KORVAL_FRAME_RATE = 22,
};

// The last effect number there is (1..15; 0 is none). The item publishes a
// byte range, but only these numbers are taken.
constexpr ULONG KORVAL_LAST_EFFECT = 15;

// The property data of every private item: the request's KSPROPERTY and one
// 32-bit value.
struct tagKorvalProperty {
    KSPROPERTY Property;
    ULONG ulValue;
};
static_assert(sizeof(tagKorvalProperty) == 32);

// A published property item. The class never calls a minidriver's item
// handlers: a direction is only marked supported, through the BOOLEAN half of
// its handler union, so the tables are constant data (no handler pointer made
// from the value TRUE, which would need code to run before the driver does).
constexpr KSPROPERTY_ITEM PublishedItem(ULONG PropertyId, bool GetSupported, ULONG MinProperty, ULONG MinData,
                                        bool SetSupported, const KSPROPERTY_VALUES* Values, ULONG SerializedSize)
{
    KSPROPERTY_ITEM item = {};
    item.PropertyId = PropertyId;
    if (GetSupported) {
        item.GetSupported = TRUE;
    }
    item.MinProperty = MinProperty;
    item.MinData = MinData;
    if (SetSupported) {
        item.SetSupported = TRUE;
    }
    item.Values = Values;
    item.SerializedSize = SerializedSize;
    return item;
}

constexpr ULONG DEVICE_PROPERTY_SET_COUNT = 4;
constexpr ULONG DEVICE_EVENT_SET_COUNT = 1;

// In this order: VIDEOPROCAMP (9 items), VIDEOCONTROL (4), CAMERACONTROL (1),
// the private set (19). The index is the PropertySetID of a property SRB.
extern const KSPROPERTY_SET DevicePropertySets[DEVICE_PROPERTY_SET_COUNT];

// KSEVENTSETID_VIDCAPTOSTI with its one event, KSEVENT_VIDCAPTOSTI_EXT_TRIGGER.
extern const KSEVENT_SET DeviceEventSets[DEVICE_EVENT_SET_COUNT];
