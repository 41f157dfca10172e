// korval replay FILE.pcap: a USB recording of the camera (a trace written by
// 'capture --usb-trace', or one taken with usbmon or USBPcap) takes the
// camera's place on the bus and the driver develops what it recorded, as a
// capture would: the frames come out as the original capture's when its
// settings are the same, and with --set they are developed anew. What the
// driver asks that the recording cannot answer is named with the point of
// the replay; a recording of another device is refused with its ids.
#include "camera/device/descriptors.h"
#include "host/usb/replay_device.h"
#include "host/usb/usb_recording.h"
#include "tools/korval/capture_options.h"
#include "tools/korval/capture_source.h"
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/frame_sink.h"

#include <CLI/CLI.hpp>
#include <climits>
#include <cstdio>
#include <memory>

namespace korval::tools {
namespace {

struct ReplayArguments {
    std::string input;
    std::string frames; // empty: every frame of the recording
    CaptureArguments capture;
};

std::string usbId(std::uint16_t vendor, std::uint16_t product)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%04x:%04x", vendor, product);
    return text;
}

std::uint16_t idAt(const std::vector<std::uint8_t>& descriptor, std::size_t at)
{
    return static_cast<std::uint16_t>(descriptor[at] | descriptor[at + 1] << 8);
}

// The camera's device in the recording: the one that says it is the camera,
// else one that did not say who it is (the recording began after it was
// plugged in) and sent isochronous data. Nothing, with `error`, for a
// recording of other devices only.
std::optional<host::RecordedDevice> chooseDevice(const host::UsbRecording& recording, std::string& error)
{
    const auto ours = camera::buildDeviceDescriptor();
    const std::uint16_t vendor = idAt(ours, 8), product = idAt(ours, 10);
    const auto devices = host::devicesOf(recording);
    const host::RecordedDevice* best = nullptr;
    std::string others;
    for (const host::RecordedDevice& device : devices) {
        const bool camera = device.vendor == vendor && device.product == product;
        const bool unknown = !device.vendor && device.isochronousPackets > 0;
        // A device that says it is the camera comes before one that did not say.
        const bool bestIsCamera = best != nullptr && best->vendor.has_value();
        if ((camera || unknown) && (best == nullptr || (camera && !bestIsCamera) ||
                                    (camera == bestIsCamera && device.isochronousPackets > best->isochronousPackets))) {
            best = &device;
        }
        if (device.vendor && !camera) {
            others += (others.empty() ? "" : ", ") + usbId(*device.vendor, *device.product) + " (bus " +
                      std::to_string(device.bus) + " device " + std::to_string(device.address) + ")";
        }
    }
    if (best != nullptr && best->isochronousPackets > 0) {
        return *best;
    }
    error = best != nullptr ? "holds no isochronous video of the camera (" + usbId(vendor, product) +
                                  ") to play back, only its control requests"
            : others.empty() ? "holds no isochronous data of any device to play back"
                           : "is a recording of USB device " + others + ", not of the camera (" +
                                 usbId(vendor, product) + ")";
    return std::nullopt;
}

int report(const ReplayArguments& given, const CaptureOptions& options, host::ReplayJournal& journal,
           const FrameSink* sink, std::size_t frames, std::ostream& out, std::ostream& err)
{
    std::lock_guard lock(journal.mutex);
    for (const std::string& note : journal.unanswered) {
        err << "korval replay: '" << given.input << "' cannot answer " << note << "\n";
    }
    if (journal.unansweredCount > journal.unanswered.size()) {
        err << "korval replay: and " << journal.unansweredCount - journal.unanswered.size()
            << " more requests the recording cannot answer\n";
    }
    if (journal.looseWrites > 0) {
        err << "korval replay: " << journal.looseWrites
            << " writes were answered by a recorded write of other values to the same place\n";
    }
    if (sink == nullptr) {
        return kExitFailure;
    }
    (options.output == "-" ? err : out) << "replayed " << frames << " frames of '" << given.input << "' to "
                                        << sink->description() << "\n";
    if (frames == 0) {
        err << "korval replay: the driver developed no frame from the recording\n";
        return kExitFailure;
    }
    return journal.unansweredCount > 0 ? kExitIncomplete : kExitOk;
}

int replay(const ReplayArguments& given, std::ostream& out, std::ostream& err)
{
    std::string error;
    CaptureArguments arguments = given.capture;
    arguments.frames = given.frames.empty() ? "1" : given.frames;
    auto options = checkCaptureOptions(arguments, error);
    if (!options) {
        err << "korval replay: " << error << "\n";
        return kExitUsage;
    }
    options->frames = given.frames.empty() ? INT_MAX : options->frames;
    auto recording = host::readUsbRecordingFile(given.input, error);
    auto device = recording ? chooseDevice(*recording, error) : std::nullopt;
    if (!device) {
        err << "korval replay: " << (recording ? "'" + given.input + "' " : "") << error << "\n";
        return kExitFile;
    }
    auto script = std::make_shared<host::ReplayScript>(host::scriptOf(*recording, device->bus, device->address));
    recording.reset();
    std::map<std::uint16_t, std::vector<std::uint8_t>> fallback;
    if (!device->vendor) {
        err << "korval replay: '" << given.input << "' holds no descriptors of device " << device->address
            << "; the camera's own are used\n";
        fallback = {{0x0100, camera::buildDeviceDescriptor()}, {0x0200, camera::buildConfigurationDescriptor({})}};
    }
    auto journal = std::make_shared<host::ReplayJournal>();
    host::ReplayDevice* playing = nullptr;
    std::size_t developed = 0;
    bool reported = false;
    CaptureSource source;
    source.command = "replay";
    source.pacer = std::make_unique<FramePacer>();
    source.device = [&]() -> std::unique_ptr<host::UsbDevice> {
        auto made = std::make_unique<host::ReplayDevice>(std::move(*script), journal, fallback);
        playing = made.get();
        return made;
    };
    source.ended = [&playing] { return playing != nullptr && playing->finished(); };
    source.frameTaken = [&developed](std::uint64_t, bool delivered) { developed += delivered ? 1 : 0; };
    source.summary = [&](const FrameSink& sink, bool) {
        reported = true;
        return report(given, *options, *journal, &sink, developed, out, err);
    };
    const int code = captureFrom(*options, source, out, err);
    if (!reported) {
        report(given, *options, *journal, nullptr, developed, out, err);
    }
    return code;
}

} // namespace

