// korval serve: starts the machine and the web server, prints where the page
// is, and waits for Ctrl-C (SIGINT) or SIGTERM to close the stream and leave.
#include "tools/korval/cli.h"
#include "tools/korval/serve/serve.h"
#include "tools/korval/serve/web_server.h"

#include <csignal>
#include <pthread.h>

namespace korval::tools {
namespace serve {
namespace {

// Blocks the stop signals in this thread and every thread it starts, so that
// they wait for sigwait here instead of interrupting a worker.
sigset_t blockStopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

} // namespace

int serveCamera(const ServeOptions& options, std::ostream& out, std::ostream& err)
{
    const sigset_t stopSignals = blockStopSignals();
    std::signal(SIGPIPE, SIG_IGN); // a viewer that goes away is a failed write, not the end
    try {
        CameraService service(options);
        WebServer server(service, options.listen, options.port);
        std::string error;
        if (!server.start(error)) {
            err << "korval serve: " << error << "\n";
            return 1;
        }
        for (const auto& url : server.urls()) {
            out << "serving " << url << "\n";
        }
        out << "press Ctrl-C to stop" << std::endl;
        int received = 0;
        sigwait(&stopSignals, &received);
        service.frames().close(); // the picture streams end at once
        server.stop();
        service.shutdown();
        out << "stopped: stream closed" << std::endl;
    } catch (const SessionError& failure) {
        err << "korval serve: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}

} // namespace serve

int runServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto options = serve::parseServeOptions(args, error);
    if (!options) {
        err << "korval serve: " << error << "\n" << serve::kServeUsage;
        return 2;
    }
    if (options->help) {
        out << serve::kServeUsage;
        return 0;
    }
    return serve::serveCamera(*options, out, err);
}

} // namespace korval::tools
