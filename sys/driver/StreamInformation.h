// The static description of the adapter's one stream, answered on
// SRB_GET_STREAM_INFO: the stream header, then the capture pin's stream
// information record.
#pragma once

#include "platform/Platform.h"

#include <cstdint>

#if UINTPTR_MAX == 0xFFFFFFFF
static_assert(sizeof(HW_STREAM_HEADER) == 40);
static_assert(sizeof(HW_STREAM_INFORMATION) == 80);
#endif
static_assert(sizeof(KS_DATARANGE_VIDEO) == 296);

// What the class must hand over for SRB_GET_STREAM_INFO (120 bytes on the
// 32-bit platform); device initialization sets it as StreamDescriptorSize.
constexpr ULONG CAPTURE_STREAM_DESCRIPTOR_SIZE = sizeof(HW_STREAM_HEADER) + sizeof(HW_STREAM_INFORMATION);

extern const HW_STREAM_HEADER CaptureStreamHeader;
// The capture pin; its NumberOfFormatArrayEntries is filled in per request
// from the formats "A_64" selects.
extern const HW_STREAM_INFORMATION CaptureStreamInformation;