CommandRunner defineReplay(CLI::App& app)
{
    app.description("Plays a USB recording of the camera back through the driver: a trace written by 'korval "
                    "capture --usb-trace FILE.pcap', or a pcap or pcapng file taken with usbmon (link type 220) "
                    "or USBPcap (249). The recording takes the camera's place on the bus: control requests are "
                    "answered by the recorded ones with the same set-up packet, the isochronous video and the "
                    "status reports come in recorded order. The driver develops every recorded frame (or the "
                    "first N) with the stored settings of --machine DIR and each --set, into a Y4M video or PNG "
                    "pictures; with the original's settings they are the original capture's frames. Requests the "
                    "recording cannot answer are named (exit status 5); a recording of another device, or a "
                    "damaged file, is refused (exit status 3).");
    auto given = std::make_shared<ReplayArguments>();
    app.add_option("FILE", given->input, "the recording, FILE.pcap or FILE.pcapng")->required();
    declareDevelopedOutput(app, given->capture);
    app.add_option("-n,--frames", given->frames, "write only the first N frames (default: all)")->option_text("N");
    declareFormatAndSize(app, given->capture);
    declareSetOption(app, given->capture.sets, kSetOnceOpen);
    app.add_option("--raw", given->capture.raw, "also keep the raw frames as they came, for 'korval process'")
        ->option_text("FILE");
    app.add_option("--usb-trace", given->capture.usbTrace, "also write the replay's USB transfers as pcap")
        ->option_text("FILE.pcap");
    declareMachineOptions(app, given->capture.machine, given->capture.noWait,
                          "take the stored settings of this machine directory");
    app.add_flag("-y,--overwrite", given->capture.overwrite, "replace output files that exist already");
    given->capture.quiet = true;
    return [given](std::ostream& out, std::ostream& err) { return replay(*given, out, err); };
}

} // namespace korval::tools
