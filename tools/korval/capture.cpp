// korval capture: plugs the virtual camera in, opens the driver's capture
// stream as a capture application would (format from the offered ranges, a
// master clock, stop → acquire → pause → run), applies --set through the
// property requests, reads frames with two requests in flight and writes them
// out, then stops and closes the stream. Ctrl-C (or SIGTERM, SIGHUP, SIGPIPE)
// finishes the frame in hand and ends the capture as if it had reached its
// count, with exit status 130.
#include "stream/StreamFormats.h"
#include "tools/korval/camera_properties.h"
#include "tools/korval/capture_options.h"
#include "tools/korval/cli.h"
#include "tools/korval/frame_sink.h"
#include "tools/korval/json_writer.h"
#include "tools/korval/png_output.h"
#include "tools/korval/capture_source.h"
#include "tools/korval/frame_pacer.h"
#include "tools/korval/raw_recorder.h"
#include "host/usb/usbmon_pcap.h"
#include "host/wire/wire_frames.h"
#include "tools/korval/machine_session.h"
#include "tools/korval/output_files.h"
#include "tools/korval/registry_defaults.h"
#include "tools/korval/sample_overlays.h"
#include "tools/korval/stop_signals.h"

#include <CLI/CLI.hpp>
#include <algorithm>
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
#include <unistd.h>

