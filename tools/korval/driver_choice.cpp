#include "tools/korval/driver_choice.h"

#include "driver/Driver.h"
#include "host/kernel/debug_print.h"
#include "platform/CpuFeatures.h"
#include "tools/korval/cli.h"
#include "tools/korval/machine_session.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace korval::tools {
namespace {

struct NamedPath {
    const char* name;
    CPU_PATH limit;
};

constexpr NamedPath kPixelPaths[] = {
    {"auto", CpuPathAvx512}, {"avx512", CpuPathAvx512}, {"avx2", CpuPathAvx2}, {"sse2", CpuPathSse2},
    {"plain", CpuPathPlain}};

// The driver reports its choice once at DriverEntry: "korval: pixel path SSE2 (processor: ...".
std::string reportedPixelPath()
{
    constexpr std::string_view kPrefix = "korval: pixel path ";
    const std::vector<std::string> lines = host::debugLines();
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (line->rfind(kPrefix, 0) == 0) {
            const std::string rest = line->substr(kPrefix.size());
            return rest.substr(0, rest.find(' '));
        }
    }
    return "not reported";
}

std::filesystem::path thirtyTwoBitKorval()
{
    if (const char* given = std::getenv("KORVAL32"); given != nullptr && *given != '\0') {
        return given;
    }
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return self.parent_path().parent_path() / "abi32" / "korval";
}

std::vector<char*> argumentVector(std::vector<std::string>& words)
{
    std::vector<char*> vector;
    for (std::string& word : words) {
        vector.push_back(word.data());
    }
    vector.push_back(nullptr);
    return vector;
}

} // namespace

DriverChoice& chosenDriver()
{
    static DriverChoice choice;
    return choice;
}

bool commandLoadsDriver(std::string_view command)
{
    for (const char* name : {"capture", "formats", "info", "process", "properties", "replay", "serve", "snapshot"}) {
        if (command == name) {
            return true;
        }
    }
    return false;
}

void declareDriverOptions(CLI::App& app)
{
    chosenDriver() = {};
    app.add_option("--driver", chosenDriver().image,
                   "run this korval.sys (the Windows image) instead of the driver built into korval")
        ->option_text("FILE");
    app.add_option("--pixel-path", chosenDriver().pixelPath,
                   "the built-in driver's pixel code: auto (default: the best the processor has), avx512, avx2, "
                   "sse2 or plain; an image chooses by cpuid")
        ->option_text("PATH");
}

std::optional<std::string> driverChoiceProblem(const DriverChoice& choice)
{
    bool known = false;
    for (const NamedPath& path : kPixelPaths) {
        known = known || choice.pixelPath == path.name;
    }
    if (!known) {
        return "--pixel-path '" + choice.pixelPath + "': expected auto, avx512, avx2, sse2 or plain";
    }
    if (!choice.image.empty() && choice.pixelPath != "auto") {
        return "--pixel-path '" + choice.pixelPath +
               "' selects the built-in driver's path; the image given with --driver chooses its own by cpuid";
    }
    return std::nullopt;
}

NTSTATUS DriverLoader::load(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
{
    const DriverChoice& choice = chosenDriver();
    if (choice.image.empty()) {
        // auto keeps the path as it is: the processor's best unless a test lowered it.
        for (const NamedPath& path : kPixelPaths) {
            if (choice.pixelPath != "auto" && choice.pixelPath == path.name) {
                CpuFeaturesLimit(path.limit);
            }
        }
        return DriverEntry(driverObject, registryPath);
    }
    if (!kRunsDriverImages) {
        throw SessionError("--driver '" + choice.image.string() + "': the Windows image runs in the 32-bit korval "
                           "(build/abi32/korval); this one runs only its built-in driver", kExitUsage);
    }
    if (!std::filesystem::is_regular_file(choice.image)) {
        throw SessionError("--driver '" + choice.image.string() + "': no such file", kExitFile);
    }
    try {
        image_ = std::make_unique<host::DriverImage>(choice.image, host::platformImportResolver());
    } catch (const host::PeFormatError& refused) {
        throw SessionError(std::string("the driver did not load: ") + refused.what());
    }
    return image_->callEntry(driverObject, registryPath);
}

std::string DriverLoader::pixelPath() const
{
    return image_ ? reportedPixelPath() : std::string(CpuPathName(CpuCurrentPath()));
}

std::vector<std::string> driverOptionsAfterCommand(const std::vector<std::string>& args)
{
    std::vector<std::string> options;
    std::size_t next = 0;
    while (next < args.size()) {
        const std::string& arg = args[next];
        const bool joined = arg.rfind("--driver=", 0) == 0 || arg.rfind("--pixel-path=", 0) == 0;
        const bool separate = arg == "--driver" || arg == "--pixel-path";
        if (!joined && !(separate && next + 1 < args.size())) {
            break;
        }
        const std::size_t words = joined ? 1 : 2;
        options.insert(options.end(), args.begin() + next, args.begin() + next + words);
        next += words;
    }
    if (options.empty() || next == args.size()) {
        return args;
    }
    std::vector<std::string> moved{args[next]};
    moved.insert(moved.end(), options.begin(), options.end());
    moved.insert(moved.end(), args.begin() + next + 1, args.end());
    return moved;
}

bool namesDriverImage(const std::vector<std::string>& args)
{
    for (const std::string& arg : args) {
        if (arg == "--driver" || arg.rfind("--driver=", 0) == 0) {
            return true;
        }
    }
    return false;
}

int runThirtyTwoBitKorval(const std::vector<std::string>& args, std::ostream& err)
{
    const std::filesystem::path tool = thirtyTwoBitKorval();
    if (!std::filesystem::exists(tool)) {
        err << "korval: --driver runs the Windows image in the 32-bit korval, and '" << tool.string()
            << "' is not built.\n  Build it: cmake -S . -B build/abi32 -G Ninja "
               "-DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-winabi.cmake -DCMAKE_BUILD_TYPE=Release && "
               "cmake --build build/abi32 --target korval\n  (or name it with KORVAL32=PATH)\n";
        return kExitFile;
    }
    std::vector<std::string> words{tool.string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> direct = argumentVector(words);
    ::execv(direct[0], direct.data());
    const int directError = errno;
    // This machine may not run i386 code itself ("Exec format error"): qemu does.
    words.insert(words.begin(), "qemu-i386-static");
    std::vector<char*> emulated = argumentVector(words);
    ::execvp(emulated[0], emulated.data());
    err << "korval: cannot start '" << tool.string() << "': " << std::strerror(directError)
        << ", and qemu-i386-static cannot be started either: " << std::strerror(errno)
        << " (Debian package qemu-user-static)\n";
    return kExitFailure;
}

} // namespace korval::tools
