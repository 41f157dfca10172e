// korval formats: every format, frame size and frame interval the driver
// offers, read as a capture application reads them: the stream information's
// format ranges, each turned into a concrete format by a data intersection.
#include "stream/StreamFormats.h"
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/json_writer.h"
#include "tools/korval/machine_session.h"

#include <CLI/CLI.hpp>
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

// 12 MHz over the fastest timing row: clock divider 3, 444 clocks a line, 293 lines.
constexpr double kCameraFastestRate = 12e6 / (3.0 * 444.0 * 293.0);

// The names a Windows capture application shows (its media subtype) and the
// four-character code a V4L2 user knows for the same bytes. The driver's RGB24
// is stored bottom-up, as Windows keeps RGB bitmaps: a V4L2 'BGR3' picture
// upside down.
struct FormatNames {
    const char* windows;
    const char* v4l2;
    const char* layout;
};

FormatNames formatNames(bool i420)
{
    if (i420) {
        return {"I420", "YU12", "planar YUV 4:2:0, full range"};
    }
    return {"RGB24", "BGR3", "BGR, bottom-up"};
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
        const FormatNames names = formatNames(format.i420);
        out << "  [" << index << "]: " << names.windows << " (" << names.layout << "; V4L2 '" << names.v4l2 << "'"
            << (format.i420 ? "" : " upside down") << ")\n"
            << "      Size: " << format.width << "x" << format.height << ", " << format.sampleSize << " bytes\n"
            << "          Interval: " << interval(format.defaultInterval) << " default; from "
            << interval(format.minInterval) << " to " << interval(format.maxInterval) << "\n";
        if (format.intersection.rfind("STATUS_SUCCESS", 0) != 0) {
            out << "          data intersection: " << format.intersection << "\n";
        }
    }
    char fastest[16];
    std::snprintf(fastest, sizeof(fastest), "%.1f", kCameraFastestRate);
    out << "the intervals are those the formats declare; the camera itself delivers at most "
        << fastest << " fps at every size (its fastest timing, at the full USB bandwidth), fewer at a "
        << "smaller bandwidth (alternate-setting), and auto exposure slows it to as few as 3 fps when a dim scene "
        << "needs long exposures; --fps caps the fastest rate it may choose\n";
}

void printJson(const std::vector<OfferedFormat>& formats, std::ostream& out)
{
    JsonWriter json(out);
    json.beginArray();
    for (const OfferedFormat& format : formats) {
        json.beginObject();
        const FormatNames names = formatNames(format.i420);
        json.field("format", names.windows);
        json.field("v4l2_fourcc", names.v4l2);
        json.field("layout", names.layout);
        json.field("width", format.width);
        json.field("height", format.height);
        json.field("sample_size", format.sampleSize);
        json.field("default_interval", static_cast<long>(format.defaultInterval));
        json.field("min_interval", static_cast<long>(format.minInterval));
        json.field("max_interval", static_cast<long>(format.maxInterval));
        json.field("intersection", format.intersection);
        json.field("camera_max_fps", kCameraFastestRate);
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
    declareMachineOptions(app, given->machine, given->noWait, "the machine directory holding registry.reg");
    app.add_flag("--json", given->json, "the list as JSON");
    return [given](std::ostream& out, std::ostream& err) { return listFormats(*given, out, err); };
}

} // namespace korval::tools
