// The ring-0 file services of the oldest WDM platforms, over the same drive
// and handle table as the kernel's file calls, answering DOS error codes.
#include "host/kernel/file_handle.h"
#include "host/kernel/kernel_internal.h"
#include "host/kernel/platform_state.h"

using namespace korval::host;

namespace {

ULONG dosError(NTSTATUS status)
{
    switch (status) {
    case STATUS_OBJECT_NAME_NOT_FOUND:
        return R0_ERROR_FILE_NOT_FOUND;
    case STATUS_OBJECT_PATH_NOT_FOUND:
    case STATUS_OBJECT_PATH_SYNTAX_BAD:
        return R0_ERROR_PATH_NOT_FOUND;
    case STATUS_OBJECT_NAME_COLLISION:
        return R0_ERROR_FILE_EXISTS;
    case STATUS_INVALID_PARAMETER:
        return R0_ERROR_INVALID_PARAMETER;
    default:
        return R0_ERROR_ACCESS_DENIED;
    }
}

std::shared_ptr<FileHandle> fileOf(HANDLE handle)
{
    return Platform::current().state().handles.findAs<FileHandle>(handle);
}

} // namespace

extern "C" ULONG NTAPI R0_OpenCreateFile(PCSTR FileName, ULONG AccessMode, ULONG Action, PHANDLE FileHandle_)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "R0_OpenCreateFile");
    if (FileName == nullptr || FileHandle_ == nullptr || AccessMode > R0_ACCESS_READWRITE) {
        return R0_ERROR_INVALID_PARAMETER;
    }
    ULONG disposition;
    switch (Action) {
    case R0_ACTION_OPEN_EXISTING:
        disposition = FILE_OPEN;
        break;
    case R0_ACTION_CREATE_ALWAYS:
        disposition = FILE_OVERWRITE_IF;
        break;
    case R0_ACTION_OPEN_ALWAYS:
        disposition = FILE_OPEN_IF;
        break;
    default:
        return R0_ERROR_INVALID_PARAMETER;
    }
    if (auto failure = takeInjectedFailure("R0_OpenCreateFile")) {
        return dosError(*failure);
    }
    Platform& platform = Platform::current();
    const bool write = AccessMode != R0_ACCESS_READ;
    const SandboxOpen opened = openInSandbox(platform.machineDirectory(), parseWindowsPath(FileName), write,
                                             disposition, FILE_NON_DIRECTORY_FILE);
    if (!NT_SUCCESS(opened.status)) {
        return dosError(opened.status);
    }
    const bool read = AccessMode != R0_ACCESS_WRITE;
    *FileHandle_ = platform.state().handles.insert(
        std::make_shared<FileHandle>(opened.fd, FileName, read, write, false, true, false));
    return R0_NO_ERROR;
}

extern "C" ULONG NTAPI R0_WriteFile(HANDLE FileHandle_, const VOID* Buffer, ULONG Count, ULONG Offset, PULONG Written)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "R0_WriteFile");
    auto file = fileOf(FileHandle_);
    if (!file) {
        return R0_ERROR_INVALID_HANDLE;
    }
    if (Written == nullptr || (Buffer == nullptr && Count != 0)) {
        return R0_ERROR_INVALID_PARAMETER;
    }
    *Written = 0;
    if (!file->canWrite()) {
        return R0_ERROR_ACCESS_DENIED;
    }
    ULONG_PTR transferred = 0;
    const NTSTATUS status = file->write(Buffer, Count, Offset, false, &transferred);
    *Written = static_cast<ULONG>(transferred);
    return NT_SUCCESS(status) ? R0_NO_ERROR : R0_ERROR_WRITE_FAULT;
}

extern "C" ULONG NTAPI R0_ReadFile(HANDLE FileHandle_, PVOID Buffer, ULONG Count, ULONG Offset, PULONG Read)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "R0_ReadFile");
    auto file = fileOf(FileHandle_);
    if (!file) {
        return R0_ERROR_INVALID_HANDLE;
    }
    if (Read == nullptr || (Buffer == nullptr && Count != 0)) {
        return R0_ERROR_INVALID_PARAMETER;
    }
    *Read = 0;
    if (!file->canRead()) {
        return R0_ERROR_ACCESS_DENIED;
    }
    ULONG_PTR transferred = 0;
    const NTSTATUS status = file->read(Buffer, Count, Offset, &transferred);
    *Read = static_cast<ULONG>(transferred);
    return (NT_SUCCESS(status) || status == STATUS_END_OF_FILE) ? R0_NO_ERROR : R0_ERROR_READ_FAULT;
}

extern "C" ULONG NTAPI R0_GetFileSize(HANDLE FileHandle_, PULONG Size)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "R0_GetFileSize");
    auto file = fileOf(FileHandle_);
    if (!file) {
        return R0_ERROR_INVALID_HANDLE;
    }
    std::int64_t bytes = 0;
    if (Size == nullptr || !NT_SUCCESS(file->size(&bytes))) {
        return R0_ERROR_INVALID_PARAMETER;
    }
    *Size = bytes > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<ULONG>(bytes);
    return R0_NO_ERROR;
}

extern "C" ULONG NTAPI R0_CloseFile(HANDLE FileHandle_)
{
    requireIrqlAtMost(PASSIVE_LEVEL, "R0_CloseFile");
    if (!fileOf(FileHandle_)) {
        return R0_ERROR_INVALID_HANDLE;
    }
    Platform::current().state().handles.remove(FileHandle_);
    return R0_NO_ERROR;
}
