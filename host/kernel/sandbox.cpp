#include "host/kernel/sandbox.h"

#include "host/kernel/kernel_internal.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korval::host {
namespace {

bool validComponent(std::string_view name)
{
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || std::string_view("<>:\"/|?*").find(c) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

std::string_view stripPrefix(std::string_view path)
{
    for (std::string_view prefix : {"\\DosDevices\\", "\\??\\", "\\GLOBAL??\\"}) {
        if (path.size() > prefix.size() && foldCase(path.substr(0, prefix.size())) == foldCase(prefix)) {
            return path.substr(prefix.size());
        }
    }
    return path;
}

// The entry of `directory` named `name`, compared without case as Windows does.
std::string findEntry(int directory, const std::string& name)
{
    struct stat info;
    if (fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        return name;
    }
    const int copy = dup(directory);
    DIR* listing = copy >= 0 ? fdopendir(copy) : nullptr;
    if (listing == nullptr) {
        if (copy >= 0) {
            close(copy);
        }
        return name;
    }
    std::string found = name;
    const std::string wanted = foldCase(name);
    while (dirent* entry = readdir(listing)) {
        if (foldCase(entry->d_name) == wanted) {
            found = entry->d_name;
            break;
        }
    }
    closedir(listing);
    return found;
}

NTSTATUS statusOfErrno(int error, bool last)
{
    switch (error) {
    case ENOENT:
        return last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
    case ENOTDIR:
        return last ? STATUS_NOT_A_DIRECTORY : STATUS_OBJECT_PATH_NOT_FOUND;
    case EEXIST:
        return STATUS_OBJECT_NAME_COLLISION;
    case ELOOP:
    case EACCES:
    case EPERM:
        return STATUS_ACCESS_DENIED;
    case EISDIR:
        return STATUS_FILE_IS_A_DIRECTORY;
    case ENOSPC:
        return STATUS_DISK_FULL;
    default:
        return STATUS_UNSUCCESSFUL;
    }
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd)
    {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

SandboxOpen refused(NTSTATUS status)
{
    SandboxOpen result;
    result.status = status;
    return result;
}

ULONG_PTR createdInformation(ULONG disposition, bool existed)
{
    if (!existed) {
        return FILE_CREATED;
    }
    switch (disposition) {
    case FILE_SUPERSEDE:
        return FILE_SUPERSEDED;
    case FILE_OVERWRITE:
    case FILE_OVERWRITE_IF:
        return FILE_OVERWRITTEN;
    default:
        return FILE_OPENED;
    }
}

SandboxOpen openDirectory(int parent, const std::string& name, bool existed, ULONG disposition)
{
    if (!existed) {
        if (disposition != FILE_CREATE && disposition != FILE_OPEN_IF) {
            return refused(STATUS_OBJECT_NAME_NOT_FOUND);
        }
        if (mkdirat(parent, name.c_str(), 0755) != 0) {
            return refused(statusOfErrno(errno, true));
        }
    } else if (disposition == FILE_CREATE) {
        return refused(STATUS_OBJECT_NAME_COLLISION);
    } else if (disposition != FILE_OPEN && disposition != FILE_OPEN_IF) {
        return refused(STATUS_FILE_IS_A_DIRECTORY);
    }
    const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return refused(statusOfErrno(errno, true));
    }
    return {STATUS_SUCCESS, fd, static_cast<ULONG_PTR>(existed ? FILE_OPENED : FILE_CREATED), true};
}

SandboxOpen openFile(int parent, const std::string& name, bool existed, bool write, ULONG disposition)
{
    int flags = O_CLOEXEC | O_NOFOLLOW;
    switch (disposition) {
    case FILE_OPEN:
        if (!existed) {
            return refused(STATUS_OBJECT_NAME_NOT_FOUND);
        }
        break;
    case FILE_CREATE:
        if (existed) {
            return refused(STATUS_OBJECT_NAME_COLLISION);
        }
        flags |= O_CREAT | O_EXCL;
        break;
    case FILE_OPEN_IF:
        flags |= O_CREAT;
        break;
    case FILE_OVERWRITE:
        if (!existed) {
            return refused(STATUS_OBJECT_NAME_NOT_FOUND);
        }
        flags |= O_TRUNC;
        break;
    case FILE_OVERWRITE_IF:
    case FILE_SUPERSEDE:
        flags |= O_CREAT | O_TRUNC;
        break;
    default:
        return refused(STATUS_INVALID_PARAMETER);
    }
    flags |= (write || (flags & O_TRUNC)) ? O_RDWR : O_RDONLY;
    const int fd = openat(parent, name.c_str(), flags, 0644);
    if (fd < 0) {
        return refused(statusOfErrno(errno, true));
    }
    return {STATUS_SUCCESS, fd, createdInformation(disposition, existed), false};
}

} // namespace

WindowsPath parseWindowsPath(std::string_view path)
{
    WindowsPath result;
    std::string_view rest = stripPrefix(path);
    if (rest.size() < 2 || rest[1] != ':' || !isalpha(static_cast<unsigned char>(rest[0]))) {
        result.status = (!path.empty() && path[0] == '\\') ? STATUS_OBJECT_PATH_NOT_FOUND : STATUS_OBJECT_PATH_SYNTAX_BAD;
        return result;
    }
    result.drive = static_cast<char>(foldCase(rest.substr(0, 1))[0]);
    rest.remove_prefix(2);
    if (!rest.empty() && rest[0] != '\\') {
        result.status = STATUS_OBJECT_PATH_SYNTAX_BAD; // "C:name" is relative to a current directory
        return result;
    }
    if (!rest.empty()) {
        rest.remove_prefix(1);
    }
    result.trailingSeparator = !rest.empty() && rest.back() == '\\';
    if (result.trailingSeparator) {
        rest.remove_suffix(1);
    }
    while (!rest.empty()) {
        const std::size_t cut = rest.find('\\');
        const std::string_view component = rest.substr(0, cut);
        if (!validComponent(component)) {
            result.status = STATUS_OBJECT_NAME_INVALID;
            result.components.clear();
            return result;
        }
        result.components.emplace_back(component);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    }
    return result;
}

SandboxOpen openInSandbox(const std::filesystem::path& machineDirectory, const WindowsPath& path, bool write,
                          ULONG disposition, ULONG options)
{
    if (!path.ok()) {
        return refused(path.status);
    }
    if (machineDirectory.empty()) {
        return refused(STATUS_OBJECT_PATH_NOT_FOUND);
    }
    const std::filesystem::path drive = machineDirectory / std::string(1, path.drive);
    Descriptor directory(open(drive.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (directory.get() < 0) {
        return refused(errno == ELOOP ? STATUS_ACCESS_DENIED : STATUS_OBJECT_PATH_NOT_FOUND);
    }
    if (path.components.empty()) {
        return refused(STATUS_ACCESS_DENIED); // the drive's root is not opened as a file
    }
    for (std::size_t i = 0; i + 1 < path.components.size(); ++i) {
        const std::string name = findEntry(directory.get(), path.components[i]);
        struct stat link;
        if (fstatat(directory.get(), name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode)) {
            return refused(STATUS_ACCESS_DENIED);
        }
        const int next = openat(directory.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            return refused(statusOfErrno(errno, false));
        }
        directory.reset(next);
    }
    const std::string name = findEntry(directory.get(), path.components.back());
    struct stat info;
    const bool existed = fstatat(directory.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (existed && S_ISLNK(info.st_mode)) {
        return refused(STATUS_ACCESS_DENIED);
    }
    if (existed && !S_ISDIR(info.st_mode) && (!S_ISREG(info.st_mode) || info.st_nlink > 1)) {
        return refused(STATUS_ACCESS_DENIED); // devices, pipes and hard links may reach outside
    }
    const bool wantDirectory = (options & FILE_DIRECTORY_FILE) != 0 || path.trailingSeparator;
    if (existed && S_ISDIR(info.st_mode) && (options & FILE_NON_DIRECTORY_FILE)) {
        return refused(STATUS_FILE_IS_A_DIRECTORY);
    }
    if (existed && !S_ISDIR(info.st_mode) && wantDirectory) {
        return refused(STATUS_NOT_A_DIRECTORY);
    }
    if (wantDirectory || (existed && S_ISDIR(info.st_mode))) {
        return openDirectory(directory.get(), name, existed, disposition);
    }
    return openFile(directory.get(), name, existed, write, disposition);
}

} // namespace korval::host
