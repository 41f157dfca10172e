#include "settings/StillStatus.h"

#include "settings/RegistrySettings.h"

const WCHAR STILL_STATUS_KEY_PATH[] =
    KTEXT("\\Registry\\MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL");
const WCHAR STILL_STATUS_COPY_PATH[] =
    KTEXT("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Stillgate\\KORVAL");

namespace {

const WCHAR STATUS_REPORT_NAME[] = KTEXT("StatusReport");
const WCHAR STATUS_COPY_NAME[] = KTEXT("{E5BAEA70-7F2C-49F3-BEC5-BAEDEA26DFB4}");
const WCHAR USB_SNAPSHOT_STATUS_NAME[] = KTEXT("usb_snapshot_status");

} // namespace

ULONG StillStatusAfterStill(ULONG Status, BOOLEAN Written)
{
    // A failed file write must not tell the service that a stale or missing
    // file is the new still: it then sees neither bit 0 nor bit 1.
    Status &= ~(STILL_STATUS_NO_STREAM | STILL_STATUS_WRITTEN);
    return Written ? Status | STILL_STATUS_WRITTEN : Status;
}

ULONG StillStatusAfterPressWithoutStream(ULONG Status)
{
    return (Status & ~STILL_STATUS_WRITTEN) | STILL_STATUS_NO_STREAM;
}

NTSTATUS ReadStillStatus(PULONG Status)
{
    return ReadDword(STILL_STATUS_KEY_PATH, STATUS_REPORT_NAME, Status);
}

VOID WriteStillStatus(ULONG Status)
{
    WriteDword(STILL_STATUS_KEY_PATH, STATUS_REPORT_NAME, Status);
}

VOID PublishStillStatus(ULONG Status)
{
    WriteStillStatus(Status);
    WriteDword(STILL_STATUS_COPY_PATH, STATUS_COPY_NAME, Status);
}

VOID WriteUsbSnapshotStatus(ULONG Value)
{
    UCHAR bytes[4] = {static_cast<UCHAR>(Value), static_cast<UCHAR>(Value >> 8), static_cast<UCHAR>(Value >> 16),
                      static_cast<UCHAR>(Value >> 24)};
    RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, STILL_STATUS_KEY_PATH, USB_SNAPSHOT_STATUS_NAME, REG_BINARY, bytes,
                          sizeof(bytes));
}
