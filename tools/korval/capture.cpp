// korval capture: plugs the virtual camera in, opens the driver's capture
// stream as a capture application would (format from the offered ranges, a
// master clock, stop → acquire → pause → run), applies --set through the
// property requests, reads frames with two requests in flight and writes them
// out, then stops and closes the stream. Ctrl-C finishes the frame in hand
// and ends the capture as if it had reached its count, with exit status 130.
#include "driver/DeviceContext.h"
#include "driver/StreamFormats.h"
#include "tools/korval/camera_properties.h"
#include "tools/korval/capture_options.h"
#include "tools/korval/cli.h"
#include "tools/korval/frame_sink.h"
#include "tools/korval/json_writer.h"
#include "tools/korval/png_output.h"
#include "tools/korval/raw_frames.h"
#include "tools/korval/machine_session.h"
#include "tools/korval/registry_defaults.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <deque>
#include <functional>
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

    // Reads until the frames are written (or the duration is reached) or
    // Ctrl-C; false with `error` on a failure.
    bool run(std::string& error)
    {
        int emptyInARow = 0;
        while (tally_.frames < options_.frames && !durationReached() && !interruptRequested.load()) {
            // With --raw one request at a time, so the pipeline's raw frame is the delivered one's.
            while (reads_.size() < (options_.raw.empty() ? kReadsInFlight : 1)) {
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
            if (skipped_ < options_.skip) {
                ++skipped_;
                continue;
            }
            if (!keep(*read, error)) {
                return false;
            }
            if (tally_.frames == options_.snapshotAt) {
                pressButton_();
            }
        }
        return true;
    }

    // Called once the frame numbered --snapshot-at is written.
    std::function<void()> pressButton_ = [] {};
    // Called for every frame written, with its time: --raw keeps the raw frame.
    std::function<bool(std::int64_t, std::string&)> keepRaw_ = [](std::int64_t, std::string&) { return true; };

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
    bool durationReached() const
    {
        return options_.duration > 0 && tally_.firstTime >= 0 &&
               static_cast<double>(tally_.lastTime - tally_.firstTime) >= options_.duration * 1e7;
    }

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
        if (!keepRaw_(time, error)) {
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
        if (!options_.quiet) {
            err_ << "\rcapturing: frame " << tally_.frames;
            if (options_.duration <= 0) {
                err_ << "/" << options_.frames;
            }
            err_ << ", " << seconds(time) << ", " << rateText(sink_.rate()) << ", dropped " << tally_.dropped << ", "
                 << cameraValues(camera_) << "   " << std::flush;
        }
        return true;
    }

    host::StreamClassStream& stream_;
    FrameSink& sink_;
    const CaptureOptions& options_;
    const camera::VirtualCamera& camera_;
    std::ostream& err_;
    std::deque<std::shared_ptr<host::StreamRead>> reads_;
    CaptureTally tally_;
    int skipped_ = 0;
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

// The snapshot button: pressed at a frame, then the still the driver's
// snapshot thread writes to C:\StiImg.dat (32-byte header, bottom-up BGR)
// becomes a PNG. The tool plays the still-image service: it clears the
// status word before the press and waits for the "file written" bit.
class Still {
public:
    Still(MachineSession& session, const CaptureOptions& options) : session_(session), options_(options) {}

    void press()
    {
        session_.platform().registry().setValue(kStillStatusKey, "StatusReport", host::RegistryValue::dword(0));
        session_.camera().pressSnapshotButton();
        pressed_ = true;
    }

    // Waits (while the stream is still open) for the still; false with `error`.
    bool keep(std::string& error)
    {
        if (!pressed_) {
            return true;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!written() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!written()) {
            error = "the driver wrote no still after the snapshot button was pressed";
            return false;
        }
        return convert(error);
    }

    const std::string& path() const { return path_; }

private:
    bool written() const
    {
        const auto status = session_.platform().registry().value(kStillStatusKey, "StatusReport");
        return status && status->asDword() && (*status->asDword() & 0x2) != 0;
    }

    bool convert(std::string& error)
    {
        const auto file = session_.platform().hostPath("C:\\StiImg.dat");
        std::ifstream in(file, std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::uint32_t header[8] = {};
        if (bytes.size() < sizeof(header)) {
            error = "the still file '" + file.string() + "' is shorter than its header";
            return false;
        }
        std::memcpy(header, bytes.data(), sizeof(header));
        const int width = static_cast<int>(header[1]);
        const int height = static_cast<int>(header[2]);
        const auto rgb = rgbFromBottomUpBgr(std::span(bytes).subspan(sizeof(header)), width, height);
        if (rgb.empty()) {
            error = "the still file '" + file.string() + "' is shorter than its picture";
            return false;
        }
        path_ = stillPath();
        return writeRgbPngFile(path_, width, height, rgb, error);
    }

    std::string stillPath() const
    {
        if (!options_.stillOutput.empty()) {
            return options_.stillOutput;
        }
        if (options_.output == "-" || options_.outputKind != OutputKind::Y4m) {
            return "still.png";
        }
        return options_.output.substr(0, options_.output.size() - 4) + "-still.png";
    }

    MachineSession& session_;
    const CaptureOptions& options_;
    bool pressed_ = false;
    std::string path_;
};

void printSummary(const CaptureTally& tally, const CaptureOptions& options, const FrameSink& sink,
                  const camera::VirtualCamera& camera, const Still& still, std::ostream& out)
{
    const FrameRate rate = sink.rate();
    if (options.json) {
        JsonWriter json(out);
        json.beginObject();
        json.field("frames", static_cast<long>(tally.frames));
        json.field("width", static_cast<long>(options.width));
        json.field("height", static_cast<long>(options.height));
        json.field("format", options.i420 ? "I420" : "RGB24");
        json.field("output", sink.description());
        json.field("rate", static_cast<double>(rate.numerator) / static_cast<double>(rate.denominator));
        json.field("y4m_rate", std::to_string(rate.numerator) + ":" + std::to_string(rate.denominator));
        json.field("dropped", static_cast<long>(tally.dropped));
        json.field("empty_requests", static_cast<long>(tally.emptyReads));
        json.field("first_time", static_cast<double>(std::max<std::int64_t>(tally.firstTime, 0)) / 1e7);
        json.field("last_time", static_cast<double>(tally.lastTime) / 1e7);
        json.field("exposure", static_cast<long>(camera.writtenRegister(0x08)));
        json.field("gain", static_cast<long>(camera.writtenRegister(0x0E)));
        json.field("white_balance", std::to_string(camera.writtenRegister(0x0B)) + "/" +
                                        std::to_string(camera.writtenRegister(0x0C)) + "/" +
                                        std::to_string(camera.writtenRegister(0x0D)));
        if (!still.path().empty()) {
            json.field("still", still.path());
        }
        json.field("interrupted", interruptRequested.load());
        json.endObject();
        out << "\n";
        return;
    }
    out << "captured " << tally.frames << " frames of " << options.width << "x" << options.height << " "
        << (options.i420 ? "I420" : "RGB24") << " to " << sink.description() << "\n"
        << "  " << rateText(rate) << " (Y4M rate " << rate.numerator << ":" << rate.denominator << "), dropped "
        << tally.dropped << ", empty requests " << tally.emptyReads << ", time stamps "
        << seconds(tally.firstTime < 0 ? 0 : tally.firstTime) << " to " << seconds(tally.lastTime) << "\n"
        << "  " << cameraValues(camera) << "\n";
    if (!still.path().empty()) {
        out << "  still " << still.path() << "\n";
    }
}

// Runs the open stream; false with `error` on a failure.
bool captureFrames(MachineSession& session, host::StreamClassStream& stream, FrameSink& sink, Still& still,
                   const CaptureOptions& options, CaptureTally& tally, std::ostream& err, std::string& error)
{
    CaptureRun run(stream, sink, options, session.camera(), err);
    run.pressButton_ = [&still] { still.press(); };
    RawFrameWriter raw;
    if (!options.raw.empty()) {
        if (!raw.open(options.raw, error)) {
            return false;
        }
        auto& device = *static_cast<DeviceContext*>(session.device().deviceExtension());
        run.keepRaw_ = [&raw, &device](std::int64_t time, std::string& failure) {
            return raw.keepProcessed(device, time, failure);
        };
    }
    const bool captured = applyLiveSets(session.device(), options, error) && startStream(stream, error) &&
                          run.run(error);
    run.drain();
    if (!options.quiet) {
        err << "\n";
    }
    const bool kept = captured && still.keep(error);
    stream.setState(KSSTATE_STOP);
    stream.close();
    tally = run.tally();
    return kept && sink.finish(error) && (options.raw.empty() || raw.finish(error));
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
    Still still(session, options);
    if (!captureFrames(session, *stream, *sink, still, options, tally, err, error)) {
        err << "korval capture: " << error << "\n";
        return kExitFailure;
    }
    // With '-o -' the video owns standard output.
    if (!options.quiet || options.json) {
        printSummary(tally, options, *sink, session.camera(), still, options.output == "-" ? err : out);
    }
    if (interruptRequested.load()) {
        err << "interrupted\n";
        return kExitInterrupted;
    }
    return kExitOk;
}

int checkedCapture(const CaptureArguments& given, std::ostream& out, std::ostream& err, bool snapshot)
{
    std::string error;
    auto options = checkCaptureOptions(given, error);
    if (!options) {
        err << "korval " << (snapshot ? "snapshot" : "capture") << ": " << error << "\n";
        return kExitUsage;
    }
    if (snapshot) {
        // The still alone: the frames are read but no video is written.
        options->stillOutput = given.outputGiven() ? given.output : "still.png";
        options->outputKind = OutputKind::None;
        options->output.clear();
        options->frames = 1;
        options->snapshotAt = 1;
    }
    return capture(*options, out, err);
}

} // namespace

CommandRunner defineCapture(CLI::App& app)
{
    app.description(kCaptureDescription);
    auto given = std::make_shared<CaptureArguments>();
    declareCaptureOptions(app, *given);
    return [given](std::ostream& out, std::ostream& err) { return checkedCapture(*given, out, err, false); };
}

CommandRunner defineSnapshot(CLI::App& app)
{
    app.description("Opens the capture stream, reads --skip warm-up frames (default 10), presses the camera's "
                    "snapshot button and writes the still the driver stores (C:\\StiImg.dat) as a PNG, by default "
                    "still.png.");
    auto given = std::make_shared<CaptureArguments>();
    given->skip = "10";
    app.add_option("-o,--output", given->output, "the still as PNG (default still.png)")->option_text("FILE.png");
    app.add_option("-f,--format", given->format, "i420 (default) or rgb24: the stream the still is taken from")
        ->option_text("FORMAT");
    app.add_option("-s,--size", given->size, "640x480, 352x288 (default), 320x240, 176x144 or 160x120")
        ->option_text("WxH");
    app.add_option("--scene", given->scene, "bars (default), chart, moving or a PNG picture")->option_text("SCENE");
    app.add_option("--skip", given->skip, "warm-up frames before the press (default 10)")->option_text("N");
    app.add_option("--set", given->sets, "set a camera property once the stream is open (repeatable)")
        ->option_text("NAME=VALUE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--machine", given->machine, "keep the emulated machine in DIR")->option_text("DIR");
    app.add_flag("--no-wait", given->noWait, "refuse at once when another korval uses the machine directory");
    app.add_option("--clock", given->clock, "fast (default) or real")->option_text("CLOCK");
    app.add_flag("-q,--quiet", given->quiet, "no progress line");
    app.add_flag("--json", given->json, "the summary as JSON");
    return [given](std::ostream& out, std::ostream& err) {
        CaptureArguments checked = *given;
        const std::string still = checked.output;
        checked.output.clear(); // the video output's rules do not apply to the still
        if (!still.empty() && (still.size() < 5 || still.compare(still.size() - 4, 4, ".png") != 0)) {
            err << "korval snapshot: --output: '" << still << "' is not a .png file\n";
            return static_cast<int>(kExitUsage);
        }
        checked.output = still;
        return checkedCapture(checked, out, err, true);
    };
}

} // namespace korval::tools
