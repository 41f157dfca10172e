// The kernel's file calls over the machine's drive.
#include "host/kernel/bug_check.h"
#include "host/kernel/file_handle.h"
#include "host/kernel/kernel_internal.h"
#include "host/kernel/platform_state.h"

#include <optional>

using namespace korval::host;

namespace {

constexpr ACCESS_MASK kReadRights = GENERIC_READ | GENERIC_ALL | FILE_READ_DATA;
constexpr ACCESS_MASK kWriteRights = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA;

NTSTATUS finish(PIO_STATUS_BLOCK ioStatus, NTSTATUS status, ULONG_PTR information)
{
    ioStatus->Status = status;
    ioStatus->Information = information;
    return status;
}

// The file of a handle, or the status that refuses the call.
std::shared_ptr<FileHandle> fileOf(HANDLE handle, NTSTATUS* status)
{
    auto object = Platform::current().state().handles.find(handle);
    auto file = std::dynamic_pointer_cast<FileHandle>(object);
    *status = !object ? STATUS_INVALID_HANDLE : !file ? STATUS_OBJECT_TYPE_MISMATCH : STATUS_SUCCESS;
    return file;
}

// -1: the file pointer; otherwise the explicit offset.
bool transferOffset(const FileHandle& file, PLARGE_INTEGER byteOffset, std::int64_t* offset, bool* toEnd)
{
    *toEnd = false;
    *offset = -1;
    if (byteOffset != nullptr) {
        if (byteOffset->u.HighPart == -1 && byteOffset->u.LowPart == FILE_WRITE_TO_END_OF_FILE) {
            *toEnd = true;
            return true;
        }
        if (!(byteOffset->u.HighPart == -1 && byteOffset->u.LowPart == FILE_USE_FILE_POINTER_POSITION)) {
            *offset = byteOffset->QuadPart;
            return *offset >= 0;
        }
    }
    return file.synchronous(); // asynchronous handles need an explicit offset
}

} // namespace

extern "C" NTSTATUS NTAPI ZwCreateFile(PHANDLE FileHandle_, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                                       PIO_STATUS_BLOCK IoStatusBlock, PLARGE_INTEGER, ULONG, ULONG,
                                       ULONG CreateDisposition, ULONG CreateOptions, PVOID, ULONG)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "ZwCreateFile");
    if (FileHandle_ == nullptr || IoStatusBlock == nullptr || ObjectAttributes == nullptr ||
        ObjectAttributes->ObjectName == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (ObjectAttributes->RootDirectory != nullptr) {
        return finish(IoStatusBlock, STATUS_OBJECT_PATH_SYNTAX_BAD, 0);
    }
    if (auto failure = takeInjectedFailure("ZwCreateFile")) {
        return finish(IoStatusBlock, *failure, 0);
    }
    Platform& platform = Platform::current();
    const std::string name = toUtf8(ObjectAttributes->ObjectName);
    const bool read = (DesiredAccess & kReadRights) != 0;
    const bool write = (DesiredAccess & kWriteRights) != 0;
    const bool append = (DesiredAccess & FILE_APPEND_DATA) != 0;
    const SandboxOpen opened =
        openInSandbox(platform.machineDirectory(), parseWindowsPath(name), write || append, CreateDisposition, CreateOptions);
    if (!NT_SUCCESS(opened.status)) {
        return finish(IoStatusBlock, opened.status, 0);
    }
    const bool synchronous = (CreateOptions & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT)) != 0;
    *FileHandle_ = platform.state().handles.insert(
        std::make_shared<korval::host::FileHandle>(opened.fd, name, read, write, append, synchronous, opened.directory));
    return finish(IoStatusBlock, STATUS_SUCCESS, opened.information);
}

