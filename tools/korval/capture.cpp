// korval capture: plugs the virtual camera in, opens the driver's capture
// stream as a capture application would (format from the offered ranges, a
// master clock, stop → acquire → pause → run), applies --set through the
// property requests, reads frames with two requests in flight and writes them
// out, then stops and closes the stream. Ctrl-C finishes the frame in hand
// and ends the capture as if it had reached its count, with exit status 130.
#include "driver/StreamFormats.h"
#include "tools/korval/camera_properties.h"
#include "tools/korval/capture_options.h"
#include "tools/korval/cli.h"
#include "tools/korval/frame_sink.h"
#include "tools/korval/machine_session.h"
#include "tools/korval/registry_defaults.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <deque>
#include <optional>

namespace korval::tools {
namespace {

// Requests answered empty in a row (each up to the driver's 0.5 s frame wait)
// before the camera counts as silent.
constexpr int kMaxEmptyReadsInARow = 40;
constexpr std::size_t kReadsInFlight = 2;

std::atomic<bool> interruptRequested{false};

extern "C" void onInterrupt(int)
{
    interruptRequested.store(true);
}

// Ctrl-C asks the capture to end; a second one kills the program as usual.
class InterruptGuard {
public:
    InterruptGuard()
    {
        interruptRequested.store(false);
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~InterruptGuard()
    {
        sigaction(SIGINT, &previous_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction previous_ {};
    struct sigaction previousTerm_ {};
};

struct CaptureTally {
    int frames = 0;
    int emptyReads = 0;
    std::int64_t dropped = 0;
    std::int64_t firstTime = -1;
    std::int64_t lastTime = 0;
};

std::string seconds(std::int64_t ticks)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f s", static_cast<double>(ticks) / 1e7);
    return text;
}

std::string rateText(const FrameRate& rate)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f fps", static_cast<double>(rate.numerator) / rate.denominator);
    return text;
}

std::unique_ptr<camera::Scene> makeScene(const std::string& name, std::string& error)
{
    if (name == "bars") {
        return camera::makeColourBars();
    }
    if (name == "chart") {
        return camera::makeColourChart();
    }
    if (name == "moving") {
        return camera::makeMovingPattern();
    }
    std::string reason;
    auto scene = camera::loadPngScene(name, reason);
    if (!scene) {
        error = "--scene: cannot use '" + name + "': " + reason;
    }
    return scene;
}

std::optional<host::FormatBytes> chooseFormat(host::StreamClassDevice& device, const CaptureOptions& options)
{
    for (const auto& range : device.streamFormats(0)) {
        const auto& bitmap = range.as<KS_DATARANGE_VIDEO>().VideoInfoHeader.bmiHeader;
        const bool i420 = bitmap.biCompression == CAPTURE_COMPRESSION_I420;
        if (bitmap.biWidth == options.width && bitmap.biHeight == options.height && i420 == options.i420) {
            host::IntersectionResult answer = device.dataIntersection(0, range);
            if (answer.status == STATUS_SUCCESS) {
                return answer.format;
            }
        }
    }
    return std::nullopt;
}

// The camera values in force: exposure, sensor gain and the digital gains R G B.
std::string cameraValues(const camera::VirtualCamera& camera)
{
    char text[64];
    std::snprintf(text, sizeof(text), "exposure %u, gain %u, white balance %u/%u/%u", camera.writtenRegister(0x08),
                  camera.writtenRegister(0x0E), camera.writtenRegister(0x0B), camera.writtenRegister(0x0C),
                  camera.writtenRegister(0x0D));
    return text;
}

class CaptureRun {
public:
    CaptureRun(host::StreamClassStream& stream, FrameSink& sink, const CaptureOptions& options,
               const camera::VirtualCamera& camera, std::ostream& err)
        : stream_(stream), sink_(sink), options_(options), camera_(camera), err_(err)
    {
    }

