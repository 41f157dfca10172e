// The header goes to the file from its own 32 bytes and the pixels from the
// start of StillBgrBuffer: a 640 x 480 still fills that buffer exactly, so
// header and pixels together would not fit in it.
#include "control/StillImageFile.h"
#include "runtime/FloatingPointState.h"
#include "runtime/KernelFile.h"

#include "control/I420ToBgr.h"
#include "base/WdmLevel.h"
#include "stream/StreamContext.h"

namespace {

constexpr ULONG KERNEL_FILE_CALLS_LEVEL = 3;

const WCHAR STILL_FILE_NAME[] = KTEXT("\\DosDevices\\C:\\StiImg.dat");
const CHAR STILL_FILE_RING0_NAME[] = "C:\\StiImg.dat";

struct tagStillFrame {
    ULONG ulWidth, ulHeight;
    ULONG ulPixelBytes; // 3 x width x height
};
static_assert(sizeof(tagStillFrame) == 12);

VOID PutUlong(PUCHAR At, ULONG Value)
{
    At[0] = static_cast<UCHAR>(Value);
    At[1] = static_cast<UCHAR>(Value >> 8);
    At[2] = static_cast<UCHAR>(Value >> 16);
    At[3] = static_cast<UCHAR>(Value >> 24);
}

// The stream's frame size, when it describes a frame the still buffers hold.
bool DescribeFrame(const StreamContext* Stream, tagStillFrame* Frame)
{
    const ULONGLONG pixels = ULONGLONG{Stream->OutWidth} * Stream->OutHeight;
    if (pixels == 0 || 3 * pixels > STILL_BUFFER_BYTES) {
        return false;
    }
    *Frame = {Stream->OutWidth, Stream->OutHeight, static_cast<ULONG>(3 * pixels)};
    return true;
}

// The frame pipeline writes StillImageBuffer under the same lock.
bool CopyFrameToBgr(DeviceContext* Device, tagStillFrame* Frame)
{
    KIRQL oldIrql;
    KeAcquireSpinLock(&Device->StillImageLock, &oldIrql);
    bool copied = DescribeFrame(Device->Stream, Frame);
    if (copied) {
        if (Device->Stream->IsI420 != 0) {
            CFloatingPointState floatingPoint;
            copied = floatingPoint.Saved() && I420ToBgrBottomUp(Device->StillImageBuffer, Device->StillBgrBuffer,
                                                                Frame->ulWidth, Frame->ulHeight);
        } else {
            RtlCopyMemory(Device->StillBgrBuffer, Device->StillImageBuffer, Frame->ulPixelBytes);
        }
    }
    KeReleaseSpinLock(&Device->StillImageLock, oldIrql);
    return copied;
}

bool WriteWithKernelCalls(const UCHAR* Header, const UCHAR* Pixels, ULONG PixelBytes)
{
    HANDLE file = nullptr;
    if (!OpenKernelFile(STILL_FILE_NAME, GENERIC_WRITE, FILE_SHARE_WRITE, FILE_OVERWRITE_IF, &file)) {
        return false;
    }
    IO_STATUS_BLOCK ioStatus = {};
    LARGE_INTEGER offset = {};
    bool written = NT_SUCCESS(ZwWriteFile(file, nullptr, nullptr, nullptr, &ioStatus, const_cast<PUCHAR>(Header),
                                          STILL_HEADER_BYTES, &offset, nullptr)) &&
                   ioStatus.Information == STILL_HEADER_BYTES;
    if (written) {
        offset.QuadPart = STILL_HEADER_BYTES;
        written = NT_SUCCESS(ZwWriteFile(file, nullptr, nullptr, nullptr, &ioStatus, const_cast<PUCHAR>(Pixels),
                                         PixelBytes, &offset, nullptr)) &&
                  ioStatus.Information == PixelBytes;
    }
    ZwClose(file);
    return written;
}

bool WriteWithRingZeroCalls(const UCHAR* Header, const UCHAR* Pixels, ULONG PixelBytes)
{
    HANDLE file = nullptr;
    if (R0_OpenCreateFile(STILL_FILE_RING0_NAME, R0_ACCESS_WRITE, R0_ACTION_CREATE_ALWAYS, &file) != R0_NO_ERROR) {
        return false;
    }
    ULONG transferred = 0;
    bool written = R0_WriteFile(file, Header, STILL_HEADER_BYTES, 0, &transferred) == R0_NO_ERROR &&
                   transferred == STILL_HEADER_BYTES;
    if (written) {
        written = R0_WriteFile(file, Pixels, PixelBytes, STILL_HEADER_BYTES, &transferred) == R0_NO_ERROR &&
                  transferred == PixelBytes;
    }
    R0_CloseFile(file);
    return written;
}

} // namespace

VOID FillStillHeader(UCHAR (&Header)[STILL_HEADER_BYTES], ULONG Width, ULONG Height)
{
    const ULONG words[STILL_HEADER_BYTES / 4] = {STILL_HEADER_BYTES, Width, Height, 24, Width, Height, 24, 100};
    for (ULONG i = 0; i < STILL_HEADER_BYTES / 4; ++i) {
        PutUlong(Header + 4 * i, words[i]);
    }
}

bool WriteStillImage(DeviceContext* Device)
{
    if (Device == nullptr || Device->Stream == nullptr || Device->StillImageBuffer == nullptr ||
        Device->StillBgrBuffer == nullptr) {
        return false;
    }
    tagStillFrame frame = {};
    if (!CopyFrameToBgr(Device, &frame)) {
        return false;
    }
    UCHAR header[STILL_HEADER_BYTES];
    FillStillHeader(header, frame.ulWidth, frame.ulHeight);
    return WdmLevel >= KERNEL_FILE_CALLS_LEVEL
               ? WriteWithKernelCalls(header, Device->StillBgrBuffer, frame.ulPixelBytes)
               : WriteWithRingZeroCalls(header, Device->StillBgrBuffer, frame.ulPixelBytes);
}