namespace {

// The checks ZwReadFile and ZwWriteFile share: a usable handle of a file open
// for the transfer's direction, and its offset. On failure, the status to return.
struct Transfer {
    std::shared_ptr<korval::host::FileHandle> file;
    std::int64_t offset = 0;
    bool toEnd = false;
};

std::optional<NTSTATUS> prepareTransfer(HANDLE handle, PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length,
                                        PLARGE_INTEGER ByteOffset, bool write, Transfer* transfer)
{
    const char* function = write ? "ZwWriteFile" : "ZwReadFile";
    requireIrqlAtMost(PASSIVE_LEVEL, function);
    NTSTATUS status;
    transfer->file = fileOf(handle, &status);
    if (IoStatusBlock == nullptr || (Buffer == nullptr && Length != 0)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!transfer->file) {
        return finish(IoStatusBlock, status, 0);
    }
    if (transfer->file->directory()) {
        return finish(IoStatusBlock, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (!(write ? transfer->file->canWrite() : transfer->file->canRead())) {
        return finish(IoStatusBlock, STATUS_ACCESS_DENIED, 0);
    }
    if (auto failure = takeInjectedFailure(function)) {
        return finish(IoStatusBlock, *failure, 0);
    }
    // A read "to the end of the file" has no meaning.
    if (!transferOffset(*transfer->file, ByteOffset, &transfer->offset, &transfer->toEnd) ||
        (!write && transfer->toEnd)) {
        return finish(IoStatusBlock, STATUS_INVALID_PARAMETER, 0);
    }
    return std::nullopt;
}

} // namespace

extern "C" NTSTATUS NTAPI ZwReadFile(HANDLE FileHandle_, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK IoStatusBlock,
                                     PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset, PULONG)
{
    Transfer transfer;
    if (auto refused = prepareTransfer(FileHandle_, IoStatusBlock, Buffer, Length, ByteOffset, false, &transfer)) {
        return *refused;
    }
    ULONG_PTR transferred = 0;
    const NTSTATUS status = transfer.file->read(Buffer, Length, transfer.offset, &transferred);
    return finish(IoStatusBlock, status, transferred);
}

extern "C" NTSTATUS NTAPI ZwWriteFile(HANDLE FileHandle_, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK IoStatusBlock,
                                      PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset, PULONG)
{
    Transfer transfer;
    if (auto refused = prepareTransfer(FileHandle_, IoStatusBlock, Buffer, Length, ByteOffset, true, &transfer)) {
        return *refused;
    }
    ULONG_PTR transferred = 0;
    const NTSTATUS status =
        transfer.file->write(Buffer, Length, transfer.offset, transfer.toEnd, &transferred);
    return finish(IoStatusBlock, status, transferred);
}

extern "C" NTSTATUS NTAPI ZwQueryInformationFile(HANDLE FileHandle_, PIO_STATUS_BLOCK IoStatusBlock,
                                                 PVOID FileInformation, ULONG Length,
                                                 FILE_INFORMATION_CLASS FileInformationClass)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "ZwQueryInformationFile");
    NTSTATUS status;
    auto file = fileOf(FileHandle_, &status);
    if (IoStatusBlock == nullptr || FileInformation == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!file) {
        return finish(IoStatusBlock, status, 0);
    }
    if (FileInformationClass == FileStandardInformation) {
        if (Length < sizeof(FILE_STANDARD_INFORMATION)) {
            return finish(IoStatusBlock, STATUS_INFO_LENGTH_MISMATCH, 0);
        }
        std::int64_t bytes = 0;
        status = file->size(&bytes);
        if (!NT_SUCCESS(status)) {
            return finish(IoStatusBlock, status, 0);
        }
        auto* info = static_cast<PFILE_STANDARD_INFORMATION>(FileInformation);
        memset(info, 0, sizeof(*info));
        info->AllocationSize.QuadPart = (bytes + 4095) & ~std::int64_t{4095};
        info->EndOfFile.QuadPart = file->directory() ? 0 : bytes;
        info->NumberOfLinks = 1;
        info->Directory = file->directory() ? TRUE : FALSE;
        return finish(IoStatusBlock, STATUS_SUCCESS, sizeof(FILE_STANDARD_INFORMATION));
    }
    if (FileInformationClass == FilePositionInformation) {
        if (Length < sizeof(FILE_POSITION_INFORMATION)) {
            return finish(IoStatusBlock, STATUS_INFO_LENGTH_MISMATCH, 0);
        }
        static_cast<PFILE_POSITION_INFORMATION>(FileInformation)->CurrentByteOffset.QuadPart = file->position();
        return finish(IoStatusBlock, STATUS_SUCCESS, sizeof(FILE_POSITION_INFORMATION));
    }
    return finish(IoStatusBlock, STATUS_INVALID_INFO_CLASS, 0);
}
