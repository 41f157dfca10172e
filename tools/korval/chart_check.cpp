// korval chart-check: how true the picture is. The virtual camera looks at
// the built-in colour chart under a light of a chosen colour temperature; once
// auto exposure and white balance have settled, the delivered RGB24 frames are
// compared patch by patch with the chart's known colours (CIEDE2000), the grey
// patches' a* and b* show what white balance left, and patches that sit at
// the top or bottom of the range are named.
#include "tools/korval/capture_options.h"
#include "tools/korval/capture_source.h"
#include "tools/korval/chart_check_measure.h"
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/json_writer.h"
#include "tools/korval/png_output.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

namespace korval::tools {
namespace {

constexpr int kMeasuredFrames = 8;

const char* const kPatchNames[kChartPatches] = {
    "dark skin", "light skin", "blue sky",  "foliage",       "blue flower",   "bluish green",
    "orange",    "purplish blue", "moderate red", "purple",  "yellow green",  "orange yellow",
    "blue",      "green",      "red",       "yellow",        "magenta",       "cyan",
    "white",     "neutral 8",  "neutral 6.5", "neutral 5",   "neutral 3.5",   "black",
};

struct ChartArguments {
    CaptureArguments capture;
    std::string settle = "150";
};

// Goal: mean within 5, worst within 10, greys within 3 in a* and b*, nothing
// clipped but the white patch.
bool goalMet(const ChartReport& report)
{
    for (int patch : report.clipped) {
        if (patch != kFirstGreyPatch) {
            return false;
        }
    }
    return report.meanDe00 <= 5.0 && report.worstDe00 <= 10.0 && report.greyAbMax <= 3.0;
}

void printJson(const ChartReport& report, const CaptureOptions& options, std::ostream& out)
{
    JsonWriter json(out);
    json.beginObject();
    json.field("light_kelvin", static_cast<long>(options.lightKelvin));
    json.field("sensor", camera::sensorModelName(options.sensor));
    json.field("mean_de00", report.meanDe00);
    json.field("worst_de00", report.worstDe00);
    json.field("worst_patch", static_cast<long>(report.worstPatch));
    json.field("grey_ab_max", report.greyAbMax);
    json.key("clipped");
    json.beginArray();
    for (int patch : report.clipped) {
        json.value(static_cast<long>(patch));
    }
    json.endArray();
    json.field("goal_met", goalMet(report));
    json.key("patches");
    json.beginArray();
    for (int patch = 0; patch < kChartPatches; ++patch) {
        const PatchReading& reading = report.patches[static_cast<std::size_t>(patch)];
        json.beginObject();
        json.field("patch", static_cast<long>(patch + 1));
        json.field("name", kPatchNames[patch]);
        json.field("red", reading.rgb[0]);
        json.field("green", reading.rgb[1]);
        json.field("blue", reading.rgb[2]);
        json.field("L", reading.lab.L);
        json.field("a", reading.lab.a);
        json.field("b", reading.lab.b);
        json.field("de00", reading.de00);
        json.endObject();
    }
    json.endArray();
    json.endObject();
    out << "\n";
}

void printTable(const ChartReport& report, const CaptureOptions& options, std::ostream& out)
{
    char line[160];
    std::snprintf(line, sizeof(line), "chart under %.0fK light, %s sensor, settled\n", options.lightKelvin,
                  camera::sensorModelName(options.sensor));
    out << line << "patch  name           delivered R G B     L*     a*     b*   dE00\n";
    for (int patch = 0; patch < kChartPatches; ++patch) {
        const PatchReading& r = report.patches[static_cast<std::size_t>(patch)];
        std::snprintf(line, sizeof(line), "%5d  %-13s  %5.1f %5.1f %5.1f  %5.1f  %5.1f  %5.1f  %5.2f%s\n", patch + 1,
                      kPatchNames[patch], r.rgb[0], r.rgb[1], r.rgb[2], r.lab.L, r.lab.a, r.lab.b, r.de00,
                      r.clipped ? "  clipped" : "");
        out << line;
    }
    std::snprintf(line, sizeof(line), "mean dE00 %.2f, worst %.2f (patch %d), grey |a*|,|b*| at most %.2f\n",
                  report.meanDe00, report.worstDe00, report.worstPatch, report.greyAbMax);
    out << line << "clipped:";
    for (int patch : report.clipped) {
        out << " " << patch;
    }
    out << (report.clipped.empty() ? " none" : "") << "\ngoal (mean <= 5, worst <= 10, grey <= 3, only white clipped): "
        << (goalMet(report) ? "met" : "missed") << "\n";
}

int chartCheck(const ChartArguments& given, std::ostream& out, std::ostream& err)
{
    std::string error;
    CaptureArguments arguments = given.capture;
    arguments.format = "rgb24";
    arguments.frames = std::to_string(kMeasuredFrames);
    arguments.skip = given.settle;
    arguments.output = "chart.png"; // checked, then nothing is written
    auto options = checkCaptureOptions(arguments, error);
    if (!options) {
        err << "korval chart-check: " << (error.rfind("--skip", 0) == 0 ? "--settle" + error.substr(6) : error)
            << "\n";
        return kExitUsage;
    }
    options->scene = "chart";
    options->outputKind = OutputKind::None;
    options->output.clear();
    options->quiet = true;
    auto chart = std::make_shared<ChartAccumulator>(options->width, options->height);
    CaptureSource source;
    source.command = "chart-check";
    source.frameKept = [chart, width = options->width, height = options->height](std::span<const std::uint8_t> bgr) {
        chart->add(rgbFromBottomUpBgr(bgr, width, height));
    };
    source.summary = [&, chart](const FrameSink&, bool interrupted) {
        if (interrupted || chart->frames() == 0) {
            err << "korval chart-check: no settled frame was measured\n";
            return static_cast<int>(interrupted ? kExitInterrupted : kExitFailure);
        }
        const ChartReport report = chart->report();
        given.capture.json ? printJson(report, *options, out) : printTable(report, *options, out);
        return static_cast<int>(kExitOk);
    };
    return captureFrom(*options, source, out, err);
}

} // namespace

CommandRunner defineChartCheck(CLI::App& app)
{
    std::string description = "Shows the built-in colour chart to the virtual camera under a light of --light "
                              "KELVIN, lets auto exposure and white balance settle (--settle frames), then compares "
                              "the mean colour of each of the 24 patches in ";
    description.append(std::to_string(kMeasuredFrames))
        .append(" delivered 352x288 RGB24 frames with the patch's known colour: CIEDE2000 per patch, their mean and "
                "worst, the grey patches' a* and b*, and the patches that clip (numbered 1 to 24 row by row, 19 "
                "white to 24 black). Stored settings of --machine and --set take part.");
    app.description(description);
    auto given = std::make_shared<ChartArguments>();
    declareSensorOptions(app, given->capture);
    app.add_option("--settle", given->settle, "frames to let auto exposure and white balance settle (default 150)")
        ->option_text("N");
    declareSetOption(app, given->capture.sets, kSetOnceOpen);
    declareMachineOptions(app, given->capture.machine, given->capture.noWait, kKeepMachine);
    app.add_flag("--json", given->capture.json, "the result as JSON");
    return [given](std::ostream& out, std::ostream& err) { return chartCheck(*given, out, err); };
}

} // namespace korval::tools
