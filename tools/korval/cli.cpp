#include "tools/korval/cli.h"

#include "tools/korval/command_line.h"
#include "tools/korval/driver_choice.h"
#include "tools/korval/json_failure.h"
#include "tools/korval/machine_session.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>

namespace korval::tools {
namespace {

constexpr CommandDefinition kCommands[] = {
    {"capture", "capture frames from the virtual camera through the driver to Y4M or PNG", defineCapture},
    {"chart-check", "measure how true the colours of the built-in chart come out, under a chosen light", defineChartCheck},
    {"completion", "print the bash completion script", defineCompletion},
    {"formats", "list every format, size and frame interval the driver offers", defineFormats},
    {"info", "load the driver on the emulated machine and show how it answers", defineInfo},
    {"man", "print the manual page (troff)", defineManual},
    {"process", "develop raw frames kept by 'capture --raw' again, with other settings", defineProcess},
    {"properties", "list the camera's properties, or --set NAME=VALUE", defineProperties},
    {"replay", "play a USB recording (pcap, pcapng) of the camera back through the driver", defineReplay},
    {"serve", "serve the live picture and the camera's property page to a local browser", defineServe},
    {"settings-checksum", "check (or --write) the settings checksum \"A_65\" of a .reg file", defineSettingsChecksum},
    {"snapshot", "press the camera's button while streaming and keep the still as a PNG", defineSnapshot},
};

constexpr ExitStatusRow kExitStatuses[] = {
    {kExitOk, "success"},
    {kExitFailure, "the driver or the camera failed (the status is named with its likely cause), or a still "
                   "could not be taken; settings-checksum: the table is not valid"},
    {kExitUsage, "a wrong option or value: an unknown option, a --set value outside the published range, two "
                 "outputs naming one file"},
    {kExitFile, "a file or the machine directory cannot be read or written (a full disk, a missing folder), or "
                "an output exists already (-y replaces it)"},
    {kExitBusy, "the machine directory is in use by another korval and --no-wait was given"},
    {kExitIncomplete, "process: frames of the input could not be developed (each is named with the reason; the "
                      "frames developed are written); replay: requests the recording cannot answer (each is named)"},
    {kExitInterrupted, "interrupted by Ctrl-C, SIGTERM or SIGHUP (what was captured is kept)"},
};

void printUsage(std::ostream& out)
{
    out << "usage: korval [--driver FILE] [--pixel-path PATH] <command> [options]\n       korval --version\n\n"
           "commands:\n";
    for (const auto& command : kCommands) {
        const std::string name = command.name;
        out << "  " << name << std::string(20 - name.size(), ' ') << command.summary << "\n";
    }
    out << "\n'korval <command> --help' describes a command.\n\n" << exitStatusText();
}

const CommandDefinition* findCommand(const std::string& name)
{
    for (const auto& command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

int runCommand(const CommandDefinition& command, const CommandRunner& runner, std::ostream& out, std::ostream& err);

int runParsed(const CommandDefinition& command, const std::vector<std::string>& args, std::ostream& out,
              std::ostream& err);

// Runs the command; with --json a failure is also told as a JSON object.
int runDefined(const CommandDefinition& command, const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err)
{
    if (!asksForJson(args)) {
        return runParsed(command, args, out, err);
    }
    RecordingStream recorded(err);
    const int code = runParsed(command, args, out, recorded);
    if (code != kExitOk && code != kExitInterrupted && code != kExitIncomplete) {
        printJsonFailure(videoOnStandardOutput(args) ? err : out, command.name, code, recorded.recorded());
    }
    return code;
}

int runParsed(const CommandDefinition& command, const std::vector<std::string>& args, std::ostream& out,
              std::ostream& err)
{
    CLI::App app(command.summary, std::string("korval ") + command.name);
    CommandRunner runner = command.define(app);
    if (commandLoadsDriver(command.name)) {
        declareDriverOptions(app);
    }
    std::string error;
    switch (parseCommandLine(app, args, error)) {
    case ParseOutcome::Help: out << commandHelp(app); return kExitOk;
    case ParseOutcome::Error: break;
    case ParseOutcome::Run:
        if (const auto problem = driverChoiceProblem(chosenDriver())) {
            error = *problem;
            break;
        }
        return runCommand(command, runner, out, err);
    }
    err << "korval " << command.name << ": " << error << "\n(see 'korval " << command.name << " --help')\n";
    return kExitUsage;
}

int runCommand(const CommandDefinition& command, const CommandRunner& runner, std::ostream& out, std::ostream& err)
{
    // Every failure becomes a message and an exit status; none aborts the program.
    try {
        return runner(out, err);
    } catch (const SessionError& failure) {
        err << "korval " << command.name << ": " << failure.what() << "\n";
        return failure.exitCode();
    } catch (const std::exception& failure) {
        err << "korval " << command.name << ": " << failure.what() << "\n";
        return kExitFailure;
    }
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

const char* const kKorvalVersion = "0.9.0";

std::span<const CommandDefinition> commandDefinitions()
{
    return kCommands;
}

std::span<const ExitStatusRow> exitStatusTable()
{
    return kExitStatuses;
}

std::string exitStatusText()
{
    std::string text = "exit status:\n";
    for (const auto& row : kExitStatuses) {
        std::string code = std::to_string(row.code);
        code.resize(5, ' ');
        text += "  " + code + row.meaning + "\n";
    }
    return text;
}

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

int runKorval(const std::vector<std::string>& given, std::ostream& out, std::ostream& err)
{
    const std::vector<std::string> args = driverOptionsAfterCommand(given);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printUsage(args.empty() ? err : out);
        return args.empty() ? kExitUsage : kExitOk;
    }
    if (args[0] == "--version" || args[0] == "-V") {
        out << "korval " << kKorvalVersion << "\n";
        return kExitOk;
    }
    const CommandDefinition* command = findCommand(args[0]);
    if (command == nullptr) {
        err << "korval: unknown command '" << args[0] << "' (see 'korval --help')\n";
        return kExitUsage;
    }
    return runDefined(*command, {args.begin() + 1, args.end()}, out, err);
}

int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    return runDefined(*findCommand("info"), args, out, err);
}

int runCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    return runDefined(*findCommand("capture"), args, out, err);
}

int runProperties(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    return runDefined(*findCommand("properties"), args, out, err);
}

int runSettingsChecksum(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    return runDefined(*findCommand("settings-checksum"), args, out, err);
}

} // namespace korval::tools
