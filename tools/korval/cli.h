// The korval command line: subcommands over the emulated machine.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace korval::tools {

// Runs one command line (without the program name); returns the exit status.
int runKorval(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runProperties(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runSettingsChecksum(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace korval::tools