    // Reads until the frames are written or Ctrl-C; false with `error` on a failure.
    bool run(std::string& error)
    {
        int emptyInARow = 0;
        while (tally_.frames < options_.frames && !interruptRequested.load()) {
            while (reads_.size() < kReadsInFlight) {
                reads_.push_back(stream_.submitRead(frameBytes()));
            }
            auto read = reads_.front();
            reads_.pop_front();
            read->wait();
            if (read->status() != STATUS_SUCCESS) {
                error = "a read request failed with " + statusName(read->status());
                return false;
            }
            if (read->dataUsed().empty()) {
                ++tally_.emptyReads;
                if (++emptyInARow >= kMaxEmptyReadsInARow) {
                    error = "the camera delivered no frame in " + std::to_string(emptyInARow) + " requests";
                    return false;
                }
                continue;
            }
            emptyInARow = 0;
            if (!keep(*read, error)) {
                return false;
            }
        }
        return true;
    }

    // Lets the requests still in flight finish, so that the stop that follows
    // does not meet a frame in progress.
    void drain()
    {
        for (const auto& read : reads_) {
            read->wait();
        }
        reads_.clear();
    }

    const CaptureTally& tally() const { return tally_; }

private:
    ULONG frameBytes() const
    {
        const ULONG pixels = static_cast<ULONG>(options_.width * options_.height);
        return options_.i420 ? pixels * 3 / 2 : pixels * 3;
    }

    bool keep(const host::StreamRead& read, std::string& error)
    {
        const std::int64_t time = read.header().PresentationTime.Time;
        if (!sink_.write(read.dataUsed(), time, error)) {
            return false;
        }
        ++tally_.frames;
        if (tally_.firstTime < 0) {
            tally_.firstTime = time;
        }
        tally_.lastTime = time;
        if (const KS_FRAME_INFO* info = read.frameInfo()) {
            tally_.dropped = info->DropCount;
        }
        err_ << "\rcapturing: frame " << tally_.frames << "/" << options_.frames << ", " << seconds(time) << ", "
             << rateText(sink_.rate()) << ", dropped " << tally_.dropped << ", " << cameraValues(camera_)
             << "   " << std::flush;
        return true;
    }

