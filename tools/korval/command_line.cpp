#include "tools/korval/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>

namespace korval::tools {
namespace {

// "--size: 1 required TEXT missing" → "--size".
std::string optionOf(const std::string& message)
{
    return message.substr(0, message.find(':'));
}

std::string describe(const CLI::ParseError& failure)
{
    const std::string message = failure.what();
    if (failure.get_name() == "ArgumentMismatch") {
        return "option '" + optionOf(message) + "' needs a value";
    }
    return message;
}

// The text in lines of at most 78 characters, broken between words.
std::string wrapped(const std::string& text)
{
    std::string out;
    std::size_t lineLength = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        const std::string word = text.substr(at, end - at);
        if (lineLength > 0 && lineLength + 1 + word.size() > 78) {
            out += "\n";
            lineLength = 0;
        } else if (lineLength > 0) {
            out += " ";
            ++lineLength;
        }
        out += word;
        lineLength += word.size();
        at = end + 1;
    }
    return out.empty() ? out : out + "\n";
}

} // namespace

ParseOutcome parseCommandLine(CLI::App& app, const std::vector<std::string>& args, std::string& error)
{
    app.allow_extras(true);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return ParseOutcome::Help;
    } catch (const CLI::ParseError& failure) {
        error = describe(failure);
        return ParseOutcome::Error;
    }
    const std::vector<std::string> extras = app.remaining();
    if (!extras.empty()) {
        const std::string& first = extras.front();
        error = first.starts_with("-") ? "unknown option '" + first.substr(0, first.find('=')) + "'"
                                       : "unexpected argument '" + first + "'";
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

std::string commandHelp(const CLI::App& app)
{
    std::string usage = "usage: " + app.get_name() + " [options]";
    std::string listing;
    for (const CLI::Option* option : app.get_options()) {
        if (!option->nonpositional()) {
            usage += " " + option->get_name();
        }
        std::string names = option->nonpositional() ? option->get_name(false, true) : option->get_name();
        if (option->nonpositional() && option->get_expected_min() > 0) {
            names += " " + (option->get_option_text().empty() ? std::string("VALUE") : option->get_option_text());
        }
        names.resize(std::max<std::size_t>(names.size() + 2, 28), ' ');
        listing += "  " + names + option->get_description() + "\n";
    }
    return usage + "\n\n" + wrapped(app.get_description()) + "\noptions:\n" + listing;
}

void declareSetOption(CLI::App& app, std::vector<std::string>& sets, const std::string& help)
{
    app.add_option("--set", sets, help)->option_text("NAME=VALUE")->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void declareMachineOptions(CLI::App& app, std::string& machine, bool& noWait, const std::string& help)
{
    app.add_option("--machine", machine, help)->option_text("DIR");
    app.add_flag("--no-wait", noWait, "refuse at once when another korval uses the machine directory");
}

} // namespace korval::tools
