// korval completion and korval man: the bash completion script and the
// manual page, both walked out of the commands' own option declarations, so
// they never disagree with what the parser accepts.
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/driver_choice.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <sstream>

namespace korval::tools {
namespace {

// Values the completion offers for an option whose value is one of a few words.
std::string wordsFor(const std::string& option)
{
    if (option == "--format") {
        return "i420 rgb24";
    }
    if (option == "--size") {
        return "640x480 352x288 320x240 176x144 160x120";
    }
    if (option == "--scene") {
        return "bars chart moving";
    }
    if (option == "--clock") {
        return "lockstep fast real";
    }
    if (option == "--sensor") {
        return "real ideal";
    }
    if (option == "--light") {
        return "2850K 5000K 6500K";
    }
    return "";
}

struct DeclaredCommand {
    const CommandDefinition* definition;
    std::unique_ptr<CLI::App> app;
    CommandRunner runner; // keeps the option targets alive
};

std::vector<DeclaredCommand> declaredCommands()
{
    std::vector<DeclaredCommand> commands;
    for (const auto& definition : commandDefinitions()) {
        auto app = std::make_unique<CLI::App>(definition.summary, definition.name);
        CommandRunner runner = definition.define(*app);
        if (commandLoadsDriver(definition.name)) {
            declareDriverOptions(*app);
        }
        commands.push_back({&definition, std::move(app), std::move(runner)});
    }
    return commands;
}

std::string optionNames(const CLI::Option& option, const char* separator)
{
    std::string names;
    for (const auto& name : option.get_snames()) {
        names.append(names.empty() ? "" : separator).append("-").append(name);
    }
    for (const auto& name : option.get_lnames()) {
        names.append(names.empty() ? "" : separator).append("--").append(name);
    }
    return names;
}

void writeBashCase(const DeclaredCommand& command, std::ostream& out)
{
    std::string flags = "--help";
    std::string valued;
    for (const CLI::Option* option : command.app->get_options()) {
        if (!option->nonpositional() || option->get_lnames().empty() || option->get_lnames().front() == "help") {
            continue;
        }
        flags += " " + optionNames(*option, " ");
        const std::string longName = "--" + option->get_lnames().front();
        if (option->get_expected_min() > 0) {
            const std::string words = wordsFor(longName);
            valued += "            " + optionNames(*option, "|") + ") " +
                      (words.empty() ? "COMPREPLY=($(compgen -f -- \"$cur\"))" : "COMPREPLY=($(compgen -W \"" + words + "\" -- \"$cur\"))") +
                      "; return ;;\n";
        }
    }
    out << "        " << command.definition->name << ")\n"
        << "            case \"$prev\" in\n" << valued << "            esac\n"
        << "            COMPREPLY=($(compgen -W \"" << flags << "\" -- \"$cur\")) ;;\n";
}

int printCompletion(std::ostream& out)
{
    const auto commands = declaredCommands();
    std::string names;
    for (const auto& command : commands) {
        names.append(names.empty() ? "" : " ").append(command.definition->name);
    }
    out << "# bash completion for korval, made by 'korval completion'\n"
           "_korval() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    if ((COMP_CWORD == 1)); then\n"
           "        COMPREPLY=($(compgen -W \""
        << names
        << " --help --version\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    case \"${COMP_WORDS[1]}\" in\n";
    for (const auto& command : commands) {
        writeBashCase(command, out);
    }
    out << "    esac\n}\ncomplete -F _korval korval\n";
    return kExitOk;
}

// Text for troff: a leading dot or quote would start a request, a backslash an escape.
std::string roff(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) {
        out.insert(0, "\\&");
    }
    return out;
}

int printManual(std::ostream& out)
{
    out << ".TH KORVAL 1 \"\" \"korval " << kKorvalVersion << "\" \"User Commands\"\n"
        << ".SH NAME\nkorval \\- capture video, properties and stills through the korval camera driver\n"
        << ".SH SYNOPSIS\n.B korval\n.I command\n[\\fIoptions\\fR]\n"
        << ".SH DESCRIPTION\nkorval plugs a virtual USB camera into an emulated machine, loads the driver and "
           "talks to it as a capture application would. Files it writes open in ordinary programs: Y4M video, PNG "
           "pictures.\n"
        << ".SH COMMANDS\n";
    for (const auto& command : declaredCommands()) {
        out << ".SS " << command.definition->name << "\n" << roff(command.app->get_description()) << "\n";
        for (const CLI::Option* option : command.app->get_options()) {
            if (option->get_lnames().empty() && option->nonpositional()) {
                continue;
            }
            const std::string names = option->nonpositional() ? optionNames(*option, ", ") : option->get_name();
            out << ".TP\n.B " << roff(names);
            if (option->nonpositional() && option->get_expected_min() > 0) {
                out << " \\fI" << roff(option->get_option_text().empty() ? "VALUE" : option->get_option_text())
                    << "\\fR";
            }
            out << "\n" << roff(option->get_description()) << "\n";
        }
    }
    out << ".SH EXIT STATUS\n";
    for (const auto& row : exitStatusTable()) {
        out << ".TP\n.B " << row.code << "\n" << roff(row.meaning) << "\n";
    }
    out << ".SH EXAMPLES\n.nf\nkorval capture \\-n 60 \\-o capture.y4m\nkorval capture \\-o \\- | ffplay \\-\n"
           "korval properties \\-\\-machine cam \\-\\-set saturation=0\nkorval snapshot \\-o still.png\n.fi\n";
    return kExitOk;
}

} // namespace

CommandRunner defineCompletion(CLI::App& app)
{
    app.description("Prints the bash completion script (installed as share/bash-completion/completions/korval).");
    return [](std::ostream& out, std::ostream&) { return printCompletion(out); };
}

CommandRunner defineManual(CLI::App& app)
{
    app.description("Prints the manual page in troff (installed as share/man/man1/korval.1).");
    return [](std::ostream& out, std::ostream&) { return printManual(out); };
}

} // namespace korval::tools
