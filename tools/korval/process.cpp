// korval process FILE: develops raw frames kept by 'capture --raw' again. The
// file takes the camera's place on the bus and the driver develops its frames
// as it developed the camera's stream, with the stored settings of a machine
// and any --set applied to the open stream, into Y4M or PNG. Exposure is part
// of the raw frames; everything after the sensor can change.
#include "tools/korval/capture_options.h"
#include "tools/korval/capture_source.h"
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/frame_sink.h"
#include "tools/korval/raw_frame_camera.h"
#include "tools/korval/raw_frames.h"
#include "tools/korval/stop_signals.h"

#include <CLI/CLI.hpp>
#include <climits>
#include <filesystem>
#include <memory>
#include <mutex>

namespace korval::tools {
namespace {

struct ProcessArguments {
    std::string input;
    CaptureArguments capture; // output, size, format and --set, as for a capture
};

// What became of the file's frames.
struct Development {
    std::mutex mutex;
    int developed = 0;
    std::vector<std::string> skipped; // "frame 3: ..."
};

std::string skipReason(const std::vector<std::uint8_t>& header)
{
    if (!header.empty() && (header[0] & kUnusableFrame) != 0) {
        return "the camera marked it unusable";
    }
    return "the driver could not develop it (its lines do not decode: a damaged frame)";
}

int report(const ProcessArguments& given, const CaptureOptions& options, const RawFrameReader& reader,
           Development& development, const FrameSink& sink, std::ostream& out, std::ostream& err)
{
    std::ostream& summary = options.output == "-" ? err : out;
    const int total = reader.framesRead();
    for (const std::string& skip : development.skipped) {
        err << "korval process: " << skip << "\n";
    }
    const int unreached = total - development.developed - static_cast<int>(development.skipped.size());
    if (unreached > 0) {
        err << "korval process: " << unreached << " frame(s) at the end were not reached by the driver\n";
    }
    if (!reader.problem().empty()) {
        err << "korval process: '" << given.input << "': " << reader.problem()
            << "; the frames before it were developed\n";
    }
    if (development.developed == 0) {
        if (options.outputKind == OutputKind::Y4m && options.output != "-") {
            std::error_code ignored;
            std::filesystem::remove(options.output, ignored);
        }
        err << "korval process: no frame of '" << given.input << "' could be developed\n";
        return kExitFile;
    }
    summary << "developed " << development.developed << " of " << total << " raw frames to " << sink.description()
            << "\n";
    const bool lost = development.developed < total || !reader.problem().empty();
    return lost ? kExitIncomplete : kExitOk;
}

int developFrames(const ProcessArguments& given, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto options = checkCaptureOptions(given.capture, error);
    if (!options) {
        err << "korval process: " << error << "\n";
        return kExitUsage;
    }
    auto reader = std::make_shared<RawFrameReader>();
    if (!reader->open(given.input, error)) {
        err << "korval process: " << error << "\n";
        return kExitFile;
    }
    auto first = reader->next();
    if (!first) {
        err << "korval process: '" << given.input << "': "
            << (reader->problem().empty() ? "holds no raw frames" : reader->problem()) << "\n";
        return kExitFile;
    }
    options->frames = INT_MAX;
    options->skip = 0;
    options->raw.clear();
    RawFrameCamera* camera = nullptr;
    auto development = std::make_shared<Development>();
    CaptureSource source;
    source.command = "process";
    source.input = given.input;
    source.pacer = std::make_unique<FramePacer>();
    source.device = [&camera, reader, &first]() -> std::unique_ptr<host::UsbDevice> {
        auto device = std::make_unique<RawFrameCamera>(*reader, std::move(*first));
        camera = device.get();
        return device;
    };
    source.ended = [&camera] { return camera != nullptr && camera->finished(); };
    source.frameTaken = [&camera, development](std::uint64_t index, bool delivered) {
        std::lock_guard lock(development->mutex);
        if (delivered) {
            ++development->developed;
        } else {
            development->skipped.push_back("frame " + std::to_string(index) +
                                           " skipped: " + skipReason(camera->frameHeader(index)));
        }
    };
    source.summary = [&](const FrameSink& sink, bool interrupted) {
        const int code = report(given, *options, *reader, *development, sink, out, err);
        if (interrupted) {
            err << "interrupted by " << stopSignalName() << "\n";
            return static_cast<int>(kExitInterrupted);
        }
        return code;
    };
    return captureFrom(*options, source, out, err);
}

} // namespace

CommandRunner defineProcess(CLI::App& app)
{
    app.description("Develops raw frames kept by 'korval capture --raw FILE' again: the file takes the camera's "
                    "place and the driver develops its frames as it developed the camera's stream, with the "
                    "stored settings of --machine DIR (or the defaults) and each --set NAME=VALUE, into a Y4M "
                    "video or PNG pictures. Exposure is in the raw frames; picture settings, white balance, "
                    "mirror, flip, size, format and effect can change. Frames that cannot be developed are named "
                    "with the reason; the rest is written and the exit status is 5.");
    auto given = std::make_shared<ProcessArguments>();
    app.add_option("FILE", given->input, "the raw frame file")->required();
    declareDevelopedOutput(app, given->capture);
    declareFormatAndSize(app, given->capture);
    declareSetOption(app, given->capture.sets, "a camera setting for the development (repeatable)");
    app.add_option("--machine", given->capture.machine, "take the stored settings of this machine directory")
        ->option_text("DIR");
    app.add_flag("-y,--overwrite", given->capture.overwrite, "replace output files that exist already");
    given->capture.quiet = true;
    return [given](std::ostream& out, std::ostream& err) { return developFrames(*given, out, err); };
}

} // namespace korval::tools
