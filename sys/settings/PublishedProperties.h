// The device properties as an application may know them: each one's name,
// set and id, the registry values that hold it ("A_<slot>"), its published
// range, step and default, and what a fresh installation stores. One list,
// KORVAL_PROPERTIES, holds every property once; the driver's table
// (PropertyTable.h) takes all its columns, DeviceContext fields and mappings
// included, while this published view takes only the columns above, so the
// tool and the installer read the properties without the driver's inside.
#pragma once

#include "settings/PrivatePropertySet.h"

constexpr UCHAR NO_SLOT = 0;

// Traits of an entry.
constexpr UCHAR PROPERTY_SET_LIVE_ONLY = 0x01;     // a set while the stream is closed is refused
constexpr UCHAR PROPERTY_VALUE_LOAD_ONLY = 0x02;   // the value slot is loaded at open, never stored or answered closed
constexpr UCHAR PROPERTY_MAPPED_UNTUNED = 0x04;    // mapped at open even when the stored tuning is not valid

// Answer capabilities of the value-with-flags records.
constexpr UCHAR PROPERTY_CAPABLE_AUTO = 1;
constexpr UCHAR PROPERTY_CAPABLE_MANUAL = 2;

// Columns of a KORVAL_PROPERTIES entry, in order: name, set, id, value slot,
// flags slot, minimum, maximum, step, default, installed value, installed
// flags, DeviceContext value, flags and manual-copy fields, initial flags,
// capabilities, traits, image mapping, AE mapping.
#define PROPERTY_PROCAMP(P, Name, Id, Slot, Minimum, Maximum, Default, Installed, Field, InitialFlags, Mapping)       \
    P(Name, &PROPSETID_VIDCAP_VIDEOPROCAMP, Id, Slot, NO_SLOT, Minimum, Maximum, 1, Default, Installed, 0,            \
     &DeviceContext::Field, &DeviceContext::Field##Flags, nullptr, InitialFlags, PROPERTY_CAPABLE_MANUAL, 0,          \
     Mapping, nullptr)
#define PROPERTY_PRIVATE(P, Name, Id, Slot, Minimum, Maximum, Step, Default, Installed, Field, Traits, AeMapping)     \
    P(Name, &PROPSETID_KORVAL_CAMERA, Id, Slot, NO_SLOT, Minimum, Maximum, Step, Default, Installed, 0,               \
     &DeviceContext::Field, nullptr, nullptr, 0, 0, Traits, nullptr, AeMapping)
#define PROPERTY_PICTURE(P, Name, Id, Slot, Default, Installed, Field, Manual, ImageMapping)                          \
    P(Name, &PROPSETID_KORVAL_CAMERA, Id, Slot, NO_SLOT, 0, 1, 1, Default, Installed, 0, &DeviceContext::Field,       \
     nullptr, Manual, 0, 0, 0, ImageMapping, nullptr)

