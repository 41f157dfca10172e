// The korval command line: subcommands over the emulated machine.
#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace korval::tools {

// Exit codes, the same for every command; exitStatusTable() says what each
// means, for 'korval --help', the manual page and the README.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,     // the driver or the camera failed (the message names the status)
    kExitUsage = 2,       // a wrong option or value
    kExitFile = 3,        // a file or the machine directory cannot be read or written
    kExitBusy = 4,        // the machine directory is in use and --no-wait was given
    kExitIncomplete = 5,  // process: frames of the input were skipped (named; the rest was written)
    kExitInterrupted = 130, // Ctrl-C, SIGTERM or SIGHUP: what was captured so far is kept
};

struct ExitStatusRow {
    int code;
    const char* meaning;
};

std::span<const ExitStatusRow> exitStatusTable();
// The table as 'korval --help' prints it: "exit status:" and a line per row.
std::string exitStatusText();

// "STATUS_INVALID_PARAMETER (0xC000000D)", or the number alone for a status without a name here.
std::string statusName(long status);

// What runs a command once its options are parsed: (standard output, standard error) → exit code.
using CommandRunner = std::function<int(std::ostream&, std::ostream&)>;

// One subcommand. `define` declares its options on the App (the same
// declarations serve parsing, --help, the bash completion and the man page)
// and returns the runner bound to them. A new subcommand is one more entry in
// commandDefinitions() (cli.cpp).
struct CommandDefinition {
    const char* name;
    const char* summary;
    CommandRunner (*define)(CLI::App& app);
};

std::span<const CommandDefinition> commandDefinitions();

// Runs one command line (without the program name); returns the exit status.
int runKorval(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

CommandRunner defineInfo(CLI::App& app);
CommandRunner defineCapture(CLI::App& app);
CommandRunner defineSnapshot(CLI::App& app);
CommandRunner defineFormats(CLI::App& app);
CommandRunner defineProcess(CLI::App& app);
CommandRunner defineChartCheck(CLI::App& app);
CommandRunner defineProperties(CLI::App& app);
CommandRunner defineReplay(CLI::App& app);
CommandRunner defineServe(CLI::App& app);
CommandRunner defineSettingsChecksum(CLI::App& app);
CommandRunner defineCompletion(CLI::App& app);
CommandRunner defineManual(CLI::App& app);

// The subcommands by name, as before the shared parser (kept for callers).
int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runProperties(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runSettingsChecksum(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

extern const char* const kKorvalVersion;

} // namespace korval::tools
