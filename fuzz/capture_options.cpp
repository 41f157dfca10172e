// Any command line given to 'korval capture': the options parse, or are
// refused with a message naming what is wrong; nothing else happens.
//
// Input: the arguments, separated by NUL bytes.
//
// The command's App is declared once and cleared between inputs, as the
// declaration costs far more than a parse; the arguments it binds are reset
// to their defaults for each input. What follows the parse is the tool's own
// path (parseCaptureOptions does the same three steps on a fresh App).
// CLI11's App::clear() keeps the list of options in the order they were
// parsed, which grows with every parse of a reused App; the harness empties it
// too, so memory stays flat over millions of inputs.
#include "tools/korval/capture_options.h"

#include <CLI/CLI.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> splitArguments(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args;
    if (size > 0) {
        args.emplace_back();
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back().push_back(static_cast<char>(data[i]));
        }
    }
    return args;
}

// An App that can be parsed again as if fresh.
class ReusableApp : public CLI::App {
public:
    using CLI::App::App;
    void reset()
    {
        clear();
        parse_order_.clear();
    }
};

struct DeclaredCapture {
    ReusableApp app{korval::tools::kCaptureDescription, "capture"};
    korval::tools::CaptureArguments given;
    DeclaredCapture() { korval::tools::declareCaptureOptions(app, given); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static DeclaredCapture* const declared = new DeclaredCapture;
    declared->given = korval::tools::CaptureArguments{};
    declared->app.reset();
    std::string error;
    bool refused = false;
    switch (korval::tools::parseCommandLine(declared->app, splitArguments(data, size), error)) {
    case korval::tools::ParseOutcome::Help: return 0;
    case korval::tools::ParseOutcome::Error: refused = true; break;
    case korval::tools::ParseOutcome::Run: refused = !korval::tools::checkCaptureOptions(declared->given, error); break;
    }
    if (refused && error.empty()) {
        std::abort(); // refused without saying why
    }
    return 0;
}
