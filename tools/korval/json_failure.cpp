#include "tools/korval/json_failure.h"

#include "tools/korval/json_writer.h"

namespace korval::tools {

RecordingStream::RecordingStream(std::ostream& target) : std::ostream(nullptr), buffer_(target)
{
    rdbuf(&buffer_);
}

int RecordingStream::Tee::overflow(int c)
{
    if (c != traits_type::eof()) {
        copy.put(static_cast<char>(c));
        target.put(static_cast<char>(c));
    }
    return c == traits_type::eof() ? 0 : c;
}

std::streamsize RecordingStream::Tee::xsputn(const char* text, std::streamsize count)
{
    copy.write(text, count);
    target.write(text, count);
    return count;
}

int RecordingStream::Tee::sync()
{
    target.flush();
    return 0;
}

bool asksForJson(const std::vector<std::string>& args)
{
    for (const std::string& arg : args) {
        if (arg == "--") {
            return false;
        }
        if (arg == "--json") {
            return true;
        }
    }
    return false;
}

bool videoOnStandardOutput(const std::vector<std::string>& args)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool named = args[i] == "-o" || args[i] == "--output";
        if ((named && i + 1 < args.size() && args[i + 1] == "-") || args[i] == "--output=-" || args[i] == "-o-") {
            return true;
        }
    }
    return false;
}

namespace {

// The error lines ("korval capture: ..."), without the prefix; warnings and
// progress are left out.
std::string errorLines(const std::string& command, const std::string& messages)
{
    const std::string prefix = "korval " + command + ": ";
    std::string lines;
    std::size_t at = 0;
    while (at < messages.size()) {
        const std::size_t end = std::min(messages.find('\n', at), messages.size());
        std::string line = messages.substr(at, end - at);
        at = end + 1;
        if (line.rfind("korval", 0) != 0 || line.find("warning:") != std::string::npos) {
            continue;
        }
        if (line.rfind(prefix, 0) == 0) {
            line.erase(0, prefix.size());
        }
        lines += (lines.empty() ? "" : "\n") + line;
    }
    return lines;
}

} // namespace

void printJsonFailure(std::ostream& out, const std::string& command, int exitStatus, const std::string& messages)
{
    std::string error = errorLines(command, messages);
    if (error.empty()) {
        error = messages.substr(0, messages.find_last_not_of("\n\r ") + 1);
    }
    JsonWriter json(out);
    json.beginObject();
    json.field("command", command);
    json.field("exit_status", static_cast<long>(exitStatus));
    json.field("error", error);
    json.endObject();
    out << "\n" << std::flush;
}

} // namespace korval::tools
