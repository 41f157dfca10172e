// One USB transfer kept in flight by the streaming side: its IRP, URB, data
// buffer and resubmission DPC, all made once when the device is opened and
// reused for every resubmission, so streaming allocates nothing.
#pragma once

#include "platform/Platform.h"

class CUsbCamera;

// The status transfer: one interrupt URB reading the 2-byte button report.
constexpr ULONG STATUS_URB_BYTES = sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);
constexpr ULONG STATUS_DATA_BYTES = 64;
constexpr ULONG STATUS_TRANSFER_BYTES = 2;

// The video transfers: three isochronous URBs of 16 packets each. The URB
// keeps room for one packet entry more than it uses.
constexpr ULONG VIDEO_TRANSFER_COUNT = 3;
constexpr ULONG VIDEO_PACKETS_PER_TRANSFER = 16;
constexpr ULONG VIDEO_URB_BYTES =
    sizeof(struct _URB_ISOCH_TRANSFER) + VIDEO_PACKETS_PER_TRANSFER * sizeof(USBD_ISO_PACKET_DESCRIPTOR);
constexpr ULONG VIDEO_DATA_BYTES = 16384;

#if UINTPTR_MAX == 0xFFFFFFFF
static_assert(STATUS_URB_BYTES == 72);
static_assert(VIDEO_URB_BYTES == 288);
#endif
// The largest full-speed isochronous packet times the packets of one URB must fit.
static_assert(VIDEO_DATA_BYTES >= VIDEO_PACKETS_PER_TRANSFER * 1023);

struct tagTransferContext {
    PIRP pIrp;          // the lower device's StackSize + 1 locations
    PURB pUrb;          // STATUS_URB_BYTES or VIDEO_URB_BYTES
    PUCHAR pData;       // STATUS_DATA_BYTES or VIDEO_DATA_BYTES
    KDPC Dpc;           // resubmission, context = this record
    CUsbCamera* pOwner;
    UCHAR ucInFlight;   // 1 from each submission until its completion
    UCHAR ucIndex;      // 0 for status, 0..2 for video
};
