// korval serve: the camera's live picture and property page in the browser.
#pragma once

#include "tools/korval/serve/serve_options.h"

#include <ostream>

namespace korval::tools::serve {

// Serves until SIGINT or SIGTERM, then closes the stream and returns the exit status.
int serveCamera(const ServeOptions& options, std::ostream& out, std::ostream& err);

} // namespace korval::tools::serve
