#include "tools/korval/frame_sink.h"

#include "tools/korval/output_files.h"
#include "tools/korval/png_output.h"

#include <filesystem>

namespace korval::tools {
namespace {

// On standard output the header cannot be rewritten: its rate is measured
// over the first frames, which are held back until then.
constexpr std::size_t kFramesToMeasureOnAPipe = 8;

bool usableFolder(const std::filesystem::path& output, std::string& error)
{
    std::error_code failure;
    if (std::filesystem::is_directory(output, failure)) {
        error = "cannot create output '" + output.string() + "': it is a folder";
        return false;
    }
    const std::filesystem::path folder = output.parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, failure)) {
        error = "cannot create output '" + output.string() + "': no folder '" + folder.string() + "'";
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<FrameSink> FrameSink::open(const CaptureOptions& options, std::ostream& standardOutput,
                                           std::string& error)
{
    std::unique_ptr<FrameSink> sink(new FrameSink(options, standardOutput));
    if (options.output == "-" || options.outputKind == OutputKind::None) {
        return sink;
    }
    if (!usableFolder(options.output, error)) {
        return nullptr;
    }
    if (options.outputKind == OutputKind::PngPattern) {
        return sink;
    }
    sink->temporary_ = temporaryNameFor(options.output);
    sink->file_.open(sink->temporary_, std::ios::binary | std::ios::trunc);
    if (!sink->file_) {
        error = "cannot create output '" + options.output + "' (its temporary file '" + sink->temporary_ +
                "' cannot be written)";
        sink->temporary_.clear();
        return nullptr;
    }
    sink->y4m_ = std::make_unique<Y4mWriter>(sink->file_, options.width, options.height);
    return sink;
}

FrameSink::~FrameSink()
{
    if (!temporary_.empty() && !finished_) {
        discardTemporary(file_, temporary_);
    }
}

bool FrameSink::flushHeld(std::string& error)
{
    if (y4m_) {
        return true;
    }
    y4m_ = std::make_unique<Y4mWriter>(standardOutput_, options_.width, options_.height, rate());
    for (const auto& frame : held_) {
        y4m_->writeFrame(frame);
    }
    held_.clear();
    if (!standardOutput_.flush()) {
        error = "cannot write to standard output";
        return false;
    }
    return true;
}

bool FrameSink::write(std::span<const std::uint8_t> frame, std::int64_t time, std::string& error)
{
    firstTime_ = written_ == 0 ? time : firstTime_;
    lastTime_ = time;
    const std::int64_t index = written_++;
    if (options_.outputKind == OutputKind::None) {
        return true;
    }
    if (options_.output == "-") {
        if (!y4m_) {
            held_.emplace_back(frame.begin(), frame.end());
            return held_.size() < kFramesToMeasureOnAPipe || flushHeld(error);
        }
        if (!y4m_->writeFrame(frame) || !standardOutput_.flush()) {
            error = "cannot write frame " + std::to_string(index) + " to standard output";
            return false;
        }
        return true;
    }
    if (y4m_) {
        if (!y4m_->writeFrame(frame) || !file_.flush()) {
            error = "cannot write frame " + std::to_string(index) + " to '" + temporary_ + "'";
            return false;
        }
        return true;
    }
    const std::vector<std::uint8_t> rgb = options_.i420 ? rgbFromI420(frame, options_.width, options_.height)
                                                        : rgbFromBottomUpBgr(frame, options_.width, options_.height);
    if (rgb.empty()) {
        error = "frame " + std::to_string(index) + " is shorter than a whole picture";
        return false;
    }
    return writeRgbPngFile(framePath(options_.output, static_cast<int>(index)), options_.width, options_.height, rgb,
                           error);
}

bool FrameSink::finish(std::string& error)
{
    if (options_.outputKind == OutputKind::None) {
        return true;
    }
    if (options_.output == "-") {
        return flushHeld(error);
    }
    if (!y4m_) {
        return true;
    }
    if (!y4m_->rewriteRate(rate()) || !file_.flush()) {
        error = "cannot write the header of '" + temporary_ + "'";
        return false;
    }
    file_.close();
    std::error_code failure;
    std::filesystem::rename(temporary_, options_.output, failure);
    if (failure) {
        error = "cannot replace '" + options_.output + "' with '" + temporary_ + "': " + failure.message();
        return false;
    }
    finished_ = true;
    return true;
}

std::string FrameSink::description() const
{
    if (options_.outputKind == OutputKind::None) {
        return "no video file";
    }
    if (options_.output == "-") {
        return "standard output";
    }
    return y4m_ ? options_.output : "PNG files " + framePath(options_.output, 0) + " ...";
}

} // namespace korval::tools
