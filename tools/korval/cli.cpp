#include "tools/korval/cli.h"

#include "tools/korval/machine_session.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>

namespace korval::tools {
namespace {

struct Command {
    std::function<int(const std::vector<std::string>&, std::ostream&, std::ostream&)> run;
    const char* summary;
};

const std::map<std::string, Command>& commands()
{
    static const std::map<std::string, Command> table = {
        {"capture", {runCapture, "capture frames from the virtual camera through the driver to Y4M or PNG"}},
        {"info", {runInfo, "load the driver on the emulated machine and show how it answers"}},
        {"properties", {runProperties, "list the camera's properties, or --set NAME=VALUE"}},
        {"settings-checksum",
         {runSettingsChecksum, "check (or --write) the settings checksum \"A_65\" of a .reg file"}},
    };
    return table;
}

void printUsage(std::ostream& out)
{
    out << "usage: korval <command> [options]\n\ncommands:\n";
    for (const auto& [name, command] : commands()) {
        out << "  " << name << std::string(20 - name.size(), ' ') << command.summary << "\n";
    }
    out << "\n'korval <command> --help' describes a command.\n"
           "\nexit status: 0 success, 1 the driver or camera failed, 2 a wrong option or value,\n"
           "3 a file or the machine directory cannot be read or written, 4 the machine directory\n"
           "is in use (--no-wait), 130 interrupted by Ctrl-C (what was captured is kept).\n";
}

struct NamedStatus {
    unsigned long code;
    const char* name;
};

constexpr NamedStatus kStatusNames[] = {
    {0x00000000, "STATUS_SUCCESS"},
    {0x00000102, "STATUS_TIMEOUT"},
    {0x00000103, "STATUS_PENDING"},
    {0x80000005, "STATUS_BUFFER_OVERFLOW"},
    {0xC0000001, "STATUS_UNSUCCESSFUL"},
    {0xC000000D, "STATUS_INVALID_PARAMETER"},
    {0xC000000E, "STATUS_NO_SUCH_DEVICE"},
    {0xC0000010, "STATUS_INVALID_DEVICE_REQUEST"},
    {0xC0000022, "STATUS_ACCESS_DENIED"},
    {0xC0000023, "STATUS_BUFFER_TOO_SMALL"},
    {0xC000009A, "STATUS_INSUFFICIENT_RESOURCES"},
    {0xC000009D, "STATUS_DEVICE_NOT_CONNECTED"},
    {0xC00000BB, "STATUS_NOT_SUPPORTED"},
    {0xC0000120, "STATUS_CANCELLED"},
    {0xC0000185, "STATUS_IO_DEVICE_ERROR"},
    {0xC0000272, "STATUS_NO_MATCH"},
};

} // namespace

std::string statusName(long status)
{
    const auto code = static_cast<unsigned long>(static_cast<std::uint32_t>(status));
    char number[16];
    std::snprintf(number, sizeof(number), "0x%08lX", code);
    for (const auto& known : kStatusNames) {
        if (known.code == code) {
            return std::string(known.name) + " (" + number + ")";
        }
    }
    return number;
}

int runKorval(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printUsage(args.empty() ? err : out);
        return args.empty() ? 2 : 0;
    }
    auto found = commands().find(args[0]);
    if (found == commands().end()) {
        err << "korval: unknown command '" << args[0] << "' (see 'korval --help')\n";
        return 2;
    }
    // Every failure becomes a message and an exit status; none aborts the program.
    try {
        return found->second.run({args.begin() + 1, args.end()}, out, err);
    } catch (const SessionError& failure) {
        err << "korval " << args[0] << ": " << failure.what() << "\n";
        return failure.exitCode();
    } catch (const std::exception& failure) {
        err << "korval " << args[0] << ": " << failure.what() << "\n";
        return kExitFailure;
    }
}

} // namespace korval::tools
