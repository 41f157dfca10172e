// korval formats: every format, frame size and frame interval the driver
// offers, read as a capture application reads them: the stream information's
// format ranges, each turned into a concrete format by a data intersection.
#include "driver/StreamFormats.h"
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/json_writer.h"
#include "tools/korval/machine_session.h"

#include <cstdio>
#include <memory>

namespace korval::tools {
namespace {

struct FormatsArguments {
    std::string machine;
    bool noWait = false;
    bool json = false;
};

struct OfferedFormat {
    bool i420;
    long width, height;
    long sampleSize;           // bytes of one frame, as the intersection answers
    long long defaultInterval; // 100 ns
    long long minInterval, maxInterval;
    std::string intersection;  // the intersection's status
};

std::vector<OfferedFormat> offeredFormats(host::StreamClassDevice& device)
{
    std::vector<OfferedFormat> formats;
    for (const auto& range : device.streamFormats(0)) {
        const auto video = range.as<KS_DATARANGE_VIDEO>();
        const auto& bitmap = video.VideoInfoHeader.bmiHeader;
        OfferedFormat format{bitmap.biCompression == CAPTURE_COMPRESSION_I420, bitmap.biWidth, bitmap.biHeight,
                             static_cast<long>(video.DataRange.SampleSize), video.VideoInfoHeader.AvgTimePerFrame,
                             video.ConfigCaps.MinFrameInterval, video.ConfigCaps.MaxFrameInterval, {}};
        const host::IntersectionResult answer = device.dataIntersection(0, range);
        format.intersection = statusName(answer.status);
        if (answer.status == STATUS_SUCCESS) {
            const auto& chosen = answer.format.as<KS_DATAFORMAT_VIDEOINFOHEADER>();
            format.sampleSize = static_cast<long>(chosen.VideoInfoHeader.bmiHeader.biSizeImage);
            format.defaultInterval = chosen.VideoInfoHeader.AvgTimePerFrame;
        }
        formats.push_back(format);
    }
    return formats;
}

std::string interval(long long ticks)
{
    char text[48];
    std::snprintf(text, sizeof(text), "%.3fs (%.3f fps)", static_cast<double>(ticks) / 1e7, 1e7 / static_cast<double>(ticks));
    return text;
}

void printText(const std::vector<OfferedFormat>& formats, std::ostream& out)
{
    out << "capture pin 0, " << formats.size() << " formats:\n";
    for (std::size_t index = 0; index < formats.size(); ++index) {
        const OfferedFormat& format = formats[index];
        out << "  [" << index << "]: '" << (format.i420 ? "I420" : "RGB3") << "' ("
            << (format.i420 ? "planar YUV 4:2:0, full range" : "24-bit BGR, bottom-up") << ")\n"
            << "      Size: " << format.width << "x" << format.height << ", " << format.sampleSize << " bytes\n"
            << "          Interval: " << interval(format.defaultInterval) << " default; from "
            << interval(format.minInterval) << " to " << interval(format.maxInterval) << "\n";
        if (format.intersection.rfind("STATUS_SUCCESS", 0) != 0) {
            out << "          data intersection: " << format.intersection << "\n";
        }
    }
}

void printJson(const std::vector<OfferedFormat>& formats, std::ostream& out)
{
    JsonWriter json(out);
    json.beginArray();
    for (const OfferedFormat& format : formats) {
        json.beginObject();
        json.field("format", format.i420 ? "I420" : "RGB24");
        json.field("width", format.width);
        json.field("height", format.height);
        json.field("sample_size", format.sampleSize);
        json.field("default_interval", static_cast<long>(format.defaultInterval));
        json.field("min_interval", static_cast<long>(format.minInterval));
        json.field("max_interval", static_cast<long>(format.maxInterval));
        json.field("intersection", format.intersection);
        json.endObject();
    }
    json.endArray();
    out << "\n";
}

int listFormats(const FormatsArguments& given, std::ostream& out, std::ostream& err)
{
    SessionOptions options{given.machine, host::ClockMode::Real, {}};
    options.readOnly = true;
    options.wait = !given.noWait;
    options.messages = &err;
    MachineSession session(options);
    const auto formats = offeredFormats(session.device());
    if (formats.empty()) {
        err << "korval formats: the driver offers no format (see \"A_64\" in the machine's registry)\n";
        return kExitFailure;
    }
    given.json ? printJson(formats, out) : printText(formats, out);
    return kExitOk;
}

} // namespace

CommandRunner defineFormats(CLI::App& app)
{
    app.description("Lists every format, frame size and frame interval the driver offers, as a capture "
                    "application finds them: the stream information's format ranges (chosen by \"A_64\"), each "
                    "turned into a concrete format by a data intersection.");
    auto given = std::make_shared<FormatsArguments>();
    app.add_option("--machine", given->machine, "the machine directory holding registry.reg")->option_text("DIR");
    app.add_flag("--no-wait", given->noWait, "refuse at once when another korval uses the machine directory");
    app.add_flag("--json", given->json, "the list as JSON");
    return [given](std::ostream& out, std::ostream& err) { return listFormats(*given, out, err); };
}

} // namespace korval::tools
