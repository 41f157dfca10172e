// The machine's drives: Windows paths ("\DosDevices\C:\x", "\??\C:\x",
// "C:\x") mapped inside the machine directory, walked one component at a
// time so that no "..", absolute path or symbolic link leads out of it.
#pragma once

#include "platform/Kernel.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korval::host {

struct WindowsPath {
    NTSTATUS status = STATUS_SUCCESS; // why the path was refused
    char drive = 'C';
    std::vector<std::string> components;
    bool trailingSeparator = false;
    bool ok() const { return NT_SUCCESS(status); }
};

WindowsPath parseWindowsPath(std::string_view path);

struct SandboxOpen {
    NTSTATUS status = STATUS_SUCCESS;
    int fd = -1;
    ULONG_PTR information = 0; // FILE_OPENED, FILE_CREATED ...
    bool directory = false;
};

// Opens or creates what `path` names inside `machineDirectory` with the
// kernel's disposition (FILE_OPEN ... FILE_OVERWRITE_IF) and options.
SandboxOpen openInSandbox(const std::filesystem::path& machineDirectory, const WindowsPath& path, bool write,
                          ULONG disposition, ULONG options);

} // namespace korval::host
