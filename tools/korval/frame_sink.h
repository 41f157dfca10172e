// Where captured frames go: one Y4M file, or one PNG file per frame.
#pragma once

#include "tools/korval/capture_options.h"
#include "tools/korval/y4m_writer.h"

#include <cstdint>
#include <fstream>
#include <memory>
#include <span>
#include <string>

namespace korval::tools {

class FrameSink {
public:
    // Opens the output; on failure `error` names the file.
    static std::unique_ptr<FrameSink> open(const CaptureOptions& options, std::string& error);

    // Writes one delivered frame (as the driver delivered it); false with `error` on failure.
    bool write(std::span<const std::uint8_t> frame, std::string& error);
    std::string description() const;

private:
    explicit FrameSink(const CaptureOptions& options) : options_(options) {}

    CaptureOptions options_;
    std::ofstream file_;
    std::unique_ptr<Y4mWriter> y4m_;
    int written_ = 0;
};

} // namespace korval::tools