#define KORVAL_PROPERTIES(P)                                                                                          \
    PROPERTY_PROCAMP(P, "brightness", KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 77, 0, 510, 255, 255, CurBrightness,        \
                     PROPERTY_FLAGS_MANUAL, MapBrightness)                                                            \
    /* The black point stretches the picture after auto exposure has metered */                                       \
    /* it: the exposure target moves with it. */                                                                      \
    P("contrast", &PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_CONTRAST, 79, NO_SLOT, 0, 255, 1, 0, 5, 0,  \
     &DeviceContext::CurContrast, &DeviceContext::CurContrastFlags, nullptr, PROPERTY_FLAGS_MANUAL,                   \
     PROPERTY_CAPABLE_MANUAL, 0,                                                                                      \
     MapContrast, MapAeTarget)                                                                                        \
    PROPERTY_PROCAMP(P, "hue", KSPROPERTY_VIDEOPROCAMP_HUE, 81, 0, 360, 0, 0, CurHue, PROPERTY_FLAGS_MANUAL, MapHue)  \
    PROPERTY_PROCAMP(P, "saturation", KSPROPERTY_VIDEOPROCAMP_SATURATION, 83, 0, 200, 160, 160, CurSaturation, 0,     \
                     MapSaturation)                                                                                   \
    PROPERTY_PROCAMP(P, "sharpness", KSPROPERTY_VIDEOPROCAMP_SHARPNESS, 85, 0, 16, 4, 6, CurSharpness,                \
                     PROPERTY_FLAGS_MANUAL, MapSharpness)                                                             \
    PROPERTY_PROCAMP(P, "gamma", KSPROPERTY_VIDEOPROCAMP_GAMMA, 87, 0, 150, 70, 70, CurGamma, PROPERTY_FLAGS_MANUAL,  \
                     MapGamma)                                                                                        \
    PROPERTY_PROCAMP(P, "colour-enable", KSPROPERTY_VIDEOPROCAMP_COLORENABLE, 89, 0, 1, 1, 1, CurColorEnable,         \
                     PROPERTY_FLAGS_MANUAL, MapSaturation)                                                            \
    /* Closed, only the mode is kept; the value is loaded from its own slot. */                                       \
    P("white-balance", &PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 127, 91, 0, 10000, 1, 0, \
     0, 1, &DeviceContext::CurWhiteBalance, &DeviceContext::CurWhiteBalanceFlags, nullptr, PROPERTY_FLAGS_MANUAL,     \
     PROPERTY_CAPABLE_AUTO,                                                                                           \
     PROPERTY_VALUE_LOAD_ONLY, MapWhiteBalance, nullptr)                                                              \
    P("backlight-compensation", &PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_BACKLIGHT_COMPENSATION, 115,  \
     93, 0, 200, 1, 0, 0, 0, &DeviceContext::CurBacklight, &DeviceContext::CurBacklightFlags, nullptr,                \
     PROPERTY_FLAGS_MANUAL, PROPERTY_CAPABLE_MANUAL, PROPERTY_MAPPED_UNTUNED, MapMeteringWindow, nullptr)             \
    P("exposure", &PROPSETID_VIDCAP_CAMERACONTROL, KSPROPERTY_CAMERACONTROL_EXPOSURE, 97, 95, 0, 255, 1, 100, 100, 1, \
     &DeviceContext::CurExposure, &DeviceContext::CurExposureFlags, nullptr, 0,                                       \
     PROPERTY_CAPABLE_AUTO | PROPERTY_CAPABLE_MANUAL, 0, nullptr, MapExposure)                                        \
    PROPERTY_PRIVATE(P, "step-boost", KSPROPERTY_KORVAL_STEP_BOOST, NO_SLOT, 0, 255, 1, 100, 0, CurStepBoost, 0,      \
                     MapStepBoost)                                                                                    \
    PROPERTY_PRIVATE(P, "mains-frequency", KSPROPERTY_KORVAL_MAINS_FREQUENCY, 109, 50, 60, 10, 60, 60, CurMainsFrequency, \
                     0, MapMainsFrequency)                                                                            \
    PROPERTY_PRIVATE(P, "fractional-exposure", KSPROPERTY_KORVAL_FRACTIONAL_EXPOSURE, 107, 0, 1, 1, 0, 0,             \
                     CurFractionalExposure, 0, MapFractionalExposure)                                                 \
    PROPERTY_PICTURE(P, "mirror", KSPROPERTY_KORVAL_MIRROR, 99, 1, 0, CurMirror, nullptr, MapMirror)                  \
    PROPERTY_PICTURE(P, "flip", KSPROPERTY_KORVAL_FLIP, 101, 1, 1, CurFlip, nullptr, MapFlip)                         \
    PROPERTY_PRIVATE(P, "long-exposure-limits", KSPROPERTY_KORVAL_LONG_EXPOSURE_LIMITS, 103, 0, 1, 1, 0, 0,           \
                     CurLongExposureLimits, 0, MapLongExposureLimits)                                                 \
    PROPERTY_PRIVATE(P, "option-10", KSPROPERTY_KORVAL_OPTION_10, 105, 0, 9, 1, 0, 0, CurOption10, 0, nullptr)        \
    /* 1 makes the next open choose alternate setting 8; otherwise it starts */                                       \
    /* from the alternate setting below (8: the top of the bandwidth search). */                                      \
    PROPERTY_PRIVATE(P, "full-bandwidth", KSPROPERTY_KORVAL_FULL_BANDWIDTH, 111, 0, 1, 1, 0, 0, CurFullBandwidth, 0,  \
                     nullptr)                                                                                         \
    PROPERTY_PRIVATE(P, "alternate-setting", KSPROPERTY_KORVAL_ALTERNATE_SETTING, 113, 0, 8, 1, 0, 8,                 \
                     CurAlternateSetting, 0, nullptr)                                                                 \
    PROPERTY_PRIVATE(P, "option-13", KSPROPERTY_KORVAL_OPTION_13, 117, 0, 2, 1, 0, 0, CurOption13, 0, nullptr)        \
    /* The manual colour gains (R, G, B) move the brightness word. */                                                 \
    P("gain-1", &PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_1, 119, NO_SLOT, 64, 255, 1, 128, 128, 0,            \
     &DeviceContext::CurGain1, nullptr, &DeviceContext::ManualGain1, 0, 0, 0, MapBrightness, nullptr)                 \
    P("gain-2", &PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_2, 121, NO_SLOT, 64, 255, 1, 128, 128, 0,            \
     &DeviceContext::CurGain2, nullptr, &DeviceContext::ManualGain2, 0, 0, 0, MapBrightness, nullptr)                 \
    P("gain-3", &PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_GAIN_3, 123, NO_SLOT, 64, 255, 1, 128, 128, 0,            \
     &DeviceContext::CurGain3, nullptr, &DeviceContext::ManualGain3, 0, 0, 0, MapBrightness, nullptr)                 \
    /* Read by the frame pipeline for each frame. */                                                                  \
    PROPERTY_PRIVATE(P, "effect", KSPROPERTY_KORVAL_EFFECT, 133, 0, 255, 1, 0, 0, CurEffect, PROPERTY_SET_LIVE_ONLY,  \
                     nullptr)                                                                                         \
    PROPERTY_PRIVATE(P, "overlay-frame", KSPROPERTY_KORVAL_OVERLAY_FRAME, 131, 0, 255, 1, 0, 0, CurOverlayFrame,      \
                     PROPERTY_SET_LIVE_ONLY, nullptr)                                                                 \
    /* 30 frames per second is the fastest timing row. */                                                             \
    PROPERTY_PRIVATE(P, "frame-rate", KSPROPERTY_KORVAL_FRAME_RATE, 135, 0, 255, 1, 0, 30, CurFrameRate,              \
                     PROPERTY_SET_LIVE_ONLY | PROPERTY_MAPPED_UNTUNED, MapFrameRate)

struct tagPublishedProperty {
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
    UCHAR ucCapabilities;
};

#define PUBLISHED_PROPERTY(Name, Set, Id, ValueSlot, FlagsSlot, Minimum, Maximum, Step, Default, InstalledValue,  \
                           InstalledFlags, Field, FlagsField, ManualField, InitialFlags, Capabilities, Traits,     \
                           ImageMapping, AeMapping)                                                                \
    {Name, Set, Id, ValueSlot, FlagsSlot, Minimum, Maximum, Step, Default, InstalledValue, InstalledFlags,        \
     Capabilities},

// In the order the tool lists them.
inline constexpr tagPublishedProperty PublishedProperties[] = {KORVAL_PROPERTIES(PUBLISHED_PROPERTY)};

#undef PUBLISHED_PROPERTY
