// The one option parser of every korval command: each command declares its
// options on a CLI11 App, and the same declarations give --help, the bash
// completion and the man page. Values are taken as text and checked by the
// command, so every message names the option and value at fault in one style.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// CLI11's header costs seconds of compile time in every file that includes it;
// only the files that declare or parse options do.
namespace CLI {
class App;
}

namespace korval::tools {

enum class ParseOutcome { Run, Help, Error };

// Parses `args` (without the command name) into the options declared on
// `app`; Help when --help was given; Error with `error` naming the argument.
ParseOutcome parseCommandLine(CLI::App& app, const std::vector<std::string>& args, std::string& error);

// The App's help text: usage line, description and options.
std::string commandHelp(const CLI::App& app);

// Options that several commands declare alike.
// --set NAME=VALUE, repeatable; `help` says when the values take effect.
void declareSetOption(CLI::App& app, std::vector<std::string>& sets, const std::string& help);
// --machine DIR (`help` says what it is for) and --no-wait.
void declareMachineOptions(CLI::App& app, std::string& machine, bool& noWait, const std::string& help);

} // namespace korval::tools
