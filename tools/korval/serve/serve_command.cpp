// korval serve: starts the machine and the web server, prints where the page
// is, and waits for Ctrl-C (SIGINT), SIGTERM or SIGHUP to close the stream and
// leave. The same signals end a wait for a busy machine directory.
#include "tools/korval/cli.h"
#include "tools/korval/serve/serve.h"
#include "tools/korval/serve/web_server.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <memory>
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
    sigaddset(&signals, SIGHUP);
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
        return failure.exitCode();
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

// The shared parser declares the options (for --help, completion and the man
// page); their values are then checked by serve's own rules, which name the
// option at fault.
CommandRunner defineServe(CLI::App& app)
{
    app.description("Plugs the virtual camera in, opens the driver's capture stream and serves a web page with the "
                    "live picture, every camera property, the effects and overlay frames, the snapshot button and "
                    "its still, until Ctrl-C. Only 127.0.0.1 and ::1 unless --listen names another address.");
    struct Declared {
        const char* name;
        const char* help;
        const char* text;
    };
    static constexpr Declared kOptions[] = {
        {"--port", "TCP port (default 8080; 0: any free port, printed at start)", "N"},
        {"--listen", "serve on this IPv4 or IPv6 address instead of loopback", "ADDR"},
        {"--machine", "keep the emulated machine in DIR", "DIR"},
        {"--scene", "bars (default), chart, moving or a PNG picture", "SCENE"},
        {"--light", "colour temperature of the light on the scene, 2000K..10000K (default 6500K)", "KELVIN"},
        {"--sensor", "real (default: overlapping filters, black level, noise) or ideal", "MODEL"},
        {"-s,--size", "640x480, 352x288 (default), 320x240, 176x144 or 160x120", "WxH"},
        {"-f,--format", "i420 (default) or rgb24", "FORMAT"},
        {"--usb-trace", "also write every USB transfer as pcap (usbmon, for Wireshark)", "FILE.pcap"},
    };
    auto values = std::make_shared<std::vector<std::pair<CLI::Option*, std::string>>>();
    values->reserve(std::size(kOptions));
    for (const auto& option : kOptions) {
        values->emplace_back(nullptr, std::string());
        values->back().first = app.add_option(option.name, values->back().second, option.help);
        values->back().first->option_text(option.text);
    }
    return [values](std::ostream& out, std::ostream& err) {
        std::vector<std::string> args;
        for (const auto& [option, value] : *values) {
            if (option->count() > 0) {
                args.push_back(option->get_name() + "=" + value);
            }
        }
        return runServe(args, out, err);
    };
}

} // namespace korval::tools
