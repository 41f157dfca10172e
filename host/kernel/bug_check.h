// The host's driver verifier: a rule violation stops the process with a message
// that names the rule and the place, like a bug check on the real platform.
#pragma once

#include <string_view>

namespace korval::host {

// Where a check was made (std::source_location is not usable with every
// compiler the sanitizer builds take, so the compiler built-ins fill this).
struct SourcePlace {
    const char* file;
    unsigned line;
    const char* function;

    static constexpr SourcePlace current(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE(),
                                         const char* function = __builtin_FUNCTION()) noexcept
    {
        return {file, line, function};
    }
};

[[noreturn]] void bugCheck(std::string_view rule, SourcePlace where = SourcePlace::current());

} // namespace korval::host
