// The still file "\DosDevices\C:\StiImg.dat": a 32-byte header (32, width,
// height, 24, width, height, 24, 100 as little-endian 32-bit words) and the
// newest delivered frame as bottom-up BGR24.
#pragma once

#include "base/DeviceContext.h"

constexpr ULONG STILL_HEADER_BYTES = 32;
constexpr ULONG STILL_BUFFER_BYTES = 640 * 480 * 3; // StillImageBuffer and StillBgrBuffer

// Converts the frame in StillImageBuffer into StillBgrBuffer (under
// StillImageLock) and writes the file. True only when the whole file was
// written; false also when no open stream describes a frame that fits.
bool WriteStillImage(DeviceContext* Device);

// The header of a still of Width x Height pixels.
VOID FillStillHeader(UCHAR (&Header)[STILL_HEADER_BYTES], ULONG Width, ULONG Height);
