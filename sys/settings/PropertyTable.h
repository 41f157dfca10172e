// The device property table: every property the handlers answer, with its
// set and id, the registry values that hold it ("A_<slot>"), its published
// range, step and default, what a fresh installation stores, the
// DeviceContext fields of its current value and flags, and its mapping into
// the processing parameters. The handlers, the registry load and store, the
// stream's open path, the published item tables, the installer and the tool
// all read this one table, so a property is added here and nowhere else.
#pragma once

#include "settings/PrivatePropertySet.h"
#include "settings/PropertyParameters.h"

constexpr UCHAR NO_SLOT = 0;

// Traits of an entry.
constexpr UCHAR PROPERTY_SET_LIVE_ONLY = 0x01;     // a set while the stream is closed is refused
constexpr UCHAR PROPERTY_VALUE_LOAD_ONLY = 0x02;   // the value slot is loaded at open, never stored or answered closed
constexpr UCHAR PROPERTY_MAPPED_UNTUNED = 0x04;    // mapped at open even when the stored tuning is not valid

// Answer capabilities of the value-with-flags records.
constexpr UCHAR PROPERTY_CAPABLE_AUTO = 1;
constexpr UCHAR PROPERTY_CAPABLE_MANUAL = 2;

struct tagPropertyEntry {
    const char* pszName;   // the name applications and the tool use
    const GUID* pSet;
    ULONG ulId;
    UCHAR ucValueSlot;     // "A_<n>" of the value (low 16 bits), NO_SLOT: none
    UCHAR ucFlagsSlot;     // "A_<n>" of the flags, NO_SLOT: none
    LONG lMinimum;         // the published range and default
    LONG lMaximum;
    ULONG ulStep;
    LONG lDefault;
    USHORT usInstalledValue; // what an installation stores in the slots
    USHORT usInstalledFlags;
    ULONG DeviceContext::*pValue;
    ULONG DeviceContext::*pFlags;  // nullptr: the record has no flags
    ULONG DeviceContext::*pManual; // the user's last manual copy, or nullptr
    UCHAR ucInitialFlags;          // the flags a new device starts with
    UCHAR ucCapabilities;
    UCHAR ucTraits;
    PIMAGE_MAPPING pImageMapping;  // what the value changes in the stages, or nullptr
    PAE_MAPPING pAeMapping;
};

#define PROPERTY_PROCAMP(Name, Id, Slot, Minimum, Maximum, Default, Installed, Field, InitialFlags, Mapping)  \
    {Name, &PROPSETID_VIDCAP_VIDEOPROCAMP, Id, Slot, NO_SLOT, Minimum, Maximum, 1, Default, Installed, 0,     \
     &DeviceContext::Field, &DeviceContext::Field##Flags, nullptr, InitialFlags, PROPERTY_CAPABLE_MANUAL, 0,   \
     Mapping, nullptr}
#define PROPERTY_PRIVATE(Name, Id, Slot, Minimum, Maximum, Step, Default, Installed, Field, Traits, AeMapping) \
    {Name, &PROPSETID_KORVAL_CAMERA, Id, Slot, NO_SLOT, Minimum, Maximum, Step, Default, Installed, 0,         \
     &DeviceContext::Field, nullptr, nullptr, 0, 0, Traits, nullptr, AeMapping}
#define PROPERTY_PICTURE(Name, Id, Slot, Default, Installed, Field, Manual, ImageMapping)                      \
    {Name, &PROPSETID_KORVAL_CAMERA, Id, Slot, NO_SLOT, 0, 1, 1, Default, Installed, 0, &DeviceContext::Field,  \
     nullptr, Manual, 0, 0, 0, ImageMapping, nullptr}

