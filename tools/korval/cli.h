// The korval command line: subcommands over the emulated machine.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace korval::tools {

// Exit codes, the same for every command (listed in 'korval --help').
enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,     // the driver or the camera failed (the message names the status)
    kExitUsage = 2,       // a wrong option or value
    kExitFile = 3,        // a file or the machine directory cannot be read or written
    kExitBusy = 4,        // the machine directory is in use and --no-wait was given
    kExitInterrupted = 130, // Ctrl-C: what was captured so far is kept
};

// "STATUS_INVALID_PARAMETER (0xC000000D)", or the number alone for a status without a name here.
std::string statusName(long status);

// Runs one command line (without the program name); returns the exit status.
int runKorval(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runProperties(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runSettingsChecksum(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace korval::tools
