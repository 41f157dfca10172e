#include "kernel_test_support.h"

#include <fstream>
#include <sstream>

namespace korval::host::testing {
namespace {

using FileTest = KernelTest;
using FileDeathTest = KernelTest;

NTSTATUS createFile(const char16_t* path, ACCESS_MASK access, ULONG disposition, HANDLE* handle,
                    IO_STATUS_BLOCK* ioStatus)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, reinterpret_cast<PCWSTR>(path));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    return ZwCreateFile(handle, access, &attributes, ioStatus, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_WRITE,
                        disposition, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0);
}

std::string hostFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(FileTest, StillFileIsCreatedOverwrittenAndLandsOnTheMachinesDriveC)
{
    HANDLE file = nullptr;
    IO_STATUS_BLOCK io{};
    ASSERT_EQ(createFile(u"\\DosDevices\\C:\\StiImg.dat", GENERIC_WRITE, FILE_OVERWRITE_IF, &file, &io), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, static_cast<ULONG_PTR>(FILE_CREATED));
    char data[] = "0123456789";
    EXPECT_EQ(ZwWriteFile(file, nullptr, nullptr, nullptr, &io, data, 10, nullptr, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, 10u);
    EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &io, data, 1, nullptr, nullptr), STATUS_ACCESS_DENIED);
    ZwClose(file);
    EXPECT_EQ(hostFile(machine_ / "C" / "StiImg.dat"), "0123456789");
    EXPECT_EQ(platform_->hostPath("C:\\StiImg.dat"), machine_ / "C" / "StiImg.dat");

    ASSERT_EQ(createFile(u"\\??\\c:\\stiimg.DAT", GENERIC_WRITE, FILE_OVERWRITE_IF, &file, &io), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, static_cast<ULONG_PTR>(FILE_OVERWRITTEN)) << "names compare without case";
    EXPECT_EQ(ZwWriteFile(file, nullptr, nullptr, nullptr, &io, data, 3, nullptr, nullptr), STATUS_SUCCESS);
    ZwClose(file);
    EXPECT_EQ(hostFile(machine_ / "C" / "StiImg.dat"), "012");
    platform_->checkNoHandleLeaks();
}

TEST_F(FileTest, OverlayReaderOpensSizesAndReadsWhole)
{
    std::filesystem::create_directories(machine_ / "C" / "Frames");
    std::ofstream(machine_ / "C" / "Frames" / "Heartp3.bmp", std::ios::binary) << std::string(1000, 'p');
    HANDLE file = nullptr;
    IO_STATUS_BLOCK io{};
    ASSERT_EQ(createFile(u"\\DosDevices\\C:\\Frames\\Heartp3.bmp", GENERIC_READ, FILE_OPEN, &file, &io), STATUS_SUCCESS);
    FILE_STANDARD_INFORMATION info{};
    EXPECT_EQ(ZwQueryInformationFile(file, &io, &info, sizeof(info), FileStandardInformation), STATUS_SUCCESS);
    EXPECT_EQ(info.EndOfFile.QuadPart, 1000);
    EXPECT_EQ(ZwQueryInformationFile(file, &io, &info, 8, FileStandardInformation), STATUS_INFO_LENGTH_MISMATCH);
    std::string buffer(1200, '\0');
    LARGE_INTEGER start{};
    EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &io, buffer.data(), 1200, &start, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, 1000u);
    EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &io, buffer.data(), 10, nullptr, nullptr), STATUS_SUCCESS)
        << "an explicit offset does not move a synchronous handle's pointer";
    EXPECT_EQ(io.Information, 10u);
    start.QuadPart = 1000;
    EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &io, buffer.data(), 10, &start, nullptr), STATUS_END_OF_FILE);
    ZwClose(file);
    EXPECT_EQ(createFile(u"\\DosDevices\\C:\\Frames\\Missingp3.bmp", GENERIC_READ, FILE_OPEN, &file, &io),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(createFile(u"\\DosDevices\\C:\\Nowhere\\x.bmp", GENERIC_READ, FILE_OPEN, &file, &io),
              STATUS_OBJECT_PATH_NOT_FOUND);
}

