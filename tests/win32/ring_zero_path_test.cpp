// The names the Windows ring-0 file calls accept: only files on a drive, none
// that leads to a parent folder, a device or another namespace.
#include "platform/files/RingZeroPath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string kernelPath(const char* fileName, ULONG capacity = R0_KERNEL_PATH_CHARS)
{
    WCHAR path[R0_KERNEL_PATH_CHARS + 1] = {};
    if (!RingZeroKernelPath(fileName, path, capacity)) {
        EXPECT_EQ(path[0], 0) << fileName;
        return "refused";
    }
    std::string text;
    for (const WCHAR* c = path; *c != 0; ++c) {
        text += static_cast<char>(*c);
    }
    return text;
}

TEST(RingZeroPath, TakesFilesOnADrive)
{
    EXPECT_EQ(kernelPath("C:\\StiImg.dat"), "\\DosDevices\\C:\\StiImg.dat");
    EXPECT_EQ(kernelPath("d:\\Frames\\wood p3.bmp"), "\\DosDevices\\d:\\Frames\\wood p3.bmp");
    EXPECT_EQ(kernelPath("C:\\a.b\\..c"), "\\DosDevices\\C:\\a.b\\..c");
}

TEST(RingZeroPath, RefusesWhatCouldLeaveTheDriversFolders)
{
    for (const char* name : {"", "C:", "C:\\", "C:StiImg.dat", "StiImg.dat", "\\StiImg.dat", "1:\\x",
                             "C:\\Frames\\..\\Windows\\x", "C:\\..\\x", "C:\\.\\x", "C:\\...\\x", "C:\\Frames\\",
                             "C:\\Frames\\\\x", "C:/Frames/x", "C:\\a:stream", "\\\\server\\share\\x",
                             "\\??\\C:\\x", "\\Device\\HarddiskVolume1\\x", "C:\\x\ty", "C:\\caf\xE9", "C:\\x*",
                             "C:\\x?", "C:\\<x>", "C:\\x|y", "C:\\\"x\""}) {
        EXPECT_EQ(kernelPath(name), "refused") << name;
    }
    EXPECT_FALSE(RingZeroKernelPath(nullptr, nullptr, 0));
}

TEST(RingZeroPath, RefusesANameTooLongForTheBuffer)
{
    const std::string name = "C:\\" + std::string(12, 'x'); // 15 characters after the 12 of the prefix
    EXPECT_EQ(kernelPath(name.c_str(), 28), "\\DosDevices\\" + name);
    EXPECT_EQ(kernelPath(name.c_str(), 27), "refused");
}

} // namespace
