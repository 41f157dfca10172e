// capture --raw: keeps in a raw frame file each frame the driver took from the
// bus, with the time stamp of the read that took it. The pacer hands over
// every frame completed on the bus (on the bus's thread); the tool says when a
// read took one. Frames the camera marked unusable are left out: the driver
// does nothing with them. So are frames the driver could not develop (bytes
// lost on the bus while no transfer waited glue two frames into one that does
// not decode): a replay would only fail on them again.
#pragma once

#include "tools/korval/raw_frames.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korval::tools {

class RawRecorder {
public:
    bool open(const std::string& path, std::string& error) { return writer_.open(path, error); }
    void frameOnBus(std::vector<std::uint8_t>&& frame);
    // The driver just took the frame, and `developed` it or not; false with
    // `error` when the file fails.
    bool taken(std::int64_t time, bool developed, std::string& error);
    bool finish(std::string& error) { return writer_.finish(error); }

private:
    std::mutex mutex_;
    std::optional<std::vector<std::uint8_t>> last_;
    RawFrameWriter writer_;
};

} // namespace korval::tools
