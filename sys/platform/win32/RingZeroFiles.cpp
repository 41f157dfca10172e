// The ring-0 file services on Windows NT, over the kernel's Zw file calls at
// PASSIVE_LEVEL: the same names, handles and DOS error codes as on the oldest
// WDM platforms, and only drive paths that RingZeroKernelPath accepts.
#include "platform/Kernel.h"
#include "platform/files/RingZeroPath.h"

namespace {

ULONG DosError(NTSTATUS Status)
{
    switch (Status) {
    case STATUS_OBJECT_NAME_NOT_FOUND:
        return R0_ERROR_FILE_NOT_FOUND;
    case STATUS_OBJECT_PATH_NOT_FOUND:
    case STATUS_OBJECT_PATH_SYNTAX_BAD:
    case STATUS_OBJECT_NAME_INVALID:
        return R0_ERROR_PATH_NOT_FOUND;
    case STATUS_OBJECT_NAME_COLLISION:
        return R0_ERROR_FILE_EXISTS;
    case STATUS_INVALID_PARAMETER:
        return R0_ERROR_INVALID_PARAMETER;
    default:
        return R0_ERROR_ACCESS_DENIED;
    }
}

BOOLEAN DispositionOf(ULONG Action, PULONG Disposition)
{
    switch (Action) {
    case R0_ACTION_OPEN_EXISTING:
        *Disposition = FILE_OPEN;
        return TRUE;
    case R0_ACTION_CREATE_ALWAYS:
        *Disposition = FILE_OVERWRITE_IF;
        return TRUE;
    case R0_ACTION_OPEN_ALWAYS:
        *Disposition = FILE_OPEN_IF;
        return TRUE;
    default:
        return FALSE;
    }
}

BOOLEAN AtPassiveLevel()
{
    return KeGetCurrentIrql() == PASSIVE_LEVEL;
}

} // namespace

extern "C" ULONG NTAPI R0_OpenCreateFile(PCSTR FileName, ULONG AccessMode, ULONG Action, PHANDLE FileHandle)
{
    ULONG disposition = 0;
    WCHAR path[R0_KERNEL_PATH_CHARS];
    if (!AtPassiveLevel() || FileHandle == nullptr || AccessMode > R0_ACCESS_READWRITE ||
        !DispositionOf(Action, &disposition)) {
        return R0_ERROR_INVALID_PARAMETER;
    }
    *FileHandle = nullptr;
    if (!RingZeroKernelPath(FileName, path, R0_KERNEL_PATH_CHARS)) {
        return R0_ERROR_PATH_NOT_FOUND;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    const bool read = AccessMode != R0_ACCESS_WRITE;
    const bool write = AccessMode != R0_ACCESS_READ;
    const ACCESS_MASK access = SYNCHRONIZE | (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
    IO_STATUS_BLOCK ioStatus = {};
    const NTSTATUS status = ZwCreateFile(FileHandle, access, &attributes, &ioStatus, nullptr, FILE_ATTRIBUTE_NORMAL,
                                         write ? 0 : FILE_SHARE_READ, disposition,
                                         FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0);
    if (!NT_SUCCESS(status)) {
        *FileHandle = nullptr;
        return DosError(status);
    }
    return R0_NO_ERROR;
}

extern "C" ULONG NTAPI R0_WriteFile(HANDLE FileHandle, const VOID* Buffer, ULONG Count, ULONG Offset, PULONG Written)
{
    if (!AtPassiveLevel() || Written == nullptr || (Buffer == nullptr && Count != 0)) {
        return R0_ERROR_INVALID_PARAMETER;
    }
    *Written = 0;
    IO_STATUS_BLOCK ioStatus = {};
    LARGE_INTEGER offset;
    offset.QuadPart = Offset;
    const NTSTATUS status = ZwWriteFile(FileHandle, nullptr, nullptr, nullptr, &ioStatus, const_cast<PVOID>(Buffer),
                                        Count, &offset, nullptr);
    if (status == STATUS_INVALID_HANDLE) {
        return R0_ERROR_INVALID_HANDLE;
    }
    *Written = NT_SUCCESS(status) ? static_cast<ULONG>(ioStatus.Information) : 0;
    return NT_SUCCESS(status) ? R0_NO_ERROR : R0_ERROR_WRITE_FAULT;
}

extern "C" ULONG NTAPI R0_ReadFile(HANDLE FileHandle, PVOID Buffer, ULONG Count, ULONG Offset, PULONG Read)
{
    if (!AtPassiveLevel() || Read == nullptr || (Buffer == nullptr && Count != 0)) {
        return R0_ERROR_INVALID_PARAMETER;
    }
    *Read = 0;
    IO_STATUS_BLOCK ioStatus = {};
    LARGE_INTEGER offset;
    offset.QuadPart = Offset;
    const NTSTATUS status = ZwReadFile(FileHandle, nullptr, nullptr, nullptr, &ioStatus, Buffer, Count, &offset,
                                       nullptr);
    if (status == STATUS_INVALID_HANDLE) {
        return R0_ERROR_INVALID_HANDLE;
    }
    if (status == STATUS_END_OF_FILE) {
        return R0_NO_ERROR; // reading at or past the end transfers nothing
    }
    *Read = NT_SUCCESS(status) ? static_cast<ULONG>(ioStatus.Information) : 0;
    return NT_SUCCESS(status) ? R0_NO_ERROR : R0_ERROR_READ_FAULT;
}

extern "C" ULONG NTAPI R0_GetFileSize(HANDLE FileHandle, PULONG Size)
{
    if (!AtPassiveLevel() || Size == nullptr) {
        return R0_ERROR_INVALID_PARAMETER;
    }
    FILE_STANDARD_INFORMATION information = {};
    IO_STATUS_BLOCK ioStatus = {};
    const NTSTATUS status = ZwQueryInformationFile(FileHandle, &ioStatus, &information, sizeof(information),
                                                   FileStandardInformation);
    if (!NT_SUCCESS(status)) {
        return status == STATUS_INVALID_HANDLE ? R0_ERROR_INVALID_HANDLE : R0_ERROR_INVALID_PARAMETER;
    }
    const LONGLONG bytes = information.EndOfFile.QuadPart;
    *Size = bytes > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<ULONG>(bytes < 0 ? 0 : bytes);
    return R0_NO_ERROR;
}

extern "C" ULONG NTAPI R0_CloseFile(HANDLE FileHandle)
{
    if (!AtPassiveLevel()) {
        return R0_ERROR_INVALID_PARAMETER;
    }
    return NT_SUCCESS(ZwClose(FileHandle)) ? R0_NO_ERROR : R0_ERROR_INVALID_HANDLE;
}
