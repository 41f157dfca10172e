#include "tools/korval/cli.h"

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
        {"serve", {runServe, "serve the live picture and the camera's property page to a local browser"}},
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
    out << "\n'korval <command> --help' describes a command.\n";
}

} // namespace

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
    return found->second.run({args.begin() + 1, args.end()}, out, err);
}

} // namespace korval::tools
