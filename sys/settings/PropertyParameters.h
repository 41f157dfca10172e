// What each device property's current value means to the processing stages:
// one mapping per property into the image-processing or auto-exposure
// parameters, used alike when the capture stream opens and when a property is
// set while it runs.
#pragma once

#include "base/AeRecords.h"
#include "base/DeviceContext.h"
#include "imageprocess/CImageProcess.h"

// Flags of the value-with-flags records (VIDEOPROCAMP and CAMERACONTROL alike).
constexpr ULONG PROPERTY_FLAGS_AUTO = 1;
constexpr ULONG PROPERTY_FLAGS_MANUAL = 2;

typedef VOID (*PIMAGE_MAPPING)(const DeviceContext* Device, tagIpParameters* Parameters);
typedef VOID (*PAE_MAPPING)(const DeviceContext* Device, tagAeParameters* Parameters);

VOID MapBrightness(const DeviceContext* Device, tagIpParameters* Parameters);
VOID MapContrast(const DeviceContext* Device, tagIpParameters* Parameters);
VOID MapHue(const DeviceContext* Device, tagIpParameters* Parameters);
VOID MapSaturation(const DeviceContext* Device, tagIpParameters* Parameters);
VOID MapSharpness(const DeviceContext* Device, tagIpParameters* Parameters);
VOID MapGamma(const DeviceContext* Device, tagIpParameters* Parameters);
VOID MapWhiteBalance(const DeviceContext* Device, tagIpParameters* Parameters);
VOID MapMeteringWindow(const DeviceContext* Device, tagIpParameters* Parameters);
VOID MapMirror(const DeviceContext* Device, tagIpParameters* Parameters);
VOID MapFlip(const DeviceContext* Device, tagIpParameters* Parameters);

VOID MapAeTarget(const DeviceContext* Device, tagAeParameters* Parameters);
VOID MapExposure(const DeviceContext* Device, tagAeParameters* Parameters);
VOID MapStepBoost(const DeviceContext* Device, tagAeParameters* Parameters);
VOID MapMainsFrequency(const DeviceContext* Device, tagAeParameters* Parameters);
VOID MapFractionalExposure(const DeviceContext* Device, tagAeParameters* Parameters);
VOID MapLongExposureLimits(const DeviceContext* Device, tagAeParameters* Parameters);
VOID MapFrameRate(const DeviceContext* Device, tagAeParameters* Parameters);

// Auto exposure's brightness target: the exposure value, moved up with the
// black point so that the stretch after metering keeps the usual brightness.
UCHAR AeTargetLuma(const DeviceContext* Device);
// The fastest timing row whose frame interval the frame rate allows; 0 frames
// per second has no interval and is taken as the fastest rate.
USHORT MinimumTimingRow(ULONG FramesPerSecond);

// Colour off holds the saturation at 0 and keeps the user's aside; colour on
// brings it back. Loading, storing and the live set all go through these.
VOID PutSaturationAside(DeviceContext* Device);
VOID BringSaturationBack(DeviceContext* Device);
