// The driver's own property set: its GUID, its ids and the record every one
// of its items answers with. Known to the property table below the handlers
// and to applications, which address the items by these ids.
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
