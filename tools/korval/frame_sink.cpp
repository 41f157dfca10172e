#include "tools/korval/frame_sink.h"

#include "tools/korval/png_output.h"

#include <filesystem>

namespace korval::tools {

std::unique_ptr<FrameSink> FrameSink::open(const CaptureOptions& options, std::string& error)
{
    std::unique_ptr<FrameSink> sink(new FrameSink(options));
    if (options.outputKind == OutputKind::PngPattern) {
        const std::filesystem::path folder = std::filesystem::path(options.output).parent_path();
        if (!folder.empty() && !std::filesystem::is_directory(folder)) {
            error = "no folder '" + folder.string() + "' for the output pattern '" + options.output + "'";
            return nullptr;
        }
        return sink;
    }
    sink->file_.open(options.output, std::ios::binary | std::ios::trunc);
    if (!sink->file_) {
        error = "cannot create output file '" + options.output + "'";
        return nullptr;
    }
    sink->y4m_ = std::make_unique<Y4mWriter>(sink->file_, options.width, options.height);
    return sink;
}

bool FrameSink::write(std::span<const std::uint8_t> frame, std::string& error)
{
    if (y4m_) {
        if (!y4m_->writeFrame(frame) || !file_.flush()) {
            error = "cannot write frame " + std::to_string(written_) + " to '" + options_.output + "'";
            return false;
        }
        ++written_;
        return true;
    }
    const std::vector<std::uint8_t> rgb = options_.i420 ? rgbFromI420(frame, options_.width, options_.height)
                                                        : rgbFromBottomUpBgr(frame, options_.width, options_.height);
    if (rgb.empty()) {
        error = "frame " + std::to_string(written_) + " is shorter than a whole picture";
        return false;
    }
    if (!writeRgbPngFile(framePath(options_.output, written_), options_.width, options_.height, rgb, error)) {
        return false;
    }
    ++written_;
    return true;
}

std::string FrameSink::description() const
{
    return y4m_ ? options_.output : "PNG files " + framePath(options_.output, 0) + " ...";
}

} // namespace korval::tools
