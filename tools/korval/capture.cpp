// korval capture: plugs the virtual camera in, opens the driver's capture
// stream as a capture application would (format from the offered ranges, a
// master clock, stop → acquire → pause → run), reads frames with two requests
// in flight and writes them out, then stops and closes the stream.
#include "driver/StreamFormats.h"
#include "tools/korval/capture_options.h"
#include "tools/korval/cli.h"
#include "tools/korval/frame_sink.h"
#include "tools/korval/machine_session.h"

#include <cstdio>
#include <deque>
#include <optional>

namespace korval::tools {
namespace {

// Requests answered empty in a row (each up to the driver's 0.5 s frame wait)
// before the camera counts as silent.
constexpr int kMaxEmptyReadsInARow = 40;
constexpr std::size_t kReadsInFlight = 2;

struct CaptureTally {
    int frames = 0;
    int emptyReads = 0;
    std::int64_t dropped = 0;
    std::int64_t firstTime = -1;
    std::int64_t lastTime = 0;
};

std::string statusText(NTSTATUS status)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    return text;
}

std::string seconds(std::int64_t ticks)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f s", static_cast<double>(ticks) / 1e7);
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

class CaptureRun {
public:
    CaptureRun(host::StreamClassStream& stream, FrameSink& sink, const CaptureOptions& options, std::ostream& err)
        : stream_(stream), sink_(sink), options_(options), err_(err)
    {
    }

    // Reads until the frames are written; false with `error` on a failure.
    bool run(std::string& error)
    {
        int emptyInARow = 0;
        while (tally_.frames < options_.frames) {
            while (reads_.size() < kReadsInFlight) {
                reads_.push_back(stream_.submitRead(frameBytes()));
            }
            auto read = reads_.front();
            reads_.pop_front();
            read->wait();
            if (read->status() != STATUS_SUCCESS) {
                error = "a read request failed with status " + statusText(read->status());
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
        if (!sink_.write(read.dataUsed(), error)) {
            return false;
        }
        ++tally_.frames;
        const std::int64_t time = read.header().PresentationTime.Time;
        if (tally_.firstTime < 0) {
            tally_.firstTime = time;
        }
        tally_.lastTime = time;
        if (const KS_FRAME_INFO* info = read.frameInfo()) {
            tally_.dropped = info->DropCount;
        }
        err_ << "\rcapturing: frame " << tally_.frames << "/" << options_.frames << ", time "
             << seconds(time) << ", dropped " << tally_.dropped << std::flush;
        return true;
    }

    host::StreamClassStream& stream_;
    FrameSink& sink_;
    const CaptureOptions& options_;
    std::ostream& err_;
    std::deque<std::shared_ptr<host::StreamRead>> reads_;
    CaptureTally tally_;
};

bool startStream(host::StreamClassStream& stream, std::string& error)
{
    auto clock = host::MasterClock::create();
    if (NTSTATUS status = stream.setMasterClock(clock); status != STATUS_SUCCESS) {
        error = "the stream refused the master clock: " + statusText(status);
        return false;
    }
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        if (NTSTATUS status = stream.setState(state); status != STATUS_SUCCESS) {
            error = "the stream refused state " + std::to_string(state) + ": " + statusText(status);
            return false;
        }
    }
    clock->restart();
    return true;
}

void printSummary(const CaptureTally& tally, const CaptureOptions& options, const FrameSink& sink,
                  std::ostream& out)
{
    out << "captured " << tally.frames << " frames of " << options.width << "x" << options.height << " "
        << (options.i420 ? "I420" : "RGB24") << " to " << sink.description() << "\n"
        << "  dropped " << tally.dropped << ", empty requests " << tally.emptyReads << ", time stamps "
        << seconds(tally.firstTime < 0 ? 0 : tally.firstTime) << " to " << seconds(tally.lastTime) << "\n";
}

int capture(const CaptureOptions& options, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto scene = makeScene(options.scene, error);
    auto sink = scene ? FrameSink::open(options, error) : nullptr;
    if (!sink) {
        err << "korval capture: " << error << "\n";
        return 1;
    }
    try {
        MachineSession session({options.machine, options.clock, {}});
        session.camera().setScene(std::move(scene));
        auto format = chooseFormat(session.device(), options);
        if (!format) {
            err << "korval capture: the driver does not offer " << options.width << "x" << options.height << " "
                << (options.i420 ? "I420" : "RGB24") << " (see \"A_64\" in the machine's registry)\n";
            return 1;
        }
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto stream = session.device().openStream(0, *format, &status);
        if (!stream) {
            err << "korval capture: the capture stream did not open: " << statusText(status) << "\n";
            return 1;
        }
        CaptureRun run(*stream, *sink, options, err);
        const bool captured = startStream(*stream, error) && run.run(error);
        run.drain();
        err << "\n";
        stream->setState(KSSTATE_STOP);
        stream->close();
        if (!captured) {
            err << "korval capture: " << error << "\n";
            return 1;
        }
        printSummary(run.tally(), options, *sink, out);
    } catch (const SessionError& failure) {
        err << "korval capture: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}

} // namespace

int runCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto options = parseCaptureOptions(args, error);
    if (!options) {
        err << "korval capture: " << error << "\n" << kCaptureUsage;
        return 2;
    }
    if (options->help) {
        out << kCaptureUsage;
        return 0;
    }
    return capture(*options, out, err);
}

} // namespace korval::tools
