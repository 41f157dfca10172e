// The registry values through which the driver and a still-image service
// exchange stills: the status word "StatusReport" (with its copy under the
// Stillgate key) and "usb_snapshot_status". All of it runs at PASSIVE_LEVEL.
#pragma once

#include "platform/Platform.h"

extern const WCHAR STILL_STATUS_KEY_PATH[];   // \Registry\MACHINE\SOFTWARE\2B9EC021-...\KORVAL
extern const WCHAR STILL_STATUS_COPY_PATH[];  // \Registry\Machine\...\Services\Stillgate\KORVAL

// Bits of "StatusReport"; the others are kept as read.
constexpr ULONG STILL_STATUS_NO_STREAM = 0x001;  // pressed while no capture stream was open
constexpr ULONG STILL_STATUS_WRITTEN = 0x002;    // the still file holds a new still
constexpr ULONG STILL_STATUS_REQUEST = 0x400;    // the service asks for a still

// The word after a still was taken: Written tells whether the file holds it.
ULONG StillStatusAfterStill(ULONG Status, BOOLEAN Written);
// The word after a press while no capture stream is open.
ULONG StillStatusAfterPressWithoutStream(ULONG Status);

// Reads "StatusReport" into Status; a missing value leaves it unchanged.
NTSTATUS ReadStillStatus(PULONG Status);
// Writes "StatusReport" only (device initialization resets it this way).
VOID WriteStillStatus(ULONG Status);
// Writes "StatusReport", then its copy under the Stillgate key.
VOID PublishStillStatus(ULONG Status);
// Writes "usb_snapshot_status" as 4 little-endian bytes (REG_BINARY).
VOID WriteUsbSnapshotStatus(ULONG Value);
