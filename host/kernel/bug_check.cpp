#include "host/kernel/bug_check.h"

#include <cstdio>
#include <cstdlib>

namespace korval::host {

void bugCheck(std::string_view rule, SourcePlace where)
{
    std::fprintf(stderr, "*** BUG CHECK: %.*s\n    at %s:%u (%s)\n", static_cast<int>(rule.size()), rule.data(),
                 where.file, where.line, where.function);
    std::fflush(stderr);
    std::abort();
}

} // namespace korval::host