TEST_F(FileTest, PathsThatWouldLeaveTheMachineAreRefused)
{
    std::filesystem::create_directories(machine_ / "C" / "inner");
    const auto outside = machine_ / "outside-C";
    std::filesystem::create_directories(outside);
    std::filesystem::create_directory_symlink(outside, machine_ / "C" / "outside");
    std::filesystem::create_symlink("/etc/hostname", machine_ / "C" / "link.txt");
    HANDLE file = nullptr;
    IO_STATUS_BLOCK io{};
    const std::pair<const char16_t*, NTSTATUS> cases[] = {
        {u"\\DosDevices\\C:\\..\\registry.reg", STATUS_OBJECT_NAME_INVALID},
        {u"\\DosDevices\\C:\\inner\\..\\..\\x", STATUS_OBJECT_NAME_INVALID},
        {u"\\DosDevices\\C:\\.\\x", STATUS_OBJECT_NAME_INVALID},
        {u"/etc/passwd", STATUS_OBJECT_PATH_SYNTAX_BAD},
        {u"\\Device\\HarddiskVolume1\\x", STATUS_OBJECT_PATH_NOT_FOUND},
        {u"C:relative", STATUS_OBJECT_PATH_SYNTAX_BAD},
        {u"C:\\a/../../x", STATUS_OBJECT_NAME_INVALID},
        {u"C:\\outside\\x", STATUS_ACCESS_DENIED},
        {u"C:\\link.txt", STATUS_ACCESS_DENIED},
        {u"D:\\x", STATUS_OBJECT_PATH_NOT_FOUND},
    };
    for (const auto& [path, status] : cases) {
        EXPECT_EQ(createFile(path, GENERIC_WRITE, FILE_OVERWRITE_IF, &file, &io), status)
            << std::string(path, path + std::char_traits<char16_t>::length(path));
    }
    EXPECT_TRUE(std::filesystem::is_empty(outside));
    EXPECT_EQ(platform_->openHandleCount(), 0u);
}

TEST_F(FileTest, MachineWithoutDirectoryRefusesEveryFile)
{
    platform_.reset();
    platform_ = std::make_unique<Platform>();
    HANDLE file = nullptr;
    IO_STATUS_BLOCK io{};
    EXPECT_EQ(createFile(u"C:\\StiImg.dat", GENERIC_WRITE, FILE_OVERWRITE_IF, &file, &io), STATUS_OBJECT_PATH_NOT_FOUND);
}

TEST_F(FileTest, RingZeroServicesShareTheDrive)
{
    HANDLE file = nullptr;
    EXPECT_EQ(R0_OpenCreateFile("C:\\StiImg.dat", R0_ACCESS_READ, R0_ACTION_OPEN_EXISTING, &file),
              ULONG{R0_ERROR_FILE_NOT_FOUND});
    ASSERT_EQ(R0_OpenCreateFile("C:\\StiImg.dat", R0_ACCESS_WRITE, R0_ACTION_CREATE_ALWAYS, &file), ULONG{R0_NO_ERROR});
    ULONG count = 0;
    EXPECT_EQ(R0_WriteFile(file, "abcdef", 6, 0, &count), ULONG{R0_NO_ERROR});
    EXPECT_EQ(R0_WriteFile(file, "XY", 2, 2, &count), ULONG{R0_NO_ERROR});
    EXPECT_EQ(R0_CloseFile(file), ULONG{R0_NO_ERROR});
    EXPECT_EQ(R0_CloseFile(file), ULONG{R0_ERROR_INVALID_HANDLE});
    EXPECT_EQ(hostFile(machine_ / "C" / "StiImg.dat"), "abXYef");

    ASSERT_EQ(R0_OpenCreateFile("C:\\StiImg.dat", R0_ACCESS_READ, R0_ACTION_OPEN_EXISTING, &file), ULONG{R0_NO_ERROR});
    ULONG size = 0;
    EXPECT_EQ(R0_GetFileSize(file, &size), ULONG{R0_NO_ERROR});
    EXPECT_EQ(size, 6u);
    char buffer[8] = {};
    EXPECT_EQ(R0_ReadFile(file, buffer, 8, 3, &count), ULONG{R0_NO_ERROR});
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::string(buffer, 3), "Yef");
    EXPECT_EQ(R0_WriteFile(file, "z", 1, 0, &count), ULONG{R0_ERROR_ACCESS_DENIED});
    R0_CloseFile(file);
    EXPECT_EQ(R0_OpenCreateFile("C:\\..\\registry.reg", R0_ACCESS_READ, R0_ACTION_OPEN_EXISTING, &file),
              ULONG{R0_ERROR_ACCESS_DENIED});
    platform_->checkNoHandleLeaks();
}

TEST_F(FileDeathTest, FileCallsAbovePassiveLevelStop)
{
    HANDLE file = nullptr;
    IO_STATUS_BLOCK io{};
    EXPECT_DEATH(
        {
            KfRaiseIrql(DISPATCH_LEVEL);
            createFile(u"C:\\x", GENERIC_WRITE, FILE_OVERWRITE_IF, &file, &io);
        },
        "ZwCreateFile called at IRQL 2");
    EXPECT_DEATH(
        {
            ASSERT_EQ(createFile(u"C:\\x", GENERIC_WRITE, FILE_OVERWRITE_IF, &file, &io), STATUS_SUCCESS);
            platform_->checkNoHandleLeaks();
        },
        "handles still open: \\[file C:\\\\x\\]");
}

} // namespace
} // namespace korval::host::testing
