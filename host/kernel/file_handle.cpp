#include "host/kernel/file_handle.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace korval::host {

FileHandle::FileHandle(int fd, std::string path, bool read, bool write, bool append, bool synchronous, bool directory)
    : fd_(fd), path_(std::move(path)), read_(read), write_(write), append_(append), synchronous_(synchronous),
      directory_(directory)
{
}

FileHandle::~FileHandle()
{
    close(fd_);
}

NTSTATUS FileHandle::read(void* buffer, ULONG length, std::int64_t offset, ULONG_PTR* transferred)
{
    std::lock_guard lock(mutex_);
    *transferred = 0;
    const std::int64_t at = offset < 0 ? position_ : offset;
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count = pread(fd_, static_cast<char*>(buffer) + done, length - done, at + static_cast<std::int64_t>(done));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return STATUS_UNSUCCESSFUL;
        }
        if (count == 0) {
            break;
        }
        done += static_cast<std::size_t>(count);
    }
    if (offset < 0) {
        position_ = at + static_cast<std::int64_t>(done);
    }
    *transferred = done;
    return (done == 0 && length != 0) ? STATUS_END_OF_FILE : STATUS_SUCCESS;
}

NTSTATUS FileHandle::write(const void* buffer, ULONG length, std::int64_t offset, bool toEnd, ULONG_PTR* transferred)
{
    std::lock_guard lock(mutex_);
    *transferred = 0;
    std::int64_t at = offset < 0 ? position_ : offset;
    if (toEnd || (append_ && !write_)) {
        struct stat info;
        if (fstat(fd_, &info) != 0) {
            return STATUS_UNSUCCESSFUL;
        }
        at = info.st_size;
    }
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count =
            pwrite(fd_, static_cast<const char*>(buffer) + done, length - done, at + static_cast<std::int64_t>(done));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            *transferred = done;
            return errno == ENOSPC ? STATUS_DISK_FULL : STATUS_UNSUCCESSFUL;
        }
        done += static_cast<std::size_t>(count);
    }
    if (offset < 0 || toEnd) {
        position_ = at + static_cast<std::int64_t>(done);
    }
    *transferred = done;
    return STATUS_SUCCESS;
}

NTSTATUS FileHandle::size(std::int64_t* bytes) const
{
    struct stat info;
    if (fstat(fd_, &info) != 0) {
        return STATUS_UNSUCCESSFUL;
    }
    *bytes = info.st_size;
    return STATUS_SUCCESS;
}

std::int64_t FileHandle::position() const
{
    std::lock_guard lock(mutex_);
    return position_;
}

} // namespace korval::host
