// korval serve in the 32-bit build, which has no JPEG encoder: it says which
// build serves the page instead.
#include "tools/korval/cli.h"

#include <CLI/CLI.hpp>

namespace korval::tools {

CommandRunner defineServe(CLI::App& app)
{
    app.description("Not in this 32-bit build (it has no JPEG encoder): run the 64-bit korval's serve.");
    app.allow_extras();
    return [](std::ostream&, std::ostream& err) {
        err << "korval serve: not in this 32-bit build, which has no JPEG encoder; "
               "run build/release/korval serve\n";
        return 2;
    };
}

} // namespace korval::tools
