#include "stream/OverlayFileReader.h"

#include "base/WdmLevel.h"
#include "runtime/KernelFile.h"
#include "stream/OverlayFileNames.h"

namespace {

constexpr ULONG KERNEL_FILE_CALLS_LEVEL = 2;

const WCHAR DOS_DEVICES_PREFIX[] = KTEXT("\\DosDevices\\");
const WCHAR SHORT_DOS_DEVICES_PREFIX[] = KTEXT("\\??\\");

BOOLEAN StartsWithDrive(PCWSTR Name)
{
    const WCHAR letter = static_cast<WCHAR>(Name[0] | 0x20);
    return letter >= 'a' && letter <= 'z' && Name[1] == ':';
}

// Length of Prefix when Name starts with it (letters compared without case).
ULONG PrefixLength(PCWSTR Name, PCWSTR Prefix)
{
    ULONG i = 0;
    for (; Prefix[i] != 0; ++i) {
        if (RtlUpcaseUnicodeChar(Name[i]) != RtlUpcaseUnicodeChar(Prefix[i])) {
            return 0;
        }
    }
    return i;
}

// The kernel's file calls need the object-manager form of a drive path.
BOOLEAN KernelFileName(PCWSTR Name, PWCHAR Result)
{
    ULONG position = 0;
    if (StartsWithDrive(Name)) {
        for (const WCHAR* prefix = DOS_DEVICES_PREFIX; *prefix != 0; ++prefix) {
            Result[position++] = *prefix;
        }
    }
    for (; *Name != 0; ++Name) {
        if (position + 1 >= OVERLAY_FILE_NAME_CHARS) {
            return FALSE;
        }
        Result[position++] = *Name;
    }
    Result[position] = 0;
    return TRUE;
}

// The ring-0 services take an ANSI drive path; other characters are refused.
BOOLEAN RingZeroFileName(PCWSTR Name, PCHAR Result)
{
    ULONG skip = PrefixLength(Name, DOS_DEVICES_PREFIX);
    if (skip == 0) {
        skip = PrefixLength(Name, SHORT_DOS_DEVICES_PREFIX);
    }
    ULONG position = 0;
    for (Name += skip; *Name != 0; ++Name) {
        if (*Name > 0x7F || position + 1 >= OVERLAY_FILE_NAME_CHARS) {
            return FALSE;
        }
        Result[position++] = static_cast<CHAR>(*Name);
    }
    Result[position] = 0;
    return TRUE;
}

BOOLEAN ReadWithKernelCalls(PCWSTR Name, PUCHAR Buffer, ULONG Capacity, PULONG Bytes)
{
    WCHAR fileName[OVERLAY_FILE_NAME_CHARS];
    if (!KernelFileName(Name, fileName)) {
        return FALSE;
    }
    HANDLE file = nullptr;
    if (!OpenKernelFile(fileName, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, &file)) {
        return FALSE;
    }
    IO_STATUS_BLOCK ioStatus = {};
    FILE_STANDARD_INFORMATION information = {};
    BOOLEAN read = NT_SUCCESS(ZwQueryInformationFile(file, &ioStatus, &information, sizeof(information),
                                                     FileStandardInformation)) &&
                   information.EndOfFile.QuadPart > 0 && information.EndOfFile.QuadPart <= Capacity;
    if (read) {
        const ULONG size = static_cast<ULONG>(information.EndOfFile.QuadPart);
        LARGE_INTEGER offset = {};
        read = NT_SUCCESS(ZwReadFile(file, nullptr, nullptr, nullptr, &ioStatus, Buffer, size, &offset, nullptr));
        // A file that shrank since it was sized yields only what was read.
        *Bytes = read ? static_cast<ULONG>(ioStatus.Information < size ? ioStatus.Information : size) : 0;
    }
    ZwClose(file);
    return read && *Bytes != 0;
}

BOOLEAN ReadWithRingZeroCalls(PCWSTR Name, PUCHAR Buffer, ULONG Capacity, PULONG Bytes)
{
    CHAR fileName[OVERLAY_FILE_NAME_CHARS];
    HANDLE file = nullptr;
    if (!RingZeroFileName(Name, fileName) ||
        R0_OpenCreateFile(fileName, R0_ACCESS_READ, R0_ACTION_OPEN_EXISTING, &file) != R0_NO_ERROR) {
        return FALSE;
    }
    ULONG size = 0;
    BOOLEAN read = R0_GetFileSize(file, &size) == R0_NO_ERROR && size != 0 && size <= Capacity;
    if (read) {
        ULONG transferred = 0;
        read = R0_ReadFile(file, Buffer, size, 0, &transferred) == R0_NO_ERROR;
        *Bytes = read ? (transferred < size ? transferred : size) : 0;
    }
    R0_CloseFile(file);
    return read && *Bytes != 0;
}

} // namespace

BOOLEAN ReadOverlayFile(PCWSTR Name, PUCHAR Buffer, ULONG Capacity, PULONG Bytes)
{
    if (Bytes == nullptr) {
        return FALSE;
    }
    *Bytes = 0;
    if (Name == nullptr || Buffer == nullptr) {
        return FALSE;
    }
    const BOOLEAN read = WdmLevel >= KERNEL_FILE_CALLS_LEVEL ? ReadWithKernelCalls(Name, Buffer, Capacity, Bytes)
                                                              : ReadWithRingZeroCalls(Name, Buffer, Capacity, Bytes);
    if (!read) {
        *Bytes = 0;
    }
    return read;
}
