// The host's driver verifier: a rule violation stops the process with a message
// that names the rule and the place, like a bug check on the real platform.
#pragma once

#include <source_location>
#include <string_view>

namespace korval::host {

[[noreturn]] void bugCheck(std::string_view rule,
                           std::source_location where = std::source_location::current());

} // namespace korval::host