    host::StreamClassStream& stream_;
    FrameSink& sink_;
    const CaptureOptions& options_;
    const camera::VirtualCamera& camera_;
    std::ostream& err_;
    std::deque<std::shared_ptr<host::StreamRead>> reads_;
    CaptureTally tally_;
};

bool startStream(host::StreamClassStream& stream, std::string& error)
{
    auto clock = host::MasterClock::create();
    if (NTSTATUS status = stream.setMasterClock(clock); status != STATUS_SUCCESS) {
        error = "the stream refused the master clock: " + statusName(status);
        return false;
    }
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        if (NTSTATUS status = stream.setState(state); status != STATUS_SUCCESS) {
            error = "the stream refused state " + std::to_string(state) + ": " + statusName(status);
            return false;
        }
    }
    clock->restart();
    return true;
}

// Each --set through the property requests of the open stream.
bool applyLiveSets(host::StreamClassDevice& device, const CaptureOptions& options, std::string& error)
{
    for (const std::string& set : options.sets) {
        const std::string name = set.substr(0, set.find('='));
        const CameraProperty* property = findCameraProperty(name);
        if (property == nullptr) {
            error = "--set: unknown property '" + name + "' (see 'korval properties')";
            return false;
        }
        auto value = parsePropertyValue(device, *property, set.substr(set.find('=') + 1), error);
        if (!value) {
            return false;
        }
        if (NTSTATUS status = setCameraProperty(device, *property, *value); status != STATUS_SUCCESS) {
            error = "the driver refused " + set + ": " + statusName(status);
            return false;
        }
    }
    return true;
}

// What in the machine's registry most likely made the stream refuse to open.
std::string likelyOpenFailureCause(const host::Registry& registry)
{
    auto stored = [&](int index) -> std::optional<std::uint32_t> {
        auto value = registry.value(kParametersKey, "A_" + std::to_string(index));
        return value ? value->asDword() : std::nullopt;
    };
    const auto fullBandwidth = stored(111).value_or(0) & 0xFFFF;
    if (fullBandwidth != 1 && (stored(113).value_or(0) & 0xFF) == 0) {
        return "\"A_113\" (alternate-setting) is 0, which leaves the stream no USB bandwidth";
    }
    if (!tuningTableProblem(registry)) {
        if ((stored(15).value_or(0) & 0xFFFF) == 0) {
            return "the tuning table is valid but \"A_15\" (shortest exposure divisor) is 0";
        }
        if ((stored(109).value_or(0) & 0xFF) == 0) {
            return "\"A_109\" (mains-frequency) is 0";
        }
    }
    return "a stored setting the driver cannot use (see 'korval properties --machine DIR')";
}

void printSummary(const CaptureTally& tally, const CaptureOptions& options, const FrameSink& sink,
                  const camera::VirtualCamera& camera, std::ostream& out)
{
    const FrameRate rate = sink.rate();
    out << "captured " << tally.frames << " frames of " << options.width << "x" << options.height << " "
        << (options.i420 ? "I420" : "RGB24") << " to " << sink.description() << "\n"
        << "  " << rateText(rate) << " (Y4M rate " << rate.numerator << ":" << rate.denominator << "), dropped "
        << tally.dropped << ", empty requests " << tally.emptyReads << ", time stamps "
        << seconds(tally.firstTime < 0 ? 0 : tally.firstTime) << " to " << seconds(tally.lastTime) << "\n"
        << "  " << cameraValues(camera) << "\n";
}

// Runs the open stream; false with `error` on a failure.
bool captureFrames(MachineSession& session, host::StreamClassStream& stream, FrameSink& sink,
                   const CaptureOptions& options, CaptureTally& tally, std::ostream& err, std::string& error)
{
    CaptureRun run(stream, sink, options, session.camera(), err);
    const bool captured = applyLiveSets(session.device(), options, error) && startStream(stream, error) &&
                          run.run(error);
    run.drain();
    err << "\n";
    stream.setState(KSSTATE_STOP);
    stream.close();
    tally = run.tally();
    return captured && sink.finish(error);
}

int capture(const CaptureOptions& options, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto scene = makeScene(options.scene, error);
    auto sink = scene ? FrameSink::open(options, out, error) : nullptr;
    if (!sink) {
        err << "korval capture: " << error << "\n";
        return kExitFile;
    }
    SessionOptions sessionOptions{options.machine, options.clock, {}};
    sessionOptions.wait = options.wait;
    sessionOptions.messages = &err;
    MachineSession session(sessionOptions);
    session.camera().setScene(std::move(scene));
    auto format = chooseFormat(session.device(), options);
    if (!format) {
        err << "korval capture: the driver does not offer " << options.width << "x" << options.height << " "
            << (options.i420 ? "I420" : "RGB24") << " (see \"A_64\" in the machine's registry, 'korval formats')\n";
        return kExitFailure;
    }
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto stream = session.device().openStream(0, *format, &status);
    if (!stream) {
        err << "korval capture: the capture stream did not open: " << statusName(status) << "; likely cause: "
            << likelyOpenFailureCause(session.platform().registry()) << "\n";
        return kExitFailure;
    }
    InterruptGuard guard;
    CaptureTally tally;
    if (!captureFrames(session, *stream, *sink, options, tally, err, error)) {
        err << "korval capture: " << error << "\n";
        return kExitFailure;
    }
    // With '-o -' the video owns standard output.
    printSummary(tally, options, *sink, session.camera(), options.output == "-" ? err : out);
    if (interruptRequested.load()) {
        err << "interrupted\n";
        return kExitInterrupted;
    }
    return kExitOk;
}

} // namespace

int runCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto options = parseCaptureOptions(args, error);
    if (!options) {
        err << "korval capture: " << error << "\n" << kCaptureUsage;
        return kExitUsage;
    }
    if (options->help) {
        out << kCaptureUsage;
        return kExitOk;
    }
    return capture(*options, out, err);
}

} // namespace korval::tools
