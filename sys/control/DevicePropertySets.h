// The property and event sets the adapter publishes in its stream header: the
// platform's video processing amplifier, video control and camera control
// sets, the driver's private set, and the still-image trigger event. Static
// tables only; the stream class hands requests for them to the device
// property handlers as SRB_GET_DEVICE_PROPERTY / SRB_SET_DEVICE_PROPERTY.
#pragma once

#include "platform/Platform.h"
#include "settings/PrivatePropertySet.h"


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