// In the order the tool lists them.
inline constexpr tagPropertyEntry PropertyTable[] = {
    PROPERTY_PROCAMP("brightness", KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 77, 0, 510, 255, 255, CurBrightness,
                     PROPERTY_FLAGS_MANUAL, MapBrightness),
    // The black point stretches the picture after auto exposure has metered
    // it: the exposure target moves with it.
    {"contrast", &PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_CONTRAST, 79, NO_SLOT, 0, 255, 1, 0, 5, 0,
     &DeviceContext::CurContrast, &DeviceContext::CurContrastFlags, nullptr, PROPERTY_FLAGS_MANUAL,
     PROPERTY_CAPABLE_MANUAL, 0,
     MapContrast, MapAeTarget},
    PROPERTY_PROCAMP("hue", KSPROPERTY_VIDEOPROCAMP_HUE, 81, 0, 360, 0, 0, CurHue, PROPERTY_FLAGS_MANUAL, MapHue),
    PROPERTY_PROCAMP("saturation", KSPROPERTY_VIDEOPROCAMP_SATURATION, 83, 0, 200, 160, 160, CurSaturation, 0,
                     MapSaturation),
    PROPERTY_PROCAMP("sharpness", KSPROPERTY_VIDEOPROCAMP_SHARPNESS, 85, 0, 16, 4, 6, CurSharpness,
                     PROPERTY_FLAGS_MANUAL, MapSharpness),
    PROPERTY_PROCAMP("gamma", KSPROPERTY_VIDEOPROCAMP_GAMMA, 87, 0, 150, 70, 70, CurGamma, PROPERTY_FLAGS_MANUAL,
                     MapGamma),
    PROPERTY_PROCAMP("colour-enable", KSPROPERTY_VIDEOPROCAMP_COLORENABLE, 89, 0, 1, 1, 1, CurColorEnable,
                     PROPERTY_FLAGS_MANUAL, MapSaturation),
    // Closed, only the mode is kept; the value is loaded from its own slot.
    {"white-balance", &PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 127, 91, 0, 10000, 1, 0,
     0, 1, &DeviceContext::CurWhiteBalance, &DeviceContext::CurWhiteBalanceFlags, nullptr, PROPERTY_FLAGS_MANUAL,
     PROPERTY_CAPABLE_AUTO,
     PROPERTY_VALUE_LOAD_ONLY, MapWhiteBalance, nullptr},
    {"backlight-compensation", &PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION, 115,
     93, 0, 200, 1, 0, 0, 0, &DeviceContext::CurBacklight, &DeviceContext::CurBacklightFlags, nullptr,
     PROPERTY_FLAGS_MANUAL, PROPERTY_CAPABLE_MANUAL, PROPERTY_MAPPED_UNTUNED, MapMeteringWindow, nullptr},
    {"exposure", &PROPSETID_VIDCAP_CAMERACONTROL, KSPROPERTY_CAMERACONTROL_EXPOSURE, 97, 95, 0, 255, 1, 100, 100, 1,
     &DeviceContext::CurExposure, &DeviceContext::CurExposureFlags, nullptr, 0,
     PROPERTY_CAPABLE_AUTO | PROPERTY_CAPABLE_MANUAL, 0, nullptr, MapExposure},
    PROPERTY_PRIVATE("step-boost", KSPROPERTY_KORVAL_STEP_BOOST, NO_SLOT, 0, 255, 1, 100, 0, CurStepBoost, 0,
                     MapStepBoost),
    PROPERTY_PRIVATE("mains-frequency", KSPROPERTY_KORVAL_MAINS_FREQUENCY, 109, 50, 60, 10, 60, 60, CurMainsFrequency,
                     0, MapMainsFrequency),
    PROPERTY_PRIVATE("fractional-exposure", KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE, 107, 0, 1, 1, 0, 0,
                     CurFractionalExposure, 0, MapFractionalExposure),
    PROPERTY_PICTURE("mirror", KSPROPERTY_KORVAL_MIRROR, 99, 1, 0, CurMirror, nullptr, MapMirror),
    PROPERTY_PICTURE("flip", KSPROPERTY_KORVAL_FLIP, 101, 1, 1, CurFlip, nullptr, MapFlip),
    PROPERTY_PRIVATE("long-exposure-limits", KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, 103, 0, 1, 1, 0, 0,
                     CurLongExposureLimits, 0, MapLongExposureLimits),
    PROPERTY_PRIVATE("option-10", KSPROPERTY_KORVAL_OPTION_10, 105, 0, 9, 1, 0, 0, CurOption10, 0, nullptr),
    // 1 makes the next open choose alternate setting 8; otherwise it starts
    // from the alternate setting below (8: the top of the bandwidth search).
    PROPERTY_PRIVATE("full-bandwidth", KSPROPERTY_KORVAL_FULL_BANDWIDTH, 111, 0, 1, 1, 0, 0, CurFullBandwidth, 0,
                     nullptr),
    PROPERTY_PRIVATE("alternate-setting", KSPROPERTY_KORVAL_ALTERNATE_SETTING, 113, 0, 8, 1, 0, 8,
                     CurAlternateSetting, 0, nullptr),
    PROPERTY_PRIVATE("option-13", KSPROPERTY_KORVAL_OPTION_13, 117, 0, 2, 1, 0, 0, CurOption13, 0, nullptr),
    // The manual colour gains (R, G, B) move the brightness word.
    {"gain-1", &PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_1, 119, NO_SLOT, 64, 255, 1, 128, 128, 0,
     &DeviceContext::CurGain1, nullptr, &DeviceContext::ManualGain1, 0, 0, 0, MapBrightness, nullptr},
    {"gain-2", &PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_2, 121, NO_SLOT, 64, 255, 1, 128, 128, 0,
     &DeviceContext::CurGain2, nullptr, &DeviceContext::ManualGain2, 0, 0, 0, MapBrightness, nullptr},
    {"gain-3", &PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_3, 123, NO_SLOT, 64, 255, 1, 128, 128, 0,
     &DeviceContext::CurGain3, nullptr, &DeviceContext::ManualGain3, 0, 0, 0, MapBrightness, nullptr},
    // Read by the frame pipeline for each frame.
    PROPERTY_PRIVATE("effect", KSPROPERTY_KORVAL_EFFECT, 133, 0, 255, 1, 0, 0, CurEffect, PROPERTY_SET_LIVE_ONLY,
                     nullptr),
    PROPERTY_PRIVATE("overlay-frame", KSPROPERTY_KORVAL_OVERLAY_FRAME, 131, 0, 255, 1, 0, 0, CurOverlayFrame,
                     PROPERTY_SET_LIVE_ONLY, nullptr),
    // 30 frames per second is the fastest timing row.
    PROPERTY_PRIVATE("frame-rate", KSPROPERTY_KORVAL_FRAME_RATE, 135, 0, 255, 1, 0, 30, CurFrameRate,
                     PROPERTY_SET_LIVE_ONLY | PROPERTY_MAPPED_UNTUNED, MapFrameRate),
};

#undef PROPERTY_PROCAMP
#undef PROPERTY_PRIVATE
#undef PROPERTY_PICTURE

constexpr ULONG PROPERTY_COUNT = sizeof(PropertyTable) / sizeof(PropertyTable[0]);

// The entry of one published item, for tables built from this one at compile time.
constexpr const tagPropertyEntry& TableProperty(const GUID* Set, ULONG Id)
{
    ULONG index = 0;
    while (index < PROPERTY_COUNT && !(PropertyTable[index].pSet == Set && PropertyTable[index].ulId == Id)) {
        ++index;
    }
    return PropertyTable[index]; // past the end does not compile
}

// The entry a request names, or nullptr.
const tagPropertyEntry* FindProperty(const GUID& Set, ULONG Id);

// The current-value field a user-setting slot loads into and is stored from
// (every value and flags slot but a load-only value), or nullptr.
ULONG DeviceContext::*StoredSettingField(ULONG Slot);