namespace korval::tools {
namespace {

// Requests answered empty in a row (each up to the driver's 0.5 s frame wait)
// before the camera counts as silent.
constexpr int kMaxEmptyReadsInARow = 40;
constexpr std::size_t kReadsInFlight = 2;
// A PNG sequence's pictures looked for before the capture (all of a counted
// capture's; a capture without a count is checked this far).
constexpr int kMostPicturesChecked = 100000;

// Ctrl-C, SIGTERM, SIGHUP or SIGPIPE asked the capture to end (stop_signals.h).
bool interruptRequested()
{
    return stopRequested();
}

// The progress line rewrites itself with '\r', which only a terminal shows as
// one line; in a log or a pipe it would be a heap of fragments.
bool progressShown(const CaptureOptions& options)
{
    return !options.quiet && ::isatty(STDERR_FILENO) == 1;
}

struct CaptureTally {
    int frames = 0;
    int emptyReads = 0;
    std::int64_t dropped = 0;     // the driver's count: stream frame times without a new picture
    std::int64_t cameraFrames = -1; // frames the camera sent meanwhile (-1: not known, a replay)
    std::int64_t delivered = 0;     // frames the driver delivered, warm-up frames included
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
    if (auto scene = camera::makeBuiltInScene(name)) {
        return scene;
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
std::string cameraValues(const camera::VirtualCamera* virtualCamera)
{
    if (virtualCamera == nullptr) {
        return "camera replayed";
    }
    const camera::VirtualCamera& camera = *virtualCamera;
    char text[64];
    std::snprintf(text, sizeof(text), "exposure %u, gain %u, white balance %u/%u/%u", camera.writtenRegister(0x08),
                  camera.writtenRegister(0x0E), camera.writtenRegister(0x0B), camera.writtenRegister(0x0C),
                  camera.writtenRegister(0x0D));
    return text;
}

class CaptureRun {
public:
    CaptureRun(host::StreamClassStream& stream, FrameSink& sink, const CaptureOptions& options,
               const camera::VirtualCamera* camera, std::ostream& err)
        : stream_(stream), sink_(sink), options_(options), camera_(camera), err_(err),
          showProgress_(progressShown(options))
    {
    }

    // Reads until the frames are written (or the duration is reached) or
    // Ctrl-C; false with `error` on a failure.
    bool run(std::string& error)
    {
        int emptyInARow = 0;
        // A played-out source may still have its last frame on the way to the
        // driver (sent, not yet taken): the capture ends at the first read
        // after it that finds nothing.
        bool idle = false;
        while (tally_.frames < options_.frames && !durationReached() && !interruptRequested() &&
               !(idle && sourceEnded_())) {
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
            bool took = !read->dataUsed().empty();
            if (!readBack_(*read, took, error)) {
                fileFailed_ = true;
                return false;
            }
            idle = !took && read->dataUsed().empty();
            if (read->dataUsed().empty()) {
                ++tally_.emptyReads;
                emptyInARow = took ? 0 : emptyInARow + 1;
                if (emptyInARow >= kMaxEmptyReadsInARow) {
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
                fileFailed_ = true;
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
    // Called for every read that comes back well, before it is judged: the
    // pacer lets the clock run on and --raw keeps the frame the read took.
    // Sets `took` when the read took a frame from the camera; false with `error`.
    std::function<bool(const host::StreamRead&, bool&, std::string&)> readBack_ =
        [](const host::StreamRead&, bool&, std::string&) { return true; };
    // The source has nothing more to send (a recording played out).
    std::function<bool()> sourceEnded_ = [] { return false; };
    // Sees every frame once it is written.
    std::function<void(std::span<const std::uint8_t>)> frameKept_ = [](std::span<const std::uint8_t>) {};

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
    // The failure was a file's (the output or --raw), not the driver's.
    bool fileFailed() const { return fileFailed_; }

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
        frameKept_(read.dataUsed());
        ++tally_.frames;
        if (tally_.firstTime < 0) {
            tally_.firstTime = time;
        }
        tally_.lastTime = time;
        if (const KS_FRAME_INFO* info = read.frameInfo()) {
            tally_.dropped = info->DropCount;
            tally_.delivered = static_cast<std::int64_t>(info->PictureNumber - info->DropCount);
        }
        if (showProgress_) {
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
    const camera::VirtualCamera* camera_;
    std::ostream& err_;
    bool showProgress_;
    std::deque<std::shared_ptr<host::StreamRead>> reads_;
    CaptureTally tally_;
    int skipped_ = 0;
    bool fileFailed_ = false;
};

bool startStream(host::StreamClassStream& stream, FramePacer* pacer, std::string& error)
{
    auto clock = host::MasterClock::create();
    if (NTSTATUS status = stream.setMasterClock(clock); status != STATUS_SUCCESS) {
        error = "the stream refused the master clock: " + statusName(status);
        return false;
    }
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        if (state == KSSTATE_RUN) {
            // Stream time starts with the run; in lockstep the clock stands
            // still from here until the driver's first video transfer.
            if (pacer != nullptr) {
                pacer->setVideoExpected(true);
            }
            clock->restart();
        }
        if (NTSTATUS status = stream.setState(state); status != STATUS_SUCCESS) {
            error = "the stream refused state " + std::to_string(state) + ": " + statusName(status);
            return false;
        }
    }
    return true;
}

// The stream will show an overlay frame: one is stored or set. A machine
// without frames of its own then gets the sample frames, as the page does.
bool usesOverlayFrame(const CaptureOptions& options, const host::Registry& registry)
{
    const auto stored = registry.value(kParametersKey, "A_131");
    if (stored && stored->asDword().value_or(0) != 0) {
        return true;
    }
    return std::any_of(options.sets.begin(), options.sets.end(),
                       [](const std::string& set) { return set.rfind("overlay-frame=", 0) == 0 && set != "overlay-frame=0"; });
}

// Where the driver looks for overlay frame files, for a frame it could not load.
std::string overlayFrameHint(const std::string& set)
{
    if (set.rfind("overlay-frame=", 0) != 0) {
        return "";
    }
    return "; the driver loads frame N from the folder named by \"PATH\" under Parameters\\Frame in the "
           "machine's registry (C:\\Frames is DIR/C/Frames), as the stem in \"FN000N\" followed by p3.bmp "
           "(352x288, 24 bits) and m3.bmp (352x288, 8 bits)";
}

// Each --set through the property requests of the open stream: kExitOk, or
// kExitUsage for a name or value the driver does not publish, kExitFailure
// for one it refuses, with `error`.
int applyLiveSets(host::StreamClassDevice& device, const CaptureOptions& options, std::string& error)
{
    for (const std::string& set : options.sets) {
        const std::string name = set.substr(0, set.find('='));
        const CameraProperty* property = findCameraProperty(name);
        if (property == nullptr) {
            error = "--set: unknown property '" + name + "' (see 'korval properties')";
            return kExitUsage;
        }
        auto value = parsePropertyValue(device, *property, set.substr(set.find('=') + 1), error);
        if (!value) {
            return kExitUsage;
        }
        if (NTSTATUS status = setCameraProperty(device, *property, *value); status != STATUS_SUCCESS) {
            error = "the driver refused " + set + ": " + statusName(status) + overlayFrameHint(set);
            return kExitFailure;
        }
    }
    return kExitOk;
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
            if (options_.snapshotAt > 0 && !interruptRequested()) {
                error = "the capture ended before frame " + std::to_string(options_.snapshotAt) +
                        " (--snapshot-at): no still was taken";
                return false;
            }
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
    bool fileFailed() const { return fileFailed_; }

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
        path_ = stillPath(options_);
        fileFailed_ = !writeRgbPngFile(path_, width, height, rgb, error);
        return !fileFailed_;
    }

    MachineSession& session_;
    const CaptureOptions& options_;
    bool pressed_ = false;
    bool fileFailed_ = false;
    std::string path_;
};

// What "dropped" counts: the driver stamps frames on the stream's clock at 30
// frames a second; a frame time that passes without a new picture from the
// camera counts as dropped, whether the camera never took that frame (it runs
// slower) or a frame it sent was lost (overwritten before a request came,
// unusable or not decodable).
std::string droppedText(const CaptureTally& tally)
{
    std::string text = "  dropped " + std::to_string(tally.dropped) +
                       ": frame times of the stream's 30 frames/s without a new picture";
    if (tally.cameraFrames >= 0) {
        const std::int64_t lost = std::max<std::int64_t>(tally.cameraFrames - tally.delivered, 0);
        const std::int64_t untaken = std::max<std::int64_t>(tally.dropped - lost, 0);
        text += ": " + std::to_string(untaken) + " the camera never took (it ran slower), " + std::to_string(lost) +
                " it sent and were lost (overwritten before a request came, unusable or damaged); the camera sent " +
                std::to_string(tally.cameraFrames) + " frames";
    }
    return text;
}

void printSummary(const CaptureTally& tally, const CaptureOptions& options, const FrameSink& sink,
                  const camera::VirtualCamera* camera, const Still& still, std::ostream& out)
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
        if (tally.cameraFrames >= 0) {
            json.field("camera_frames", static_cast<long>(tally.cameraFrames));
            json.field("lost", static_cast<long>(std::max<std::int64_t>(tally.cameraFrames - tally.delivered, 0)));
        }
        json.field("empty_requests", static_cast<long>(tally.emptyReads));
        json.field("first_time", static_cast<double>(std::max<std::int64_t>(tally.firstTime, 0)) / 1e7);
        json.field("last_time", static_cast<double>(tally.lastTime) / 1e7);
        if (camera != nullptr) {
            json.field("exposure", static_cast<long>(camera->writtenRegister(0x08)));
            json.field("gain", static_cast<long>(camera->writtenRegister(0x0E)));
            json.field("white_balance", std::to_string(camera->writtenRegister(0x0B)) + "/" +
                                            std::to_string(camera->writtenRegister(0x0C)) + "/" +
                                            std::to_string(camera->writtenRegister(0x0D)));
        }
        if (!still.path().empty()) {
            json.field("still", still.path());
        }
        json.field("interrupted", interruptRequested());
        json.endObject();
        out << "\n";
        return;
    }
    out << "captured " << tally.frames << " frames of " << options.width << "x" << options.height << " "
        << (options.i420 ? "I420" : "RGB24") << " to " << sink.description() << "\n"
        << "  " << rateText(rate) << " (Y4M rate " << rate.numerator << ":" << rate.denominator << "), dropped "
        << tally.dropped << ", empty requests " << tally.emptyReads << ", time stamps "
        << seconds(tally.firstTime < 0 ? 0 : tally.firstTime) << " to " << seconds(tally.lastTime) << "\n"
        << "  " << cameraValues(camera) << "\n"
        << droppedText(tally) << "\n";
    if (!still.path().empty()) {
        out << "  still " << still.path() << "\n";
    }
}

// Runs the open stream: kExitOk, or the exit code of the failure with `error`.
int captureFrames(MachineSession& session, host::StreamClassStream& stream, FrameSink& sink, Still& still,
                  const CaptureOptions& options, CaptureSource& source, CaptureTally& tally, std::ostream& err,
                  std::string& error)
{
    CaptureRun run(stream, sink, options, session.virtualCamera(), err);
    run.pressButton_ = [&still] { still.press(); };
    run.sourceEnded_ = [&source] { return source.ended && source.ended(); };
    if (source.frameKept) {
        run.frameKept_ = source.frameKept;
    }
    RawRecorder* raw = source.raw.get();
    std::uint64_t taken = 0;
    run.readBack_ = [&, raw](const host::StreamRead& read, bool& took, std::string& failure) {
        if (source.pacer) {
            took = source.pacer->readCompleted();
        }
        if (took && raw != nullptr &&
            !raw->taken(read.header().PresentationTime.Time, !read.dataUsed().empty(), failure)) {
            return false;
        }
        if (took && source.frameTaken) {
            source.frameTaken(taken, !read.dataUsed().empty());
        }
        taken += took ? 1 : 0;
        return true;
    };
    const camera::VirtualCamera* camera = session.virtualCamera();
    const std::uint64_t sentBefore = camera != nullptr ? camera->framesStarted() : 0;
    int code = applyLiveSets(session.device(), options, error);
    if (code == kExitOk && !(startStream(stream, source.pacer.get(), error) && run.run(error))) {
        code = run.fileFailed() ? kExitFile : kExitFailure;
    }
    const std::int64_t cameraFrames =
        camera != nullptr ? static_cast<std::int64_t>(camera->framesStarted() - sentBefore) : -1;
    if (source.pacer) {
        source.pacer->setVideoExpected(false);
        source.pacer->setLockstep(false);
        if (source.pacer->holdsAbandoned() != 0) {
            err << "korval " << source.command << ": warning: " << source.pacer->holdsAbandoned()
                << " time(s) in lockstep a frame seen on the bus was not read back, or no video transfer came; "
                   "the clock ran on without it\n";
        }
    }
    run.drain();
    if (progressShown(options)) {
        err << "\n";
    }
    if (code == kExitOk && !still.keep(error)) {
        code = still.fileFailed() ? kExitFile : kExitFailure;
    }
    stream.setState(KSSTATE_STOP);
    stream.close();
    tally = run.tally();
    tally.cameraFrames = cameraFrames;
    if (code == kExitOk && !(sink.finish(error) && (raw == nullptr || raw->finish(error)))) {
        code = kExitFile;
    }
    return code;
}

// Every file the capture will write, as the user named it.
std::vector<NamedFile> filesToWrite(const CaptureOptions& options, const CaptureSource& source)
{
    std::vector<NamedFile> files;
    if (!source.input.empty()) {
        files.push_back({"the input", source.input, false});
    }
    if (options.outputKind == OutputKind::Y4m && options.output != "-") {
        files.push_back({"--output", options.output});
    }
    if (options.outputKind == OutputKind::PngPattern) {
        const int pictures = std::min(options.frames, kMostPicturesChecked);
        for (int index = 0; index < pictures; ++index) {
            files.push_back({"--output", framePath(options.output, index)});
        }
    }
    if (options.snapshotAt > 0) {
        files.push_back({options.outputKind == OutputKind::None ? "--output" : "the still", stillPath(options)});
    }
    if (!options.raw.empty()) {
        files.push_back({"--raw", options.raw});
    }
    if (!options.usbTrace.empty()) {
        files.push_back({"--usb-trace", options.usbTrace});
    }
    return files;
}

} // namespace

int captureFrom(const CaptureOptions& options, CaptureSource& source, std::ostream& out, std::ostream& err)
{
    const std::string command = "korval " + source.command + ": ";
    // From here on a stop signal ends the capture keeping what it has, and
    // ends a wait for the machine directory.
    StopSignalGuard stopSignals;
    std::string error;
    bool clash = false;
    if (!checkOutputFiles(filesToWrite(options, source), options.overwrite, clash, error)) {
        err << command << error << "\n";
        return clash ? kExitUsage : kExitFile;
    }
    std::unique_ptr<camera::Scene> scene;
    if (!source.device) {
        scene = makeScene(options.scene, error);
    }
    auto sink = scene || source.device ? FrameSink::open(options, out, error) : nullptr;
    if (!sink) {
        err << command << error << "\n";
        return kExitFile;
    }
    if (!options.raw.empty()) {
        source.raw = std::make_unique<RawRecorder>();
        if (!source.raw->open(options.raw, error)) {
            err << command << error << "\n";
            return kExitFile;
        }
    }
    host::UsbmonPcapWriter trace;
    if (!options.usbTrace.empty()) {
        if (!trace.open(options.usbTrace, error)) {
            err << command << error << "\n";
            return kExitFile;
        }
        source.taps.push_back(&trace);
    }
    // Lockstep (the default, and always for raw frames and traces): every
    // frame on the wire is developed, so the pictures follow from the scene
    // and settings whatever the host's speed, and a replay gives them again.
    if ((options.lockstep || source.raw || !options.usbTrace.empty()) && !source.pacer) {
        source.pacer = std::make_unique<FramePacer>();
    }
    if (source.pacer) {
        // The driver copies less of a frame blind after its header for small pictures.
        source.pacer->setMarkerSkip(host::wireMarkerSkip(options.width));
    }
    if (source.pacer && source.raw) {
        source.pacer->onFrame([raw = source.raw.get()](std::vector<std::uint8_t>&& frame) {
            raw->frameOnBus(std::move(frame));
        });
    }
    SessionOptions sessionOptions{options.machine, options.clock, {}};
    sessionOptions.wait = options.wait;
    sessionOptions.messages = &err;
    sessionOptions.device = source.device;
    sessionOptions.taps = source.taps;
    sessionOptions.pacer = source.pacer.get();
    auto owned = std::make_unique<MachineSession>(sessionOptions);
    MachineSession& session = *owned;
    if (scene) {
        session.camera().setSensorOptions(
            camera::sensorOptionsFor(options.sensor, options.lightKelvin, session.camera().sensorOptions()));
        session.camera().setScene(std::move(scene));
    }
    if (usesOverlayFrame(options, session.platform().registry()) &&
        !installSampleOverlays(session.platform().registry(), session.machineDirectory())) {
        err << command << "warning: the sample overlay frames could not be written to '"
            << (session.machineDirectory() / "C" / "Frames").string() << "'\n";
    }
    auto format = chooseFormat(session.device(), options);
    if (!format) {
        err << command << "the driver does not offer " << options.width << "x" << options.height << " "
            << (options.i420 ? "I420" : "RGB24") << " (see \"A_64\" in the machine's registry, 'korval formats')\n";
        return kExitFailure;
    }
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto stream = session.device().openStream(0, *format, &status);
    if (!stream) {
        err << command << "the capture stream did not open: " << statusName(status) << "; likely cause: "
            << likelyOpenFailureCause(session.platform().registry()) << "\n";
        return kExitFailure;
    }
    CaptureTally tally;
    Still still(session, options);
    if (const int code = captureFrames(session, *stream, *sink, still, options, source, tally, err, error);
        code != kExitOk) {
        err << command << error << "\n";
        return code;
    }

    int exitCode = kExitOk;
    if (source.summary) {
        exitCode = source.summary(*sink, interruptRequested());
    } else if (!options.quiet || options.json) {
        // With '-o -' the video owns standard output.
        printSummary(tally, options, *sink, session.virtualCamera(), still, options.output == "-" ? err : out);
    }
    // The trace ends with the device's removal.
    stream.reset();
    owned.reset();
    if (!options.usbTrace.empty() && !trace.close(error)) {
        err << command << error << "\n";
        return kExitFile;
    }
    if (interruptRequested() && !source.summary) {
        err << "interrupted by " << stopSignalName() << "\n";
        return kExitInterrupted;
    }
    return exitCode;
}

namespace {

int capture(const CaptureOptions& options, const char* command, std::ostream& out, std::ostream& err)
{
    CaptureSource source;
    source.command = command;
    return captureFrom(options, source, out, err);
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
    return capture(*options, snapshot ? "snapshot" : "capture", out, err);
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
    declareSensorOptions(app, *given);
    app.add_option("--skip", given->skip, "warm-up frames before the press (default 10)")->option_text("N");
    declareSetOption(app, given->sets, kSetOnceOpen);
    app.add_option("--machine", given->machine, "keep the emulated machine in DIR")->option_text("DIR");
    app.add_option("--usb-trace", given->usbTrace, "also write every USB transfer as pcap (usbmon, for Wireshark)")
        ->option_text("FILE.pcap");
    app.add_flag("--no-wait", given->noWait, "refuse at once when another korval uses the machine directory");
    app.add_option("--clock", given->clock, kClockHelp)->option_text("CLOCK");
    app.add_flag("-y,--overwrite", given->overwrite, "replace the still if it exists already");
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
