// Where captured frames go: one Y4M file, Y4M on standard output, or one PNG
// file per frame. A Y4M file is written to a temporary file beside it and
// renamed over it only when the capture ends well (or is interrupted cleanly),
// so a failed capture never destroys an earlier file.
#pragma once

#include "tools/korval/capture_options.h"
#include "tools/korval/y4m_writer.h"

#include <cstdint>
#include <fstream>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace korval::tools {

class FrameSink {
public:
    // Opens the output; on failure `error` says which file and why.
    static std::unique_ptr<FrameSink> open(const CaptureOptions& options, std::ostream& standardOutput,
                                           std::string& error);
    ~FrameSink(); // removes the temporary file unless finished

    // Writes one delivered frame (as the driver delivered it) with its
    // presentation time; false with `error` on failure.
    bool write(std::span<const std::uint8_t> frame, std::int64_t time, std::string& error);
    // Puts the measured rate in the header and the file in place.
    bool finish(std::string& error);
    std::string description() const;
    FrameRate rate() const { return measuredRate(written_, firstTime_, lastTime_); }

private:
    FrameSink(const CaptureOptions& options, std::ostream& standardOutput)
        : options_(options), standardOutput_(standardOutput)
    {
    }
    bool flushHeld(std::string& error);

    CaptureOptions options_;
    std::ostream& standardOutput_;
    std::string temporary_;
    std::ofstream file_;
    std::unique_ptr<Y4mWriter> y4m_;
    std::vector<std::vector<std::uint8_t>> held_; // standard output: frames before the rate is known
    std::int64_t written_ = 0;
    std::int64_t firstTime_ = 0;
    std::int64_t lastTime_ = 0;
    bool finished_ = false;
};

} // namespace korval::tools
