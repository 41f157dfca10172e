// --json for failures too: a script that asked for JSON gets one object on
// standard output when the command fails, {"command", "exit_status", "error"},
// beside the usual message on standard error.
#pragma once

#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace korval::tools {

// A standard error that also keeps what was written to it.
class RecordingStream : public std::ostream {
public:
    explicit RecordingStream(std::ostream& target);
    std::string recorded() const { return buffer_.copy.str(); }

private:
    struct Tee : std::streambuf {
        explicit Tee(std::ostream& target) : target(target) {}
        int overflow(int c) override;
        std::streamsize xsputn(const char* text, std::streamsize count) override;
        int sync() override;
        std::ostream& target;
        std::ostringstream copy;
    };
    Tee buffer_;
};

// --json among the arguments (before a lone "--").
bool asksForJson(const std::vector<std::string>& args);
// The video goes to standard output ('-o -'): JSON then goes to standard error.
bool videoOnStandardOutput(const std::vector<std::string>& args);

// The error object; `messages` is what the command wrote to standard error.
void printJsonFailure(std::ostream& out, const std::string& command, int exitStatus, const std::string& messages);

} // namespace korval::tools
